#pragma once
#include <functional>
#include <string>

namespace kobito {

// How the serial component reaches the GUI thread. The window implements it;
// tests bring their own.
class TVaEventDispatcher {
public:
    virtual ~TVaEventDispatcher() = default;
    // Any thread, never blocks: run fn once, later, on the GUI thread. A call
    // may find its event already delivered by Close and then does nothing.
    virtual void Post(std::function<void()> fn) = 0;
    // GUI thread: the application's general exception display.
    virtual void ShowException(const std::string& message) = 0;
};

} // namespace kobito
