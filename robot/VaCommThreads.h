#pragma once
#include "VaComm.h"

#include <atomic>
#include <thread>

namespace kobito {

// A worker of the serial component: runs Execute once on its own thread at
// the given priority.
class TVaCommThread {
public:
    explicit TVaCommThread(TVaCustomComm& comm) : comm_(comm) {}
    virtual ~TVaCommThread();
    TVaCommThread(const TVaCommThread&) = delete;
    TVaCommThread& operator=(const TVaCommThread&) = delete;

    // onExit runs on the thread as its very last action.
    void Start(TVaThreadPriority priority, std::function<void()> onExit);
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    void WaitFor();

protected:
    virtual void Execute() = 0;
    TVaCustomComm& comm_;

private:
    std::atomic<bool> terminated_{false};
    std::thread thread_;
};

// Waits for line events and hands each one over.
class TVaCommEventThread : public TVaCommThread {
public:
    using TVaCommThread::TVaCommThread;

protected:
    void Execute() override;
};

// Drains the write queue.
class TVaCommWriteThread : public TVaCommThread {
public:
    using TVaCommThread::TVaCommThread;

protected:
    void Execute() override;
};

} // namespace kobito
