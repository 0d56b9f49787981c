#pragma once
// Bench-only: reports the moment a window's first frame has been painted, the
// process's resident memory and the processor time it has used by then, on
// standard output as one line
//   first-frame <steady clock ns> <VmRSS kB> <VmHWM kB> <user+system us>
// and ends the event loop.
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QWidget>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>

namespace kobito::bench {

inline long StatusKb(const char* field) {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kb = -1;
    const std::size_t n = std::strlen(field);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, n) == 0 && line[n] == ':')
            kb = std::strtol(line + n + 1, nullptr, 10);
    std::fclose(f);
    return kb;
}

class FirstFrame : public QObject {
public:
    explicit FirstFrame(QWidget* window) : QObject(window) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            // Queued: runs once this paint and the flush that follows it are done.
            QMetaObject::invokeMethod(this, &FirstFrame::Report, Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void Report() {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const long long cpuUs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL +
                                usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
        std::printf("first-frame %lld %ld %ld %lld\n", static_cast<long long>(ns),
                    StatusKb("VmRSS"), StatusKb("VmHWM"), cpuUs);
        std::fflush(stdout);
        QCoreApplication::quit();
    }
    bool seen_ = false;
};

} // namespace kobito::bench
