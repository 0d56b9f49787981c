#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kobito {

// Event mask bits and line error flags, valued as the Windows API values them
// so that the Win32 back end passes them through unchanged.
namespace comm_event {
inline constexpr uint32_t RxChar = 0x0001;
inline constexpr uint32_t RxFlag = 0x0002;
inline constexpr uint32_t TxEmpty = 0x0004;
inline constexpr uint32_t Cts = 0x0008;
inline constexpr uint32_t Dsr = 0x0010;
inline constexpr uint32_t Rlsd = 0x0020;
inline constexpr uint32_t Break = 0x0040;
inline constexpr uint32_t Err = 0x0080;
inline constexpr uint32_t Ring = 0x0100;
inline constexpr uint32_t PErr = 0x0200;
inline constexpr uint32_t Rx80Full = 0x0400;
inline constexpr uint32_t Event1 = 0x0800;
inline constexpr uint32_t Event2 = 0x1000;
} // namespace comm_event

namespace line_error {
inline constexpr uint32_t RxOver = 0x0001;
inline constexpr uint32_t Overrun = 0x0002;
inline constexpr uint32_t RxParity = 0x0004;
inline constexpr uint32_t Frame = 0x0008;
inline constexpr uint32_t Break = 0x0010;
inline constexpr uint32_t IoError = 0x0400; // also: the device went away
} // namespace line_error

// What Open writes to the line. Enumerations as the component's properties
// number them (index into their lists).
struct LineSettings {
    uint32_t baudrate = 1200;
    int dataBits = 8; // 4..8
    int parity = 0;   // none, odd, even, mark, space
    int stopBits = 0; // 1, 1.5, 2
    bool outCtsFlow = false;
    bool outDsrFlow = false;
    int controlDtr = 0; // disabled, enabled, handshake
    int controlRts = 0; // disabled, enabled, handshake, toggle
    bool xonXoffOut = false;
    bool xonXoffIn = false;
    bool dsrSensitivity = false;
    bool txContinueOnXoff = false;
    bool parityCheck = false;
    bool errorChar = false;
    bool nullStrip = false;
    char xonChar = 17;
    char xoffChar = 19;
    char errorCharValue = 0;
    char eofChar = 0;
    char eventChar = 0;
    uint16_t xonLimit = 1024;
    uint16_t xoffLimit = 1024;
};

// One open port on one platform. Every call that fails throws EVaCommError
// with the component's message for that step. Threads: WaitEvent belongs to
// the event thread, Write to the write thread; StopWait and CancelWrite may
// come from any thread and stay in force until Close; the rest is called
// under the component's global lock.
class SerialBackend {
public:
    enum class WriteResult { Done, Refused, Cancelled };

    static std::unique_ptr<SerialBackend> Create();
    virtual ~SerialBackend() = default;

    virtual void Open(const std::string& path) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    virtual void ApplySettings(const LineSettings& settings) = 0; // "Error writing dcb"
    virtual void SetupQueues(uint32_t readSize, uint32_t writeSize) = 0;
    virtual void SetTimeouts() = 0;
    virtual void SetEventMask(uint32_t mask) = 0;

    // Blocks until line events arrive; 0 when woken by StopWait (or when
    // there is nothing to report after all).
    virtual uint32_t WaitEvent() = 0;
    virtual void StopWait() = 0;

    virtual std::size_t BytesWaiting() = 0; // "Error retrieving statistics"; 0 once gone
    virtual uint32_t TakeErrors() = 0;      // read and clear the line error flags
    virtual std::string Read(std::size_t count, int timeoutMs) = 0; // "Read error"

    // Blocks until some bytes went out, the port refused them or CancelWrite.
    virtual WriteResult Write(const char* data, std::size_t size, std::size_t& written) = 0;
    virtual void CancelWrite() = 0;

    // The device has vanished (unplugged, its terminal closed): nothing more
    // can go out until the port is opened again. Any thread.
    virtual bool Gone() const { return false; }
};

// Device path for a formatted device name ("\\.\COM3" on Windows).
std::string PlatformDevicePath(const std::string& name);

// Best effort; the calling thread's own priority. Index as TVaThreadPriority.
void SetCurrentThreadPriority(int priority);

} // namespace kobito
