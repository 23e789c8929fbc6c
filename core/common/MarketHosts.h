#pragma once

// Host names of the marketplace, in one place: the shop address check, the shop page markers,
// the sample address in the address prompt and the reader's browser retry all read them here.
namespace vantero {

// Shop-domain suffixes, with their leading dot.
inline constexpr char MARKET_DOMAIN[] = ".taobao.com";
inline constexpr char MALL_DOMAIN[] = ".tmall.com";
// Host of the marketplace's rating pages.
inline constexpr char RATE_HOST[] = "rate.taobao.com";
// Shown as an example of a shop address: "http://", a shop host on MARKET_DOMAIN, "/".
inline constexpr char SAMPLE_SHOP_URL[] = "http://shop12345678.taobao.com/";

} // namespace vantero
