#include "history/SheetExport.h"

#include "common/StoreTexts.h"
#include "store/DatabaseError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <unistd.h>
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

// Every row of the sheet, from its source or its list.
void ForEachRow(const TSheet& sheet, const std::function<void(const QList<TSheetCell>&)>& row) {
    if (sheet.rowSource) {
        sheet.rowSource(row);
        return;
    }
    for (const QList<TSheetCell>& cells : sheet.rows)
        row(cells);
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
        // Asked for once per cell: the key is a number, not a text.
        const quint32 formatCode = !numberFormat                        ? 0
                                   : qstrcmp(numberFormat, "0.00") == 0 ? 1
                                   : qstrcmp(numberFormat, "0") == 0    ? 2
                                                                        : 3;
        Q_ASSERT(formatCode < 3);
        const quint32 key = quint32(style.bold) | quint32(style.font) << 1 | quint32(style.background) << 9 |
                            formatCode << 17 | quint32(header) << 19;
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
    QHash<quint32, lxw_format*> m_formats;
};

QByteArray CellText(const QString& text) {
    return text.left(kMaxCellText).toUtf8();
}

// The workbook library prints English lines of its own to the error output when it cannot
// write; the user reads our reason instead, so they go nowhere while it writes.
lxw_error CloseQuietly(lxw_workbook* workbook) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved >= 0 && null >= 0)
        ::dup2(null, STDERR_FILENO);
    if (null >= 0)
        ::close(null);
    const lxw_error error = workbook_close(workbook);
    const int closeErrno = errno;
    std::fflush(stderr);
    if (saved >= 0) {
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
    }
    errno = closeErrno;
    return error;
}

QString WriteXlsx(const TSheet& sheet, const QString& path, qint64& rowsWritten) {
    const QByteArray fileName = QFile::encodeName(path);
    // Each row goes to disk once the next begins: the rows are written in order, and the memory
    // stays that of one row whatever the sheet's length.
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    lxw_workbook* workbook = workbook_new_opt(fileName.constData(), &options);
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

    ForEachRow(sheet, [&](const QList<TSheetCell>& cells) {
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
        ++rowsWritten;
    });
    const lxw_error error = CloseQuietly(workbook);
    return error == LXW_NO_ERROR ? QString() : QString::fromUtf8(lxw_strerror(error));
}

// A file being written beside the target, locked for as long as this export writes it.
class TPart {
public:
    explicit TPart(const QString& pattern) : m_pattern(QFile::encodeName(pattern)) {}
    ~TPart() {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_kept && !m_path.isEmpty())
            ::unlink(QFile::encodeName(m_path).constData());
    }
    TPart(const TPart&) = delete;
    TPart& operator=(const TPart&) = delete;

    bool open() {
        QByteArray name = m_pattern;
        m_fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (m_fd < 0)
            return false;
        m_path = QFile::decodeName(name);
        ::flock(m_fd, LOCK_EX | LOCK_NB);
        return true;
    }
    QString path() const { return m_path; }
    bool writeAll(const QByteArray& bytes) {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }
    // What another writer (the workbook library, by name) wrote is on the disk.
    bool sync() {
        const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        const bool ok = ::fsync(fd) == 0;
        ::close(fd);
        return ok;
    }
    void remove() {
        ::unlink(QFile::encodeName(m_path).constData());
        m_path.clear();
    }
    void kept() { m_kept = true; }

private:
    QByteArray m_pattern;
    QString m_path;
    int m_fd = -1;
    bool m_kept = false;
};

// Parts an export left when it was killed: our hidden name pattern, and no writer holds the
// lock any more.
void RemoveStaleParts(const QString& folder) {
    static const QRegularExpression ours(QStringLiteral("^\\..+\\.(csv|xlsx)\\.[A-Za-z0-9]{6}$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QDir dir(folder);
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        if (!ours.match(name).hasMatch())
            continue;
        const QByteArray file = QFile::encodeName(dir.filePath(name));
        const int fd = ::open(file.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(file.constData());
        ::close(fd);
    }
}

// Why the file at path could not be written: the problem first, the technical text after.
QString WriteProblem(const QString& path, int error, const QString& detail = {}) {
    const QString folder = QFileInfo(path).absolutePath();
    const QString technical = !detail.isEmpty() ? detail
                              : error != 0      ? QString::fromLocal8Bit(std::strerror(error))
                                                : QString();
    QString sentence;
    if (error == ENOENT && !QFileInfo(folder).isDir())
        sentence = StoreTexts::ExportNoFolder.arg(QDir::toNativeSeparators(folder));
    else if (error == ENOSPC || error == EDQUOT || DiskIsFull(folder))
        sentence = StoreTexts::ExportDiskFull;
    else if (error == EACCES || error == EPERM || error == EROFS ||
             ::access(QFile::encodeName(folder).constData(), W_OK) != 0)
        sentence = StoreTexts::ExportReadOnly.arg(QDir::toNativeSeparators(folder));
    else
        sentence = StoreTexts::ExportFailed.arg(QDir::toNativeSeparators(path));
    return technical.isEmpty() ? sentence : StoreTexts::WithDetail.arg(sentence, technical);
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

namespace {

// The CSV text in pieces: flush gets each piece once it has grown past a few hundred kilobytes,
// and the last one at the end; false from flush ends the writing.
qint64 WriteCsv(const TSheet& sheet, const std::function<bool(const QByteArray&)>& flush) {
    constexpr qsizetype kPiece = 256 * 1024;
    QByteArray out("\xEF\xBB\xBF");
    if (!sheet.bands.isEmpty())
        AppendCsvLine(out, TextCells(BandLine(sheet)));
    AppendCsvLine(out, TextCells(sheet.columns));
    qint64 rows = 0;
    bool ok = true;
    ForEachRow(sheet, [&](const QList<TSheetCell>& row) {
        if (!ok)
            return;
        AppendCsvLine(out, row);
        ++rows;
        if (out.size() >= kPiece) {
            ok = flush(out);
            out.clear();
        }
    });
    if (ok && !out.isEmpty())
        flush(out);
    return rows;
}

} // namespace

QByteArray CsvBytes(const TSheet& sheet) {
    QByteArray all;
    WriteCsv(sheet, [&all](const QByteArray& piece) {
        all += piece;
        return true;
    });
    return all;
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

QString WriteSheetFile(const TSheet& sheet, const QString& path, TExportFormat format, qint64* rowsWritten) {
    const QFileInfo target(path);
    const QString folder = target.absolutePath();
    RemoveStaleParts(folder);
    // Written beside the target under a hidden name and renamed over it once complete: the
    // target is always whole, the old one or the new one. The part is locked while written,
    // so a later export can tell a part that lost its writer from one being written.
    TPart part(QDir(folder).filePath(QStringLiteral(".%1.XXXXXX").arg(target.fileName())));
    if (!part.open())
        return WriteProblem(path, errno);
    QString problem;
    int error = 0;
    qint64 rows = 0;
    if (format == TExportFormat::Csv) {
        rows = WriteCsv(sheet, [&](const QByteArray& piece) {
            if (part.writeAll(piece))
                return true;
            error = errno;
            return false;
        });
    } else {
        problem = WriteXlsx(sheet, part.path(), rows);
        if (!problem.isEmpty())
            error = errno;
    }
    if (problem.isEmpty() && error == 0 && !part.sync())
        error = errno;
    if (!problem.isEmpty() || error != 0) {
        part.remove();
        return WriteProblem(path, error, problem);
    }
    QFile::setPermissions(part.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                           QFileDevice::ReadOther);
    if (::rename(QFile::encodeName(part.path()).constData(), QFile::encodeName(path).constData()) != 0) {
        const int renameError = errno;
        part.remove();
        return WriteProblem(path, renameError);
    }
    part.kept();
    if (rowsWritten)
        *rowsWritten = rows;
    return {};
}

} // namespace vantero
