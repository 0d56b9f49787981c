#include "EventLoop.h"

#include <QEventLoop>
#include <QTimer>

namespace kobito::test {

bool RunEventLoopUntil(const std::function<bool()>& predicate, int timeoutMs, int checkMs) {
    if (predicate())
        return true;
    QEventLoop loop;
    QTimer check;
    check.setInterval(checkMs);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (predicate())
            loop.quit();
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    check.start();
    deadline.start(timeoutMs);
    loop.exec();
    return predicate();
}

} // namespace kobito::test
