#include "cli/Output.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace vantero::cli {

void WriteCsvLine(QTextStream& out, const QStringList& fields) {
    QStringList quoted;
    quoted.reserve(fields.size());
    for (const QString& field : fields) {
        if (field.contains(u',') || field.contains(u'"') || field.contains(u'\n') || field.contains(u'\r')) {
            QString escaped = field;
            escaped.replace(QStringLiteral("\""), QStringLiteral("\"\""));
            quoted << QLatin1Char('"') + escaped + QLatin1Char('"');
        } else {
            quoted << field;
        }
    }
    out << quoted.join(u',') << "\r\n";
}

QJsonArray ToJsonArray(const QStringList& fields) {
    QJsonArray array;
    for (const QString& field : fields)
        array.append(field);
    return array;
}

void WriteJson(QTextStream& out, const QJsonValue& value) {
    const QJsonDocument document = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    out << QString::fromUtf8(document.toJson(QJsonDocument::Indented));
}

void WriteTable(QTextStream& out, const QStringList& header, const QList<QStringList>& rows, bool json) {
    if (!json) {
        WriteCsvLine(out, header);
        for (const QStringList& row : rows)
            WriteCsvLine(out, row);
        return;
    }
    QJsonArray array;
    for (const QStringList& row : rows) {
        QJsonObject object;
        for (int i = 0; i < header.size(); ++i)
            object.insert(header[i], row.value(i));
        array.append(object);
    }
    WriteJson(out, array);
}

} // namespace vantero::cli
