#pragma once

#include "store/RecordSet.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace vantero {

class TShopClient;

// Messages of adding and deleting rival shops, shared by the dialog and the command-line tool.
namespace RivalTexts {
inline const QString AddressPrompt = QStringLiteral("请输入淘宝店铺的地址，如：");
inline const QString DownloadFailed = QStringLiteral("读取店铺资料失败\r\n");
inline const QString PageFailed = QStringLiteral("读取网页失败，请重试");
inline const QString Added = QStringLiteral("添加对手店铺成功");
inline const QString NoRivals = QStringLiteral("您还未添加对手");
inline const QString AskDelete = QStringLiteral("您确定您要删除 %1 和他所有的宝贝吗?");
inline const QString ConfirmDelete = QStringLiteral("点击确定将删除 %1 和他所有的宝贝，继续吗？");
inline const QString Count = QStringLiteral("共有 %1 个对手");
inline const QString ShopKind = QStringLiteral("淘宝");
inline const QString DecodeShort = QStringLiteral("Error decoding URL style (%XX) encoded string at position %1");
inline const QString DecodeInvalid = QStringLiteral("Invalid URL encoded character (%1) at position %2");
} // namespace RivalTexts

inline const QString kSelectRivalShops = QStringLiteral("select * from Rival");

// "共有 n 个对手".
QString RivalCountText(int count);
// The address prompt with the sample shop address.
QString ShopAddressPrompt();
// Whether the address names a shop on the marketplace or the mall (ASCII letter case ignored).
bool IsShopAddress(const QString& address);

// Percent-decoding of an account name taken from a link: "+" is a blank, "%%" one "%", "%" and two
// hexadecimal digits the byte of that value; everything else is kept. A "%" without two following
// characters, or followed by two that are not both hexadecimal digits, fails; error then holds the
// message with the 1-based position of that "%". The message shows the bad sequence decoded in
// encoding (the page's).
bool PercentDecode(QByteArrayView text, QByteArray* decoded, QString* error, const QByteArray& encoding = "GBK");

// The character encoding of a page: the charset of its Content-Type answer header, else that of its
// <meta> tag, else GBK; a declaration the bytes do not fit gives way to the encoding they are in.
QByteArray PageEncoding(QByteArrayView page, QByteArrayView contentType = {});
// Bytes of a page in the given encoding as text (GBK when the encoding is unknown).
QString DecodePageText(QByteArrayView bytes, const QByteArray& encoding);

struct TShopPageReading {
    enum class Outcome { Read, NoOwnerId, DecodeFailed };
    Outcome outcome = Outcome::NoOwnerId;
    QString account;  // the shop owner's account, possibly empty, not trimmed
    QString shopName; // possibly empty, not trimmed
    QString failure;  // the message to show when not Read
};

// Takes the owner's account and the shop's name out of a shop page as downloaded (line breaks and
// tabs are removed first). The account comes from the rating link, else the shop-information block,
// else the message link, and is percent-decoded when it holds a "%".
TShopPageReading ReadShopPage(QByteArrayView page, QByteArrayView contentType = {});

struct TAddRivalResult {
    enum class Outcome { Stored, BadAddress, DownloadFailed, PageFailed, DecodeFailed };
    Outcome outcome = Outcome::BadAddress;
    QString message; // the text to show the user (the success text when stored)
    QString account;
    QString shopName;
    QString shopURL;
};

// Adds a rival shop from the address the user typed: address check, download with http (redirects
// followed for this request only), page reading, and a new row appended to rivals, which must be
// open on the Rival table; the new row becomes its current row. A row the database refuses raises
// TDatabaseError and leaves rivals without a half-added row.
TAddRivalResult AddRival(TShopClient& http, TRecordSet& rivals, const QString& typedAddress);

// Deletes the rival of the current row of rivals: first every RivalItems row of its account
// (blanks around it removed; letter case ignored) through mappings, then the Rival row itself.
// Returns the account.
QString DeleteRival(TRecordSet& mappings, TRecordSet& rivals);

} // namespace vantero
