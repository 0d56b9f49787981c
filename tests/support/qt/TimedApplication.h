#pragma once
// The application object, timing every event the event loop dispatches on
// the GUI thread while measuring (events sent from inside a handler count
// towards the handler's), for benchmarks of the window's responsiveness.
#include "Application.h"

#include <chrono>
#include <string>

class TimedApplication final : public TApplication {
public:
    using Clock = std::chrono::steady_clock;
    using TApplication::TApplication;

    bool notify(QObject* receiver, QEvent* event) override;

    // Starts afresh; timer events of `tick` count as ticks.
    void Begin(QObject* tick);
    void End() { measuring_ = false; }

    Clock::duration longestEvent{};
    // Its event type and receiver's class and name, as they were before
    // dispatch: a handler may delete its receiver (a single-shot timer does).
    std::string longestEventName;
    Clock::duration longestTick{};
    int ticks = 0;

private:
    bool Dispatch(QObject* receiver, QEvent* event);
    QObject* tick_ = nullptr;
    bool measuring_ = false;
    int depth_ = 0;
};
