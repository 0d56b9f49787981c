#include "SerialPortList.h"

#include <algorithm>
#include <cctype>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <filesystem>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace kobito {

bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool da = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
        const bool db = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
        if (da && db) {
            size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei])))
                ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej])))
                ++ej;
            std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
            nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
            if (na.size() != nb.size())
                return na.size() < nb.size();
            if (na != nb)
                return na < nb;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

#ifdef _WIN32

std::vector<std::string> SerialPortNames() {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                      &key) != ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[256];
        DWORD nameLength = 256;
        wchar_t data[256];
        DWORD dataBytes = sizeof data;
        DWORD type = 0;
        const LONG rc = RegEnumValueW(key, index, valueName, &nameLength, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataBytes);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc != ERROR_SUCCESS || type != REG_SZ)
            continue;
        const size_t chars = dataBytes / sizeof(wchar_t);
        std::wstring port(data, chars);
        while (!port.empty() && port.back() == L'\0')
            port.pop_back();
        const int size = WideCharToMultiByte(CP_UTF8, 0, port.c_str(), int(port.size()), nullptr,
                                             0, nullptr, nullptr);
        std::string utf8(size_t(size), '\0');
        WideCharToMultiByte(CP_UTF8, 0, port.c_str(), int(port.size()), utf8.data(), size,
                            nullptr, nullptr);
        names.push_back(utf8);
    }
    RegCloseKey(key);
    return names;
}

#else

namespace {

// Legacy 8250 ports exist for every configured slot; only those with a UART
// behind them report a known type.
bool HasUart(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    serial_struct info{};
    const bool known = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return known;
}

} // namespace

std::vector<std::string> SerialPortNames() {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/sys/class/tty", ec)) {
        const std::string name = entry.path().filename().string();
        if (!fs::exists(entry.path() / "device", ec))
            continue;
        const std::string device = "/dev/" + name;
        if (name.rfind("ttyS", 0) == 0 && !HasUart(device))
            continue;
        names.push_back(device);
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    return names;
}

#endif

} // namespace kobito
