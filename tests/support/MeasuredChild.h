#pragma once

#include <QStringList>

#include <functional>

namespace vantero {

// What a finished child process cost.
struct TChildCost {
    double seconds = 0;    // wall time from the fork to its end
    double cpuSeconds = 0; // user and system time
    double peakMb = 0;     // peak resident memory
    int exitCode = -1;     // -1 when it did not exit normally
};

// Runs argv (looked up on PATH) as a child process and waits for it. prepare runs in the child
// between fork and exec (redirections, namespaces, the working folder); when it returns false
// the child ends with exit code 90 before running anything.
TChildCost RunMeasuredChild(const QStringList& argv, const std::function<bool()>& prepare = {});

} // namespace vantero
