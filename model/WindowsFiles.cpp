#include "WindowsFiles.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <limits>
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

bool ReadWholeFileShared(const std::wstring& path, long long maxBytes, std::string& bytes,
                         unsigned long& error) {
    const HANDLE handle = CreateFileW(LongPathForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    auto fail = [handle, &error](unsigned long code) {
        error = code;
        CloseHandle(handle);
        return false;
    };
    // A console, a device or a pipe could block or never end.
    if (GetFileType(handle) != FILE_TYPE_DISK)
        return fail(ERROR_INVALID_FUNCTION);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle, &size))
        return fail(GetLastError());
    if (maxBytes >= 0 && size.QuadPart > maxBytes)
        return fail(ERROR_FILE_TOO_LARGE);
    // A file that grows while it is read stops at the limit plus one byte, and is refused.
    const long long limit = maxBytes >= 0 ? maxBytes + 1 : std::numeric_limits<long long>::max();
    std::string data;
    data.reserve(size_t(size.QuadPart));
    char buffer[65536];
    auto held = [&data] { return static_cast<long long>(data.size()); };
    while (held() < limit) {
        const long long want = std::min<long long>(sizeof buffer, limit - held());
        DWORD got = 0;
        if (!ReadFile(handle, buffer, DWORD(want), &got, nullptr))
            return fail(GetLastError());
        if (got == 0)
            break;
        data.append(buffer, got);
    }
    if (held() >= limit)
        return fail(ERROR_FILE_TOO_LARGE);
    CloseHandle(handle);
    bytes = std::move(data);
    return true;
}

std::vector<std::wstring> PerMachineProgramFolders() {
    std::vector<std::wstring> folders;
    for (const KNOWNFOLDERID& id : {FOLDERID_ProgramFiles, FOLDERID_ProgramFilesX86}) {
        PWSTR path = nullptr;
        if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path)))
            folders.emplace_back(path);
        CoTaskMemFree(path); // also after a failure, which may have allocated
    }
    return folders;
}

} // namespace kobito
