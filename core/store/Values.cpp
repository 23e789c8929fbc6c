#include "store/Values.h"

namespace vantero {

QString ValueAsString(const QVariant& value) {
    if (value.isNull())
        return QStringLiteral("");
    switch (value.typeId()) {
    case QMetaType::Double:
        return QString::number(value.toDouble(), 'g', 15);
    case QMetaType::QByteArray:
        return QString::fromUtf8(value.toByteArray());
    default:
        return value.toString();
    }
}

double ValueAsFloat(const QVariant& value) {
    if (value.isNull())
        return 0;
    bool ok = false;
    const double d =
        value.typeId() == QMetaType::QString ? value.toString().trimmed().toDouble(&ok) : value.toDouble(&ok);
    return ok ? d : 0;
}

qint64 ValueAsInteger(const QVariant& value) {
    if (value.isNull())
        return 0;
    if (value.typeId() == QMetaType::Double)
        return qint64(value.toDouble());
    bool ok = false;
    const qint64 n = value.toLongLong(&ok);
    if (ok)
        return n;
    const double d = ValueAsString(value).trimmed().toDouble(&ok);
    return ok ? qint64(d) : 0;
}

} // namespace vantero
