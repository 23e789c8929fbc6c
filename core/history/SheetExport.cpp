#include "history/SheetExport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QTemporaryFile>

#include <xlsxwriter.h>

namespace vantero {

namespace {

// The longest text one cell of a workbook holds.
constexpr qsizetype kMaxCellText = 32767;

QString CsvField(const TSheetCell& cell) {
    const QVariant& value = cell.value;
    if (value.isNull())
        return {};
    if (value.typeId() == QMetaType::Double)
        return FormatPrice(value.toDouble());
    if (value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Int)
        return QString::number(value.toLongLong());
    QString text = value.toString();
    if (!text.isEmpty() && (text[0] == u'=' || text[0] == u'+' || text[0] == u'-' || text[0] == u'@' ||
                            text[0] == u'\t' || text[0] == u'\r'))
        text.prepend(u'\'');
    if (text.contains(u',') || text.contains(u'"') || text.contains(u'\n') || text.contains(u'\r'))
        text = u'"' + text.replace(QStringLiteral("\""), QStringLiteral("\"\"")) + u'"';
    return text;
}

void AppendCsvLine(QByteArray& out, const QList<TSheetCell>& cells) {
    QStringList fields;
    fields.reserve(cells.size());
    for (const TSheetCell& cell : cells)
        fields << CsvField(cell);
    out += fields.join(u',').toUtf8();
    out += "\r\n";
}

QList<TSheetCell> TextCells(const QStringList& texts) {
    QList<TSheetCell> cells;
    for (const QString& text : texts)
        cells.append({text, {}});
    return cells;
}

QStringList BandLine(const TSheet& sheet) {
    QStringList line(sheet.columns.size());
    for (const TSheetBand& band : sheet.bands) {
        if (band.firstColumn >= 0 && band.firstColumn < line.size())
            line[band.firstColumn] = band.caption;
    }
    return line;
}

// The formats of one workbook, made once per distinct look.
class TFormats {
public:
    explicit TFormats(lxw_workbook* workbook) : m_workbook(workbook) {}

    lxw_format* Get(const TCellStyle& style, const char* numberFormat, bool header = false) {
        const QString key = QStringLiteral("%1|%2|%3|%4|%5")
                                .arg(int(style.bold))
                                .arg(int(style.font))
                                .arg(int(style.background))
                                .arg(QLatin1String(numberFormat ? numberFormat : ""))
                                .arg(int(header));
        auto it = m_formats.find(key);
        if (it != m_formats.end())
            return *it;
        lxw_format* format = workbook_add_format(m_workbook);
        if (style.bold || header)
            format_set_bold(format);
        if (style.font != TCellColor::Unchanged)
            format_set_font_color(format, SheetColor(style.font));
        if (style.background != TCellColor::Unchanged)
            format_set_bg_color(format, SheetColor(style.background));
        if (numberFormat)
            format_set_num_format(format, numberFormat);
        if (header) {
            format_set_align(format, LXW_ALIGN_CENTER);
            format_set_align(format, LXW_ALIGN_VERTICAL_CENTER);
            format_set_border(format, LXW_BORDER_THIN);
        }
        m_formats.insert(key, format);
        return format;
    }

private:
    lxw_workbook* m_workbook;
    QHash<QString, lxw_format*> m_formats;
};

QByteArray CellText(const QString& text) {
    return text.left(kMaxCellText).toUtf8();
}

QString WriteXlsx(const TSheet& sheet, const QString& path) {
    const QByteArray fileName = QFile::encodeName(path);
    lxw_workbook* workbook = workbook_new(fileName.constData());
    if (!workbook)
        return QStringLiteral("无法创建工作簿");
    const QByteArray sheetName = sheet.name.left(31).toUtf8();
    lxw_worksheet* worksheet = workbook_add_worksheet(workbook, sheetName.isEmpty() ? nullptr : sheetName.constData());
    if (!worksheet)
        worksheet = workbook_add_worksheet(workbook, nullptr);
    TFormats formats(workbook);
    lxw_format* header = formats.Get({}, nullptr, true);

    lxw_row_t row = 0;
    if (!sheet.bands.isEmpty()) {
        for (const TSheetBand& band : sheet.bands) {
            const QByteArray caption = CellText(band.caption);
            const lxw_col_t first = lxw_col_t(band.firstColumn);
            const lxw_col_t last = lxw_col_t(band.firstColumn + std::max(band.columnCount, 1) - 1);
            if (last > first)
                worksheet_merge_range(worksheet, row, first, row, last, caption.constData(), header);
            else
                worksheet_write_string(worksheet, row, first, caption.constData(), header);
        }
        ++row;
    }
    for (int column = 0; column < sheet.columns.size(); ++column)
        worksheet_write_string(worksheet, row, lxw_col_t(column), CellText(sheet.columns[column]).constData(), header);
    ++row;
    worksheet_freeze_panes(worksheet, row, 0);
    // Printed, a sheet is as wide as the page; a wide one lies on its side.
    worksheet_fit_to_pages(worksheet, 1, 0);
    if (sheet.columns.size() > 6)
        worksheet_set_landscape(worksheet);
    worksheet_repeat_rows(worksheet, 0, row - 1);
    for (int column = 0; column < sheet.widths.size() && column < sheet.columns.size(); ++column) {
        if (sheet.widths[column] > 0)
            worksheet_set_column(worksheet, lxw_col_t(column), lxw_col_t(column), sheet.widths[column], nullptr);
    }

    for (const QList<TSheetCell>& cells : sheet.rows) {
        for (int column = 0; column < cells.size(); ++column) {
            const TSheetCell& cell = cells[column];
            const lxw_col_t col = lxw_col_t(column);
            const int type = cell.value.typeId();
            if (cell.value.isNull()) {
                worksheet_write_blank(worksheet, row, col, formats.Get(cell.style, nullptr));
            } else if (type == QMetaType::Double) {
                worksheet_write_number(worksheet, row, col, cell.value.toDouble(), formats.Get(cell.style, "0.00"));
            } else if (type == QMetaType::LongLong || type == QMetaType::Int) {
                worksheet_write_number(worksheet, row, col, double(cell.value.toLongLong()),
                                       formats.Get(cell.style, "0"));
            } else {
                worksheet_write_string(worksheet, row, col, CellText(cell.value.toString()).constData(),
                                       formats.Get(cell.style, nullptr));
            }
        }
        ++row;
    }
    const lxw_error error = workbook_close(workbook);
    return error == LXW_NO_ERROR ? QString() : QString::fromUtf8(lxw_strerror(error));
}

} // namespace

std::optional<TExportFormat> ExportFormatOf(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("csv"))
        return TExportFormat::Csv;
    if (suffix == QLatin1String("xlsx"))
        return TExportFormat::Xlsx;
    return std::nullopt;
}

QByteArray CsvBytes(const TSheet& sheet) {
    QByteArray out("\xEF\xBB\xBF");
    if (!sheet.bands.isEmpty())
        AppendCsvLine(out, TextCells(BandLine(sheet)));
    AppendCsvLine(out, TextCells(sheet.columns));
    for (const QList<TSheetCell>& row : sheet.rows)
        AppendCsvLine(out, row);
    return out;
}

quint32 SheetColor(TCellColor color) {
    // The system colours take the values a default desktop theme gives them.
    switch (color) {
    case TCellColor::ButtonFace:
        return 0xEFEFEF;
    case TCellColor::InfoBackground:
        return 0xFFFFDC;
    case TCellColor::InactiveCaptionText:
        return 0xDEE8F8;
    case TCellColor::Green:
        return 0x008000;
    case TCellColor::Blue:
        return 0x0000FF;
    case TCellColor::Purple:
        return 0x800080;
    case TCellColor::Red:
        return 0xFF0000;
    case TCellColor::MoneyGreen:
        return 0xC0DCC0;
    case TCellColor::Unchanged:
        break;
    }
    return 0x000000;
}

QString WriteSheetFile(const TSheet& sheet, const QString& path, TExportFormat format) {
    if (format == TExportFormat::Csv) {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return ExportTexts::CannotWrite.arg(QDir::toNativeSeparators(path), file.errorString());
        file.write(CsvBytes(sheet));
        if (!file.commit())
            return ExportTexts::CannotWrite.arg(QDir::toNativeSeparators(path), file.errorString());
        return {};
    }
    // The workbook goes to a file beside the target, which replaces the target once complete.
    const QFileInfo target(path);
    QTemporaryFile part(target.absoluteDir().filePath(QStringLiteral(".%1.XXXXXX").arg(target.fileName())));
    if (!part.open())
        return ExportTexts::CannotWrite.arg(QDir::toNativeSeparators(path), part.errorString());
    part.close();
    const QString problem = WriteXlsx(sheet, part.fileName());
    if (!problem.isEmpty())
        return ExportTexts::CannotWrite.arg(QDir::toNativeSeparators(path), problem);
    QFile::setPermissions(part.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                               QFileDevice::ReadOther);
    QFile::remove(path);
    if (!QFile::rename(part.fileName(), path))
        return ExportTexts::CannotWrite.arg(QDir::toNativeSeparators(path), QStringLiteral("无法替换原有文件"));
    part.setAutoRemove(false);
    return {};
}

} // namespace vantero
