#include "TimedApplication.h"

#include <QEvent>
#include <QString>

#include <algorithm>

bool TimedApplication::notify(QObject* receiver, QEvent* event) {
    if (!measuring_ || depth_ > 0)
        return Dispatch(receiver, event);
    // Nothing of the receiver is touched after dispatch but its address.
    const int type = event == nullptr ? -1 : int(event->type());
    const char* className = receiver == nullptr ? nullptr : receiver->metaObject()->className();
    const QString objectName = receiver == nullptr ? QString() : receiver->objectName();
    const bool tick = receiver == tick_ && type == int(QEvent::Timer);

    const auto start = Clock::now();
    const bool result = Dispatch(receiver, event);
    const Clock::duration spent = Clock::now() - start;
    if (spent > longestEvent) {
        longestEvent = spent;
        longestEventName = type < 0 ? "?" : std::to_string(type);
        if (className != nullptr) {
            longestEventName += std::string(" to ") + className;
            if (!objectName.isEmpty())
                longestEventName += " " + objectName.toStdString();
        }
    }
    if (tick) {
        longestTick = std::max(longestTick, spent);
        ++ticks;
    }
    return result;
}

void TimedApplication::Begin(QObject* tick) {
    tick_ = tick;
    longestEvent = longestTick = {};
    longestEventName.clear();
    ticks = 0;
    measuring_ = true;
}

bool TimedApplication::Dispatch(QObject* receiver, QEvent* event) {
    ++depth_;
    struct Leave {
        int& depth;
        ~Leave() { --depth; }
    } leave{depth_};
    return TApplication::notify(receiver, event);
}
