#pragma once

#include <QString>

#include <vector>

namespace vantero::bench {

// The middle value (the upper one of an even count); values must not be empty.
double Median(std::vector<double> values);

// The machine's load average over 1, 5 and 15 minutes, as /proc/loadavg gives it, or "?".
QString LoadAverage();

} // namespace vantero::bench
