#pragma once

namespace vantero {
class TConnection;
}

namespace vantero::bench {

// The large catalogue the refresh benchmarks measure on: 5,000 own items, 30 rival shops, every
// item mapped to an item of each (150,000 mappings), all with a reading.
inline constexpr int kRefreshItems = 5000;
inline constexpr int kRefreshRivals = 30;

// Writes that catalogue into an empty database file, in one transaction.
void FillRefreshCatalogue(const TConnection& con);

} // namespace vantero::bench
