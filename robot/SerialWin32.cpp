// Serial back end over the Win32 communications API, overlapped throughout.
// It also runs under Wine, which differs in a few places (noted below).
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "SerialBackend.h"
#include "VaComm.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>

namespace kobito {

namespace {

std::string Utf8(const wchar_t* text, int length) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& text) {
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string ErrorText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (n > 0 && buffer != nullptr)
        text = Utf8(buffer, static_cast<int>(n));
    if (buffer != nullptr)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

[[noreturn]] void Fail(const char* what, DWORD code) {
    throw EVaCommError(std::string(what) + " (" + std::to_string(code) + "), " + ErrorText(code),
                       static_cast<int>(code));
}

// A manual-reset event, created unsignalled.
class Event {
public:
    Event() : handle_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Event() {
        if (handle_ != nullptr)
            CloseHandle(handle_);
    }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

class SerialWin32 final : public SerialBackend {
public:
    ~SerialWin32() override { Close(); }

    void Open(const std::string& path) override {
        const std::wstring wide = Wide(path);
        handle_ = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE) {
            const DWORD e = GetLastError();
            if (e == ERROR_FILE_NOT_FOUND)
                throw EVaCommError("Specified device not found (" + path + ").",
                                   static_cast<int>(e));
            throw EVaCommError("Can't open specified device " + path + " (Error " +
                                   std::to_string(e) + ", " + ErrorText(e) + ")",
                               static_cast<int>(e));
        }
    }

    void Close() override {
        if (handle_ == INVALID_HANDLE_VALUE)
            return;
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

    bool IsOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }

    void ApplySettings(const LineSettings& s) override {
        constexpr const char* what = "Error writing dcb";
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(handle_, &dcb))
            Fail(what, GetLastError());
        dcb.BaudRate = s.baudrate;
        dcb.ByteSize = static_cast<BYTE>(s.dataBits);
        static constexpr BYTE parities[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY,
                                            SPACEPARITY};
        static constexpr BYTE stops[] = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};
        dcb.Parity = parities[s.parity];
        dcb.StopBits = stops[s.stopBits];
        dcb.fBinary = TRUE; // no end-of-file handling
        dcb.fParity = s.parityCheck ? TRUE : FALSE;
        dcb.fOutxCtsFlow = s.outCtsFlow ? TRUE : FALSE;
        dcb.fOutxDsrFlow = s.outDsrFlow ? TRUE : FALSE;
        static constexpr DWORD dtr[] = {DTR_CONTROL_DISABLE, DTR_CONTROL_ENABLE,
                                        DTR_CONTROL_HANDSHAKE};
        static constexpr DWORD rts[] = {RTS_CONTROL_DISABLE, RTS_CONTROL_ENABLE,
                                        RTS_CONTROL_HANDSHAKE, RTS_CONTROL_TOGGLE};
        dcb.fDtrControl = dtr[s.controlDtr];
        dcb.fRtsControl = rts[s.controlRts];
        dcb.fDsrSensitivity = s.dsrSensitivity ? TRUE : FALSE;
        dcb.fTXContinueOnXoff = s.txContinueOnXoff ? TRUE : FALSE;
        dcb.fOutX = s.xonXoffOut ? TRUE : FALSE;
        dcb.fInX = s.xonXoffIn ? TRUE : FALSE;
        dcb.fErrorChar = s.errorChar ? TRUE : FALSE;
        dcb.fNull = s.nullStrip ? TRUE : FALSE;
        dcb.fAbortOnError = FALSE;
        dcb.XonChar = s.xonChar;
        dcb.XoffChar = s.xoffChar;
        dcb.ErrorChar = s.errorCharValue;
        dcb.EofChar = s.eofChar;
        dcb.EvtChar = s.eventChar;
        dcb.XonLim = s.xonLimit;
        dcb.XoffLim = s.xoffLimit;
        if (!SetCommState(handle_, &dcb))
            Fail(what, GetLastError());
    }

    void SetupQueues(uint32_t readSize, uint32_t writeSize) override {
        if (!SetupComm(handle_, readSize, writeSize))
            Fail("Error initializing buffers", GetLastError());
    }

    void SetTimeouts() override {
        // A read returns at once with what has arrived.
        COMMTIMEOUTS t{};
        t.ReadIntervalTimeout = MAXDWORD;
        if (!SetCommTimeouts(handle_, &t))
            Fail("Error setting timeouts", GetLastError());
    }

    void SetEventMask(uint32_t mask) override {
        if (!SetCommMask(handle_, mask))
            Fail(" Error setting EventMask", GetLastError());
    }

    uint32_t WaitEvent() override {
        if (waitBroken_) {
            // Reported once; nothing more comes from this port.
            WaitForSingleObject(stopWait_.Get(), INFINITE);
            return 0;
        }
        if (waitCancelled_) {
            // Some drivers cancel every wait once the device is gone: never
            // ask again at once.
            waitCancelled_ = false;
            if (WaitForSingleObject(stopWait_.Get(), kRetryAfterCancelMs) == WAIT_OBJECT_0)
                return 0;
        }
        if (WaitForSingleObject(stopWait_.Get(), 0) == WAIT_OBJECT_0)
            return 0;
        DWORD mask = 0;
        OVERLAPPED ov{};
        ov.hEvent = waitDone_.Get();
        ResetEvent(waitDone_.Get());
        if (!WaitCommEvent(handle_, &mask, &ov)) {
            DWORD e = GetLastError();
            if (e == ERROR_IO_PENDING) {
                const HANDLE handles[] = {waitDone_.Get(), stopWait_.Get()};
                if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0) {
                    // Stopped: end the wait before ov goes out of scope.
                    SetCommMask(handle_, 0);
                    CancelIo(handle_);
                    DWORD ignored = 0;
                    GetOverlappedResult(handle_, &ov, &ignored, TRUE);
                    return 0;
                }
                DWORD ignored = 0;
                if (GetOverlappedResult(handle_, &ov, &ignored, FALSE))
                    return mask != 0 ? OnlyNews(mask) : WaitCancelled();
                e = GetLastError();
            }
            // Only a stop clears the mask, and the stop was checked above.
            if (e == ERROR_OPERATION_ABORTED)
                return WaitCancelled();
            waitBroken_ = true;
            return LineGone();
        }
        return mask != 0 ? OnlyNews(mask) : WaitCancelled();
    }

    void StopWait() override { SetEvent(stopWait_.Get()); }

    // The line error that says the device went away; from now on a failing
    // status query means the same and is no failure of its own.
    uint32_t LineGone() {
        lineGone_ = true;
        std::lock_guard g(errorLock_);
        errors_ |= line_error::IoError;
        return comm_event::Err;
    }

    // A wait that ended with nothing to report although no stop was asked
    // for: some drivers do this when the device is unplugged, others while
    // it is there. Only a status query that fails says the device is gone;
    // the next wait comes after a pause either way.
    uint32_t WaitCancelled() {
        if (WaitForSingleObject(stopWait_.Get(), 0) == WAIT_OBJECT_0)
            return 0;
        waitCancelled_ = true;
        if (lineGone_)
            return 0;
        if (!StatusAnswers())
            return LineGone();
        // The device is there, but its events may not come: a line error,
        // once per open port, that leaves the line usable.
        if (cancelReported_)
            return 0;
        cancelReported_ = true;
        std::lock_guard g(errorLock_);
        errors_ |= line_error::IoError;
        return comm_event::Err;
    }

    bool StatusAnswers() {
        COMSTAT stat{};
        DWORD errors = 0;
        if (!ClearCommError(handle_, &errors, &stat))
            return false;
        std::lock_guard g(errorLock_);
        errors_ |= errors;
        return true;
    }

    // A received-byte event means new bytes on Windows; Wine reports one
    // whenever the receive queue is not empty, so unread bytes would raise
    // it again and again. Pass it on only when the queue holds more than the
    // component has already been told of.
    uint32_t OnlyNews(uint32_t mask) {
        if ((mask & comm_event::RxChar) == 0)
            return mask;
        COMSTAT stat{};
        DWORD errors = 0;
        if (!ClearCommError(handle_, &errors, &stat)) {
            // Gone between the event and the query: say so once, and not
            // as a failing query of the bytes that can no longer be read.
            mask &= ~comm_event::RxChar;
            return lineGone_ ? mask : (mask | LineGone());
        }
        {
            std::lock_guard g(errorLock_);
            errors_ |= errors;
        }
        if (stat.cbInQue <= known_)
            mask &= ~comm_event::RxChar;
        if (mask == 0) // nothing new: do not ask again at once
            WaitForSingleObject(stopWait_.Get(), kRecheckMs);
        return mask;
    }

    std::size_t BytesWaiting() override {
        COMSTAT stat{};
        DWORD errors = 0;
        if (!ClearCommError(handle_, &errors, &stat)) {
            // The device went away: a line error, reported once by the
            // event thread, whose wait fails now too.
            LineGone();
            return 0;
        }
        // The query also clears the error flags: keep them for TakeErrors.
        {
            std::lock_guard g(errorLock_);
            errors_ |= errors;
        }
        known_ = stat.cbInQue;
        return stat.cbInQue;
    }

    uint32_t TakeErrors() override {
        COMSTAT stat{};
        DWORD errors = 0;
        if (!ClearCommError(handle_, &errors, &stat)) {
            lineGone_ = true;
            errors = line_error::IoError; // a pulled cable: the port is gone
        }
        std::lock_guard g(errorLock_);
        const uint32_t all = errors_ | errors;
        errors_ = 0;
        return all;
    }

    std::string Read(std::size_t count, int timeoutMs) override {
        // Only called with bytes reported waiting: Wine never completes a
        // read of nothing.
        std::string buffer(count, '\0');
        OVERLAPPED ov{};
        ov.hEvent = readDone_.Get();
        ResetEvent(readDone_.Get());
        DWORD got = 0;
        if (!ReadFile(handle_, buffer.data(), static_cast<DWORD>(count), &got, &ov)) {
            DWORD e = GetLastError();
            if (e == ERROR_IO_PENDING) {
                if (WaitForSingleObject(readDone_.Get(), static_cast<DWORD>(timeoutMs)) !=
                    WAIT_OBJECT_0)
                    CancelIo(handle_);
                if (GetOverlappedResult(handle_, &ov, &got, TRUE))
                    e = ERROR_SUCCESS;
                else
                    e = GetLastError();
            }
            // Wine reports a timed-out read as 1460 with nothing read.
            if (e == ERROR_TIMEOUT || e == ERROR_OPERATION_ABORTED)
                got = 0;
            else if (e != ERROR_SUCCESS)
                Fail("Read error", e);
        }
        buffer.resize(got);
        const std::size_t known = known_;
        known_ = known - std::min<std::size_t>(known, got);
        return buffer;
    }

    WriteResult Write(const char* data, std::size_t size, std::size_t& written) override {
        written = 0;
        if (WaitForSingleObject(cancelWrite_.Get(), 0) == WAIT_OBJECT_0)
            return WriteResult::Cancelled;
        OVERLAPPED ov{};
        ov.hEvent = writeDone_.Get();
        ResetEvent(writeDone_.Get());
        DWORD sent = 0;
        if (WriteFile(handle_, data, static_cast<DWORD>(size), &sent, &ov)) {
            written = sent;
            return WriteResult::Done;
        }
        if (GetLastError() != ERROR_IO_PENDING) {
            lineGone_ = true;
            return WriteResult::Refused;
        }
        const HANDLE handles[] = {writeDone_.Get(), cancelWrite_.Get()};
        const bool cancelled = WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0;
        if (cancelled)
            CancelIo(handle_);
        const BOOL ok = GetOverlappedResult(handle_, &ov, &sent, TRUE);
        written = sent;
        if (cancelled)
            return WriteResult::Cancelled;
        if (!ok)
            lineGone_ = true;
        return ok ? WriteResult::Done : WriteResult::Refused;
    }

    void CancelWrite() override { SetEvent(cancelWrite_.Get()); }

    bool Gone() const override { return lineGone_; }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    Event readDone_; // the component's own reads
    Event waitDone_;
    Event writeDone_;
    Event stopWait_;
    Event cancelWrite_;
    bool waitBroken_ = false;     // event thread only
    bool waitCancelled_ = false;  // event thread only
    bool cancelReported_ = false; // event thread only
    // A write or a status query failed, or the event wait broke: the device
    // is gone until the port is opened again.
    std::atomic<bool> lineGone_{false};
    static constexpr DWORD kRecheckMs = 10;
    static constexpr DWORD kRetryAfterCancelMs = 200;
    // Received bytes the component has seen counted and not yet read;
    // written under the component's global lock.
    std::atomic<std::size_t> known_{0};
    std::mutex errorLock_;
    uint32_t errors_ = 0;
};

} // namespace

std::unique_ptr<SerialBackend> SerialBackend::Create() {
    return std::make_unique<SerialWin32>();
}

std::string PlatformDevicePath(const std::string& name) {
    // Every supported Windows is of the NT family; a name that already is a
    // device path stays as it is.
    if (name.rfind("\\\\", 0) == 0)
        return name;
    return "\\\\.\\" + name;
}

void SetCurrentThreadPriority(int priority) {
    static constexpr int levels[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                                     THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                                     THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                     THREAD_PRIORITY_TIME_CRITICAL};
    if (priority >= 0 && priority < static_cast<int>(sizeof levels / sizeof levels[0]))
        SetThreadPriority(GetCurrentThread(), levels[priority]);
}

} // namespace kobito
