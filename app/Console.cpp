#include "Console.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kobito {

#ifdef _WIN32
namespace {

bool HasHandle(DWORD which) {
    const HANDLE h = GetStdHandle(which);
    return h != nullptr && h != INVALID_HANDLE_VALUE;
}

// Redirected output (a pipe, a file) is kept; a program started from a
// console window gets that console's output instead of none.
bool ConnectStandardHandles() {
    static const bool connected = [] {
        if (HasHandle(STD_OUTPUT_HANDLE) && HasHandle(STD_ERROR_HANDLE))
            return true;
        if (!AttachConsole(ATTACH_PARENT_PROCESS))
            return false;
        FILE* ignored = nullptr;
        if (!HasHandle(STD_OUTPUT_HANDLE) || _fileno(stdout) < 0)
            freopen_s(&ignored, "CONOUT$", "w", stdout);
        if (!HasHandle(STD_ERROR_HANDLE) || _fileno(stderr) < 0)
            freopen_s(&ignored, "CONOUT$", "w", stderr);
        return true;
    }();
    return connected;
}

} // namespace

bool WriteToConsole(const QString& text, bool toStderr) {
    if (!ConnectStandardHandles())
        return false;
    FILE* out = toStderr ? stderr : stdout;
    if (GetFileType(GetStdHandle(toStderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE)) ==
        FILE_TYPE_CHAR) {
        // A console shows any character when written as UTF-16.
        const std::wstring wide = text.toStdWString();
        DWORD written = 0;
        return WriteConsoleW(GetStdHandle(toStderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE),
                             wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    }
    std::fputs(text.toLocal8Bit().constData(), out);
    std::fflush(out);
    return true;
}

void ReportCommandLine(const QString& text, bool toStderr) {
    if (WriteToConsole(text, toStderr))
        return;
    // Started from a shortcut or a file's double-click: only a box is seen.
    const std::wstring wide = text.trimmed().toStdWString();
    MessageBoxW(nullptr, wide.c_str(), L"KOBITO Motion",
                MB_OK | (toStderr ? MB_ICONERROR : MB_ICONINFORMATION));
}

#else

bool WriteToConsole(const QString& text, bool toStderr) {
    FILE* out = toStderr ? stderr : stdout;
    std::fputs(text.toLocal8Bit().constData(), out);
    std::fflush(out);
    return true;
}

void ReportCommandLine(const QString& text, bool toStderr) {
    WriteToConsole(text, toStderr);
}

#endif

} // namespace kobito
