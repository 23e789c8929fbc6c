#include "support/MeasuredChild.h"

#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace vantero {

TChildCost RunMeasuredChild(const QStringList& argv, const std::function<bool()>& prepare) {
    // Encoded before the fork: the child only calls exec.
    std::vector<QByteArray> bytes;
    for (const QString& arg : argv)
        bytes.push_back(QFile::encodeName(arg));
    std::vector<char*> pointers;
    for (QByteArray& arg : bytes)
        pointers.push_back(arg.data());
    pointers.push_back(nullptr);

    TChildCost cost;
    QElapsedTimer clock;
    clock.start();
    const pid_t child = fork();
    if (child == 0) {
        if (prepare && !prepare())
            _exit(90);
        execvp(pointers[0], pointers.data());
        _exit(92);
    }
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    cost.seconds = double(clock.nsecsElapsed()) / 1e9;
    cost.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    cost.peakMb = double(usage.ru_maxrss) / 1024.0;
    cost.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return cost;
}

} // namespace vantero
