#include "support/BenchFigures.h"

#include <QFile>

#include <algorithm>

namespace vantero::bench {

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QString LoadAverage() {
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(u' ', 0, 2);
}

} // namespace vantero::bench
