#include "VaComm.h"

#include "SerialBackend.h"
#include "SimulatedPort.h"
#include "VaCommThreads.h"

#include <chrono>
#include <cstdio>
#include <iterator>
#include <thread>

namespace kobito {

namespace {

constexpr char kPortIsOpen[] = "Can't perform this operation while port is open";

uint32_t EventMask(TVaCommEvents events) {
    static constexpr struct {
        TVaCommEvent event;
        uint32_t bit;
    } table[] = {
        {ceBreak, comm_event::Break},       {ceCts, comm_event::Cts},
        {ceDsr, comm_event::Dsr},           {ceError, comm_event::Err},
        {ceRing, comm_event::Ring},         {ceRlsd, comm_event::Rlsd},
        {ceRxChar, comm_event::RxChar},     {ceTxEmpty, comm_event::TxEmpty},
        {ceRxFlag, comm_event::RxFlag},     {cePErr, comm_event::PErr},
        {ceRx80Full, comm_event::Rx80Full}, {ceEvent1, comm_event::Event1},
        {ceEvent2, comm_event::Event2},
    };
    uint32_t mask = 0;
    for (const auto& e : table)
        if (events.Contains(e.event))
            mask |= e.bit;
    return mask;
}

} // namespace

uint32_t BaudrateValue(TVaBaudrate rate) {
    static constexpr uint32_t values[] = {0,     110,    300,    600,   1200,  2400,
                                          4800,  9600,   14400,  19200, 38400, 56000,
                                          57600, 115200, 128000, 256000};
    const auto i = static_cast<std::size_t>(rate);
    return i < std::size(values) ? values[i] : 0;
}

std::string FormatDeviceName(const std::string& name, int portNum) {
    std::string out;
    bool done = false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '%' || i + 1 >= name.size()) {
            out += name[i];
            continue;
        }
        if (name[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        const bool zero = name[j] == '0';
        if (zero)
            ++j;
        int width = 0;
        while (j < name.size() && name[j] >= '0' && name[j] <= '9' && width < 100)
            width = width * 10 + (name[j++] - '0');
        if (!done && j < name.size() && name[j] == 'd') {
            char buf[128];
            std::snprintf(buf, sizeof buf, zero ? "%0*d" : "%*d", width, portNum);
            out += buf;
            done = true;
            i = j;
            continue;
        }
        out += name[i];
    }
    return out;
}

// ---------------------------------------------------------------------------
// Hand-over to the GUI thread. The slot outlives the component for calls
// that the dispatcher still holds.

struct TVaCustomComm::HandOverSlot {
    std::mutex lock;
    std::condition_variable changed;
    std::function<void()> pending; // an event waiting for the GUI thread
    uint64_t issued = 0;           // tickets: handed over, taken, done
    uint64_t started = 0;
    uint64_t finished = 0;
    bool stopping = false;
    int runningThreads = 0;
};

void TVaCustomComm::RunPending(HandOverSlot& slot) {
    std::unique_lock lock(slot.lock);
    if (!slot.pending)
        return;
    auto job = std::move(slot.pending);
    slot.pending = nullptr;
    const uint64_t ticket = slot.issued;
    slot.started = ticket;
    slot.changed.notify_all();
    lock.unlock();

    struct Done {
        HandOverSlot& slot;
        uint64_t ticket;
        ~Done() {
            std::lock_guard g(slot.lock);
            slot.finished = ticket;
            slot.changed.notify_all();
        }
    } done{slot, ticket};
    job();
}

void TVaCustomComm::HandOver(uint32_t mask) {
    const uint64_t generation = generation_;
    if (guiDispatcher_ == nullptr) {
        Dispatch(mask, generation, false);
        return;
    }
    const auto slot = slot_;
    std::unique_lock lock(slot->lock);
    // One event at a time: the other worker may be handing one over.
    slot->changed.wait(lock, [&] { return slot->stopping || slot->issued == slot->finished; });
    if (slot->stopping)
        return;
    const uint64_t ticket = ++slot->issued;
    slot->pending = [this, mask, generation] { Dispatch(mask, generation, true); };
    lock.unlock();

    std::weak_ptr<HandOverSlot> weak = slot;
    guiDispatcher_->Post([weak] {
        if (auto s = weak.lock())
            RunPending(*s);
    });

    lock.lock();
    // Wait until the handler has returned. A close that has taken the event
    // delivers it itself and may be waiting for this thread to end.
    slot->changed.wait(lock, [&] {
        return slot->finished >= ticket || (slot->stopping && slot->started >= ticket);
    });
}

void TVaCustomComm::Guarded(const std::function<void()>& handler, bool onGuiThread) {
    std::string message;
    try {
        handler();
        return;
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
        message = "Unknown exception";
    }
    TVaEventDispatcher* d = openDispatcher_;
    if (d == nullptr)
        return; // nobody to tell, and a worker must not die of it
    if (onGuiThread)
        d->ShowException(message);
    else
        d->Post([d, message] { d->ShowException(message); });
}

void TVaCustomComm::Dispatch(uint32_t mask, uint64_t generation, bool onGuiThread) {
    // A handler may have closed (or closed and reopened) the port.
    auto stillOpen = [&] { return generation_ == generation && Active(); };
    if ((mask & comm_event::RxChar) != 0 && stillOpen()) {
        Guarded(
            [&] {
                std::size_t count;
                {
                    std::lock_guard g(globalLock_);
                    count = backend_->BytesWaiting();
                }
                if (count > 0 && OnRxChar)
                    OnRxChar(this, static_cast<int>(count));
            },
            onGuiThread);
    }
    if ((mask & comm_event::Err) != 0 && stillOpen()) {
        Guarded(
            [&] {
                uint32_t flags;
                {
                    std::lock_guard g(globalLock_);
                    // The back end first: if it throws, the pending flag stays.
                    flags = backend_->TakeErrors();
                    flags |= pendingErrors_.exchange(0);
                }
                // A port that went away is reported once, not on every write.
                if ((flags & line_error::IoError) != 0 && ioErrorShown_.exchange(true))
                    flags &= ~line_error::IoError;
                if (flags != 0 && OnError)
                    OnError(this, static_cast<int>(flags));
            },
            onGuiThread);
    }
}

void TVaCustomComm::WriteRefused(bool fromWorker) {
    pendingErrors_ |= line_error::IoError;
    if (fromWorker)
        HandOver(comm_event::Err);
    else
        Dispatch(comm_event::Err, generation_, true);
}

// ---------------------------------------------------------------------------

void TVaPersistent::Changed() {
    owner_.PropertiesChanged();
}

TVaCustomComm::TVaCustomComm(TVaEventDispatcher* dispatcher)
    : dispatcher_(dispatcher), slot_(std::make_shared<HandOverSlot>()) {}

TVaCustomComm::~TVaCustomComm() {
    BeginDestroy();
    try {
        Close();
    } catch (...) {
        // Destruction goes on regardless.
    }
}

void TVaCustomComm::Loaded() {
    TVaComponent::Loaded();
    if (autoOpen_)
        Open();
}

bool TVaCustomComm::Active() const {
    return backend_ != nullptr && backend_->IsOpen();
}

std::string TVaCustomComm::DevicePath() const {
    return PlatformDevicePath(FormatDeviceName(deviceName_, portNum_));
}

const std::shared_ptr<sim::SimBoard>& TVaCustomComm::Simulator() {
    if (!simulator_)
        simulator_ = std::make_shared<sim::SimBoard>();
    return simulator_;
}

void TVaCustomComm::SetDeviceName(const std::string& name) {
    if (Active())
        throw EVaCommError(kPortIsOpen);
    deviceName_ = name;
}

void TVaCustomComm::SetBaudrate(TVaBaudrate rate) {
    baudrate_ = rate;
    PropertiesChanged();
}

void TVaCustomComm::SetUserBaudrate(int rate) {
    userBaudrate_ = rate;
    if (baudrate_ == brUser)
        PropertiesChanged();
}

void TVaCustomComm::SetDatabits(TVaDatabits v) {
    databits_ = v;
    PropertiesChanged();
}

void TVaCustomComm::SetParity(TVaParity v) {
    parity_ = v;
    PropertiesChanged();
}

void TVaCustomComm::SetStopbits(TVaStopbits v) {
    stopbits_ = v;
    PropertiesChanged();
}

void TVaCustomComm::SetOptions(TVaCommOptions v) {
    options_ = v;
    PropertiesChanged();
}

void TVaCustomComm::PropertiesChanged() {
    if (Active() && updateDCB_)
        ApplyLineSettings();
}

void TVaCustomComm::ApplyLineSettings() {
    LineSettings s;
    s.baudrate =
        baudrate_ == brUser ? static_cast<uint32_t>(userBaudrate_) : BaudrateValue(baudrate_);
    s.dataBits = 4 + static_cast<int>(databits_);
    s.parity = parity_;
    s.stopBits = stopbits_;
    s.outCtsFlow = flowControl_.OutCtsFlow();
    s.outDsrFlow = flowControl_.OutDsrFlow();
    s.controlDtr = flowControl_.ControlDtr();
    s.controlRts = flowControl_.ControlRts();
    s.xonXoffOut = flowControl_.XonXoffOut();
    s.xonXoffIn = flowControl_.XonXoffIn();
    s.dsrSensitivity = flowControl_.DsrSensitivity();
    s.txContinueOnXoff = flowControl_.TxContinueOnXoff();
    s.parityCheck = options_.Contains(coParityCheck);
    s.errorChar = options_.Contains(coErrorChar);
    s.nullStrip = options_.Contains(coNullStrip);
    s.xonChar = eventChars_.XonChar();
    s.xoffChar = eventChars_.XoffChar();
    s.errorCharValue = eventChars_.ErrorChar();
    s.eofChar = eventChars_.EofChar();
    s.eventChar = eventChars_.EventChar();
    s.xonLimit = static_cast<uint16_t>(buffers_.XonLimit());
    s.xoffLimit = static_cast<uint16_t>(buffers_.XoffLimit());
    std::lock_guard g(globalLock_);
    backend_->ApplySettings(s);
}

void TVaCustomComm::Open() {
    if (Active())
        throw EVaCommError(kPortIsOpen);
    auto backend = FormatDeviceName(deviceName_, portNum_) == kSimulatorDeviceName
                       ? CreateSimulatedBackend(Simulator())
                       : SerialBackend::Create();
    backend->Open(DevicePath());
    backend_ = std::move(backend);
    ++generation_;
    openDispatcher_ = dispatcher_;
    guiDispatcher_ = syncThreads_ ? dispatcher_ : nullptr;
    pendingErrors_ = 0;
    ioErrorShown_ = false;
    try {
        ApplyLineSettings();
        backend_->SetupQueues(static_cast<uint32_t>(buffers_.ReadSize()),
                              static_cast<uint32_t>(buffers_.WriteSize()));
        backend_->SetTimeouts();
        // The write thread takes care of the transmit-empty event.
        const uint32_t mask = EventMask(monitorEvents_) & ~comm_event::TxEmpty;
        backend_->SetEventMask(mask);

        {
            std::lock_guard g(slot_->lock);
            slot_->stopping = false;
        }
        auto threadEnded = [slot = slot_] {
            std::lock_guard g(slot->lock);
            --slot->runningThreads;
            slot->changed.notify_all();
        };
        if (mask != 0) {
            eventThread_ = std::make_unique<TVaCommEventThread>(*this);
            {
                std::lock_guard g(slot_->lock);
                ++slot_->runningThreads;
            }
            try {
                eventThread_->Start(eventPriority_, threadEnded);
            } catch (...) {
                threadEnded();
                eventThread_.reset();
                throw;
            }
        }
        if (!directWrite_) {
            {
                std::lock_guard g(writeLock_);
                writeQueue_.Allocate(static_cast<std::size_t>(buffers_.WriteSize()));
                writeSignal_ = false;
                closeSignal_ = false;
            }
            writeThread_ = std::make_unique<TVaCommWriteThread>(*this);
            {
                std::lock_guard g(slot_->lock);
                ++slot_->runningThreads;
            }
            try {
                writeThread_->Start(writePriority_, threadEnded);
            } catch (...) {
                threadEnded();
                writeThread_.reset();
                throw;
            }
        }
    } catch (...) {
        StopThreads();
        backend_->Close();
        backend_.reset();
        throw;
    }

    if (OnOpen) {
        if (openDispatcher_ == nullptr)
            OnOpen(this); // no exception display: the caller gets it
        else
            Guarded([this] { OnOpen(this); }, true);
    }
}

void TVaCustomComm::StopThreads() {
    const auto slot = slot_;
    {
        std::lock_guard g(slot->lock);
        slot->stopping = true;
        slot->changed.notify_all();
    }
    if (eventThread_) {
        eventThread_->Terminate();
        backend_->StopWait();
    }
    if (writeThread_) {
        {
            std::lock_guard g(writeLock_);
            closeSignal_ = true;
        }
        writeSignalled_.notify_all();
        roomMade_.notify_all();
        backend_->CancelWrite();
    }
    // While the threads end, deliver any event one of them is handing over,
    // or it would wait for us while we wait for it.
    {
        std::unique_lock lock(slot->lock);
        for (;;) {
            slot->changed.wait(lock, [&] { return slot->runningThreads == 0 || slot->pending; });
            if (!slot->pending)
                break;
            lock.unlock();
            RunPending(*slot);
            lock.lock();
        }
    }
    // A handler run above may have closed the port already.
    if (eventThread_) {
        eventThread_->WaitFor();
        eventThread_.reset();
    }
    if (writeThread_) {
        writeThread_->WaitFor();
        writeThread_.reset();
    }
}

void TVaCustomComm::Close() {
    if (!Active())
        return;
    StopThreads();
    if (!backend_)
        return; // closed by a handler while the threads stopped
    {
        std::lock_guard g(globalLock_);
        backend_->Close();
        backend_.reset();
    }
    {
        std::lock_guard g(writeLock_);
        writeQueue_.Release(); // unsent bytes are dropped
    }
    if (!Destroying() && OnClose)
        OnClose(this);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

int TVaCustomComm::WriteText(const std::string& text) {
    if (!Active())
        return 0;
    if (directWrite_) {
        std::lock_guard g(writeLock_);
        std::size_t done = 0;
        while (done < text.size()) {
            std::size_t written = 0;
            if (backend_->Write(text.data() + done, text.size() - done, written) !=
                SerialBackend::WriteResult::Done) {
                WriteRefused(false);
                break;
            }
            done += written;
        }
        return static_cast<int>(done);
    }

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(buffers_.WriteTimeout());
    std::unique_lock lock(writeLock_);
    if (writeQueue_.Room() < text.size()) {
        // A write thread that gave up after a refusal tries again.
        writeSignal_ = true;
        writeSignalled_.notify_all();
        while (writeQueue_.Room() < text.size()) {
            if (roomMade_.wait_until(lock, deadline) == std::cv_status::timeout &&
                writeQueue_.Room() < text.size())
                throw EVaCommError(kOutputBufferFull);
        }
    }
    writeQueue_.Append(text.data(), text.size());
    if (text.empty())
        return 0;
    writeSignal_ = true;
    lock.unlock(); // the woken write thread must not find the lock taken
    writeSignalled_.notify_all();
    return static_cast<int>(text.size());
}

bool TVaCustomComm::CanWriteAtOnce(std::size_t size) {
    if (!Active() || directWrite_)
        return true;
    std::lock_guard g(writeLock_);
    return writeQueue_.Room() >= size;
}

bool TVaCustomComm::DeviceGone() const {
    return Active() && backend_->Gone();
}

std::string TVaCustomComm::ReadText() {
    if (!Active())
        return {};
    std::lock_guard g(globalLock_);
    const std::size_t n = backend_->BytesWaiting();
    if (n == 0)
        return {};
    return backend_->Read(n, buffers_.ReadTimeout());
}

// ---------------------------------------------------------------------------

TVaCommThread::~TVaCommThread() {
    if (thread_.joinable())
        thread_.join();
}

void TVaCommThread::Start(TVaThreadPriority priority, std::function<void()> onExit) {
    thread_ = std::thread([this, priority, onExit = std::move(onExit)] {
        SetCurrentThreadPriority(priority);
        try {
            Execute();
        } catch (...) {
            // A worker that fails stops; Close still finds it ended.
        }
        onExit();
    });
}

void TVaCommThread::WaitFor() {
    if (thread_.joinable())
        thread_.join();
}

void TVaCommEventThread::Execute() {
    while (!Terminated()) {
        const uint32_t mask = comm_.backend_->WaitEvent();
        if (Terminated())
            break;
        if (mask != 0)
            comm_.HandOver(mask);
    }
}

void TVaCommWriteThread::Execute() {
    auto& c = comm_;
    for (;;) {
        const char* data;
        std::size_t size;
        {
            std::unique_lock lock(c.writeLock_);
            // Close takes precedence over write.
            c.writeSignalled_.wait(lock, [&] { return c.closeSignal_ || c.writeSignal_; });
            if (c.closeSignal_)
                return;
            data = c.writeQueue_.Data();
            size = c.writeQueue_.Count();
            if (size == 0) {
                c.writeSignal_ = false;
                continue;
            }
        }
        // Only this thread removes bytes, so [data, data + size) stays put
        // while WriteText appends behind it.
        std::size_t written = 0;
        const auto result = c.backend_->Write(data, size, written);
        if (result == SerialBackend::WriteResult::Cancelled)
            return;
        if (result == SerialBackend::WriteResult::Refused) {
            {
                // The bytes stay queued; the next WriteText tries again.
                std::lock_guard g(c.writeLock_);
                c.writeSignal_ = false;
            }
            c.WriteRefused(true);
            continue;
        }
        c.ioErrorShown_ = false;
        {
            std::lock_guard g(c.writeLock_);
            c.writeQueue_.Remove(written);
            if (c.writeQueue_.Count() == 0)
                c.writeSignal_ = false;
        }
        c.roomMade_.notify_all();
    }
}

} // namespace kobito
