#pragma once
#include "VaCommBuffer.h"
#include "VaEventDispatcher.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

namespace kobito {

enum TVaBaudrate {
    brUser,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TVaDatabits { db4, db5, db6, db7, db8 };
enum TVaParity { paNone, paOdd, paEven, paMark, paSpace };
enum TVaStopbits { sb1, sb15, sb2 };
enum TVaControlDtr { dtrDisabled, dtrEnabled, dtrHandshake };
enum TVaControlRts { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };
enum TVaCommEvent {
    ceBreak,
    ceCts,
    ceDsr,
    ceError,
    ceRing,
    ceRlsd,
    ceRxChar,
    ceTxEmpty,
    ceRxFlag,
    cePErr,
    ceRx80Full,
    ceEvent1,
    ceEvent2
};
enum TVaCommOption { coErrorChar, coNullStrip, coParityCheck };
enum TVaThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Bits per second of a rate; 0 for brUser.
uint32_t BaudrateValue(TVaBaudrate rate);

// A set of enumeration values.
template <typename E> class TVaSet {
public:
    constexpr TVaSet() = default;
    constexpr TVaSet(std::initializer_list<E> values) {
        for (E v : values)
            bits_ |= Bit(v);
    }
    constexpr bool Contains(E v) const { return (bits_ & Bit(v)) != 0; }
    constexpr void Include(E v) { bits_ |= Bit(v); }
    constexpr void Exclude(E v) { bits_ &= ~Bit(v); }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr bool operator==(const TVaSet&) const = default;

private:
    static constexpr uint32_t Bit(E v) { return uint32_t{1} << static_cast<unsigned>(v); }
    uint32_t bits_ = 0;
};
using TVaCommEvents = TVaSet<TVaCommEvent>;
using TVaCommOptions = TVaSet<TVaCommOption>;

// What a write that found no room in the queue within the write timeout raises.
inline constexpr char kOutputBufferFull[] = "Output buffer is full. Please check comm status.";

// Every failure of the component.
class EVaCommError : public std::runtime_error {
public:
    explicit EVaCommError(const std::string& message, int errorCode = 0)
        : std::runtime_error(message), errorCode_(errorCode) {}
    // The operating system's error code, 0 when none applies.
    int ErrorCode() const { return errorCode_; }

private:
    int errorCode_;
};

class TVaCustomComm;
class TVaComponent;
class SerialBackend;
namespace sim {
class SimBoard;
}
class TVaCommEventThread;
class TVaCommWriteThread;

// Property groups tell their component when a value really changes.
class TVaPersistent {
public:
    TVaPersistent(const TVaPersistent&) = delete;
    TVaPersistent& operator=(const TVaPersistent&) = delete;

protected:
    explicit TVaPersistent(TVaCustomComm& owner) : owner_(owner) {}
    ~TVaPersistent() = default;
    template <typename T> void Assign(T& field, T value) {
        if (field != value) {
            field = value;
            Changed();
        }
    }
    void Changed();

private:
    TVaCustomComm& owner_;
};

class TVaBuffers : public TVaPersistent {
public:
    explicit TVaBuffers(TVaCustomComm& owner) : TVaPersistent(owner) {}
    int ReadSize() const { return readSize_; }
    int WriteSize() const { return writeSize_; }
    int ReadTimeout() const { return readTimeout_; }
    int WriteTimeout() const { return writeTimeout_; }
    int XonLimit() const { return xonLimit_; }
    int XoffLimit() const { return xoffLimit_; }
    // Queue sizes take effect at the next Open.
    void SetReadSize(int v) { Assign(readSize_, v); }
    void SetWriteSize(int v) { Assign(writeSize_, v); }
    void SetReadTimeout(int v) { Assign(readTimeout_, v); }
    void SetWriteTimeout(int v) { Assign(writeTimeout_, v); }
    void SetXonLimit(int v) { Assign(xonLimit_, v); }
    void SetXoffLimit(int v) { Assign(xoffLimit_, v); }

private:
    int readSize_ = 4096;
    int writeSize_ = 2048;
    int readTimeout_ = 1000;
    int writeTimeout_ = 1000;
    int xonLimit_ = 1024;
    int xoffLimit_ = 1024;
};

class TVaFlowControl : public TVaPersistent {
public:
    explicit TVaFlowControl(TVaCustomComm& owner) : TVaPersistent(owner) {}
    bool OutCtsFlow() const { return outCtsFlow_; }
    bool OutDsrFlow() const { return outDsrFlow_; }
    TVaControlDtr ControlDtr() const { return controlDtr_; }
    TVaControlRts ControlRts() const { return controlRts_; }
    bool XonXoffOut() const { return xonXoffOut_; }
    bool XonXoffIn() const { return xonXoffIn_; }
    bool DsrSensitivity() const { return dsrSensitivity_; }
    bool TxContinueOnXoff() const { return txContinueOnXoff_; }
    void SetOutCtsFlow(bool v) { Assign(outCtsFlow_, v); }
    void SetOutDsrFlow(bool v) { Assign(outDsrFlow_, v); }
    void SetControlDtr(TVaControlDtr v) { Assign(controlDtr_, v); }
    void SetControlRts(TVaControlRts v) { Assign(controlRts_, v); }
    void SetXonXoffOut(bool v) { Assign(xonXoffOut_, v); }
    void SetXonXoffIn(bool v) { Assign(xonXoffIn_, v); }
    void SetDsrSensitivity(bool v) { Assign(dsrSensitivity_, v); }
    void SetTxContinueOnXoff(bool v) { Assign(txContinueOnXoff_, v); }

private:
    bool outCtsFlow_ = false;
    bool outDsrFlow_ = false;
    TVaControlDtr controlDtr_ = dtrDisabled;
    TVaControlRts controlRts_ = rtsDisabled;
    bool xonXoffOut_ = false;
    bool xonXoffIn_ = false;
    bool dsrSensitivity_ = false;
    bool txContinueOnXoff_ = false;
};

class TVaEventChars : public TVaPersistent {
public:
    explicit TVaEventChars(TVaCustomComm& owner) : TVaPersistent(owner) {}
    char XonChar() const { return xonChar_; }
    char XoffChar() const { return xoffChar_; }
    char ErrorChar() const { return errorChar_; }
    char EventChar() const { return eventChar_; }
    char EofChar() const { return eofChar_; }
    void SetXonChar(char v) { Assign(xonChar_, v); }
    void SetXoffChar(char v) { Assign(xoffChar_, v); }
    void SetErrorChar(char v) { Assign(errorChar_, v); }
    void SetEventChar(char v) { Assign(eventChar_, v); }
    void SetEofChar(char v) { Assign(eofChar_, v); }

private:
    char xonChar_ = 17;
    char xoffChar_ = 19;
    char errorChar_ = 0;
    char eventChar_ = 0;
    char eofChar_ = 0;
};

// The thin base every component derives from.
class TVaComponent {
public:
    explicit TVaComponent(std::string name = {}) : name_(std::move(name)) {}
    virtual ~TVaComponent() = default;
    TVaComponent(const TVaComponent&) = delete;
    TVaComponent& operator=(const TVaComponent&) = delete;

    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }
    bool Destroying() const { return destroying_; }
    // The owner calls this once it has set the properties.
    virtual void Loaded() {}

protected:
    void BeginDestroy() { destroying_ = true; }

private:
    std::string name_;
    bool destroying_ = false;
};

using TVaNotifyEvent = std::function<void(TVaComponent* Sender)>;
using TVaRxCharEvent = std::function<void(TVaComponent* Sender, int Count)>;
using TVaErrorEvent = std::function<void(TVaComponent* Sender, int Errors)>;

// All behaviour of the serial component. Open, Close, WriteText and ReadText
// belong to the GUI thread; events are delivered there through the
// dispatcher (or on the worker threads without one).
class TVaCustomComm : public TVaComponent {
public:
    explicit TVaCustomComm(TVaEventDispatcher* dispatcher = nullptr);
    ~TVaCustomComm() override;

    void Open();
    void Close();
    bool Active() const;
    // Bytes queued; 0 on a closed port.
    int WriteText(const std::string& text);
    std::string ReadText();
    // Whether WriteText would queue size bytes without waiting for room.
    bool CanWriteAtOnce(std::size_t size);
    // The open port's device has vanished; it stays so until the next Open.
    bool DeviceGone() const;

    // Used from the next Open on.
    void SetDispatcher(TVaEventDispatcher* dispatcher) { dispatcher_ = dispatcher; }
    TVaEventDispatcher* Dispatcher() const { return dispatcher_; }

    // The board behind the device "KOBITO Simulator", the same one for the
    // component's whole life, so the simulated robot keeps its pose.
    const std::shared_ptr<sim::SimBoard>& Simulator();

    void Loaded() override;

protected:
    const std::string& DeviceName() const { return deviceName_; }
    void SetDeviceName(const std::string& name);
    int PortNum() const { return portNum_; }
    void SetPortNum(int n) { portNum_ = n; }
    // DeviceName formatted with PortNum, with the platform's prefix.
    std::string DevicePath() const;

    TVaBaudrate Baudrate() const { return baudrate_; }
    void SetBaudrate(TVaBaudrate rate);
    int UserBaudrate() const { return userBaudrate_; }
    void SetUserBaudrate(int rate);
    TVaDatabits Databits() const { return databits_; }
    void SetDatabits(TVaDatabits v);
    TVaParity Parity() const { return parity_; }
    void SetParity(TVaParity v);
    TVaStopbits Stopbits() const { return stopbits_; }
    void SetStopbits(TVaStopbits v);

    TVaFlowControl& FlowControl() { return flowControl_; }
    const TVaFlowControl& FlowControl() const { return flowControl_; }
    TVaEventChars& EventChars() { return eventChars_; }
    const TVaEventChars& EventChars() const { return eventChars_; }
    TVaBuffers& Buffers() { return buffers_; }
    const TVaBuffers& Buffers() const { return buffers_; }

    TVaCommEvents MonitorEvents() const { return monitorEvents_; }
    void SetMonitorEvents(TVaCommEvents v) { monitorEvents_ = v; }
    TVaCommOptions Options() const { return options_; }
    void SetOptions(TVaCommOptions v);
    TVaThreadPriority EventPriority() const { return eventPriority_; }
    void SetEventPriority(TVaThreadPriority v) { eventPriority_ = v; }
    TVaThreadPriority WritePriority() const { return writePriority_; }
    void SetWritePriority(TVaThreadPriority v) { writePriority_ = v; }
    bool DirectWrite() const { return directWrite_; }
    void SetDirectWrite(bool v) { directWrite_ = v; }
    bool UpdateDCB() const { return updateDCB_; }
    void SetUpdateDCB(bool v) { updateDCB_ = v; }
    bool SyncThreads() const { return syncThreads_; }
    void SetSyncThreads(bool v) { syncThreads_ = v; }
    bool AutoOpen() const { return autoOpen_; }
    void SetAutoOpen(bool v) { autoOpen_ = v; }

    TVaNotifyEvent OnOpen;
    TVaNotifyEvent OnClose;
    TVaRxCharEvent OnRxChar;
    TVaErrorEvent OnError;

private:
    friend class TVaPersistent;
    friend class TVaCommEventThread;
    friend class TVaCommWriteThread;
    struct HandOverSlot;

    void PropertiesChanged();
    void ApplyLineSettings();
    void StopThreads();
    void HandOver(uint32_t mask);
    void Dispatch(uint32_t mask, uint64_t generation, bool onGuiThread);
    void Guarded(const std::function<void()>& handler, bool onGuiThread);
    void WriteRefused(bool fromWorker);
    static void RunPending(HandOverSlot& slot);

    std::string deviceName_ = "COM%d";
    int portNum_ = 0;
    TVaBaudrate baudrate_ = br1200;
    int userBaudrate_ = 1200;
    TVaDatabits databits_ = db8;
    TVaParity parity_ = paNone;
    TVaStopbits stopbits_ = sb1;
    TVaFlowControl flowControl_{*this};
    TVaEventChars eventChars_{*this};
    TVaBuffers buffers_{*this};
    TVaCommEvents monitorEvents_{ceError, ceRxChar, ceTxEmpty};
    TVaCommOptions options_;
    TVaThreadPriority eventPriority_ = tpNormal;
    TVaThreadPriority writePriority_ = tpHighest;
    bool directWrite_ = false;
    bool updateDCB_ = true;
    bool syncThreads_ = true;
    bool autoOpen_ = false;
    TVaEventDispatcher* dispatcher_ = nullptr;

    // Fixed while the port is open.
    std::unique_ptr<SerialBackend> backend_;
    TVaEventDispatcher* openDispatcher_ = nullptr;
    TVaEventDispatcher* guiDispatcher_ = nullptr; // null: events run on the workers
    std::unique_ptr<TVaCommEventThread> eventThread_;
    std::unique_ptr<TVaCommWriteThread> writeThread_;
    std::atomic<uint64_t> generation_{0};
    std::shared_ptr<sim::SimBoard> simulator_;

    // Global lock: reads, status queries, line settings.
    std::recursive_mutex globalLock_;

    // Write lock and the write thread's signals.
    std::mutex writeLock_;
    std::condition_variable writeSignalled_;
    std::condition_variable roomMade_;
    TVaCommBuffer writeQueue_;
    bool writeSignal_ = false;
    bool closeSignal_ = false;

    std::shared_ptr<HandOverSlot> slot_;
    std::atomic<uint32_t> pendingErrors_{0};
    std::atomic<bool> ioErrorShown_{false};
};

// Publishes the properties.
class TVaComm : public TVaCustomComm {
public:
    using TVaCustomComm::TVaCustomComm;

    using TVaCustomComm::DeviceName;
    using TVaCustomComm::DevicePath;
    using TVaCustomComm::PortNum;
    using TVaCustomComm::SetDeviceName;
    using TVaCustomComm::SetPortNum;

    using TVaCustomComm::Baudrate;
    using TVaCustomComm::Databits;
    using TVaCustomComm::Parity;
    using TVaCustomComm::SetBaudrate;
    using TVaCustomComm::SetDatabits;
    using TVaCustomComm::SetParity;
    using TVaCustomComm::SetStopbits;
    using TVaCustomComm::SetUserBaudrate;
    using TVaCustomComm::Stopbits;
    using TVaCustomComm::UserBaudrate;

    using TVaCustomComm::Buffers;
    using TVaCustomComm::EventChars;
    using TVaCustomComm::FlowControl;

    using TVaCustomComm::AutoOpen;
    using TVaCustomComm::DirectWrite;
    using TVaCustomComm::EventPriority;
    using TVaCustomComm::MonitorEvents;
    using TVaCustomComm::Options;
    using TVaCustomComm::SetAutoOpen;
    using TVaCustomComm::SetDirectWrite;
    using TVaCustomComm::SetEventPriority;
    using TVaCustomComm::SetMonitorEvents;
    using TVaCustomComm::SetOptions;
    using TVaCustomComm::SetSyncThreads;
    using TVaCustomComm::SetUpdateDCB;
    using TVaCustomComm::SetWritePriority;
    using TVaCustomComm::SyncThreads;
    using TVaCustomComm::UpdateDCB;
    using TVaCustomComm::WritePriority;

    using TVaCustomComm::OnClose;
    using TVaCustomComm::OnError;
    using TVaCustomComm::OnOpen;
    using TVaCustomComm::OnRxChar;
};

// "%d" (with optional zero flag and width) in name replaced by portNum; "%%"
// gives "%"; anything else is kept as it is.
std::string FormatDeviceName(const std::string& name, int portNum);

} // namespace kobito
