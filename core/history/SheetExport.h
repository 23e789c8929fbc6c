#pragma once

#include "catalogue/GridData.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <optional>

namespace vantero {

// One cell of an exported sheet. The value is a text (QString), a price (double, written with
// two decimals), a whole number (qint64), or null for an empty cell.
struct TSheetCell {
    QVariant value;
    TCellStyle style;
};

// A caption over several columns, written as one merged cell above the column captions.
struct TSheetBand {
    QString caption;
    int firstColumn = 0;
    int columnCount = 1;
};

// A table to export: optional band captions, column captions and rows.
struct TSheet {
    QString name; // the worksheet's name
    QList<TSheetBand> bands;
    QStringList columns;
    QList<double> widths; // per column, in characters; missing ones keep the default
    QList<QList<TSheetCell>> rows;
    // When set, the rows instead: made while the file is written and handed one by one to the
    // function it is given, in order, so a large table is never held whole.
    std::function<void(const std::function<void(const QList<TSheetCell>&)>&)> rowSource;
};

enum class TExportFormat { Csv, Xlsx };

// The format a file name asks for by its suffix (.csv, .xlsx), or nothing.
std::optional<TExportFormat> ExportFormatOf(const QString& path);

// The sheet as CSV: UTF-8 with a byte-order mark (so spreadsheet programs read Chinese right),
// CRLF line ends, the band captions in a line of their own at each band's first column. A text
// that a spreadsheet would take for a formula (=, +, -, @ first) is written with a leading
// apostrophe, so a page title cannot run as a formula.
QByteArray CsvBytes(const TSheet& sheet);

// The RGB value a colour of the grid's rules has in an exported sheet.
quint32 SheetColor(TCellColor color);

// Writes the sheet to path, replacing the file only once it is complete. Returns an empty text,
// or the reason the file could not be written; rowsWritten, when given, gets the number of rows.
// Rows go to the file as they come, so the memory it takes does not grow with the sheet.
QString WriteSheetFile(const TSheet& sheet, const QString& path, TExportFormat format, qint64* rowsWritten = nullptr);

namespace ExportTexts {
inline const QString CannotWrite = QStringLiteral("无法写入文件 %1：%2");
} // namespace ExportTexts

} // namespace vantero
