#include "WindowsFiles.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <utility>

namespace kobito {

std::wstring LongPathForm(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0)
        return path;
    // The prefix turns off the system's clean-up of the path (separators,
    // "." and ".."), so the full path is made first.
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return path;
    std::wstring full(size, L'\0');
    size = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (size == 0 || size >= full.size())
        return path;
    full.resize(size);
    if (full.size() < MAX_PATH)
        return path;
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

bool ReadWholeFileShared(const std::wstring& path, std::string& bytes, unsigned long& error) {
    const HANDLE handle = CreateFileW(LongPathForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    std::string data;
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(handle, buffer, DWORD(sizeof buffer), &got, nullptr)) {
            error = GetLastError();
            CloseHandle(handle);
            return false;
        }
        if (got == 0)
            break;
        data.append(buffer, got);
    }
    CloseHandle(handle);
    bytes = std::move(data);
    return true;
}

} // namespace kobito
