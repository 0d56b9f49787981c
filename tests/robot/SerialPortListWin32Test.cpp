// The port list from the registry's serial-port map, which the test writes
// itself and puts back as it was.
#include "SerialPortList.h"

#include <gtest/gtest.h>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <vector>

namespace kobito {
namespace {

constexpr wchar_t kMapPath[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

struct Value {
    std::wstring name;
    DWORD type = REG_SZ;
    std::vector<BYTE> data;
};

Value Text(const wchar_t* name, const std::wstring& text) {
    const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return {name, REG_SZ, {bytes, bytes + (text.size() + 1) * sizeof(wchar_t)}};
}

// The map as the test wants it; the machine's own map comes back at the end.
class SerialPortMap : public testing::Test {
protected:
    void SetUp() override {
        HKEY key = nullptr;
        const LONG rc =
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMapPath, 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr);
        if (rc == ERROR_ACCESS_DENIED)
            GTEST_SKIP() << "writing HKLM\\HARDWARE needs an administrator";
        ASSERT_EQ(rc, ERROR_SUCCESS);
        saved_ = ReadAll(key);
        RegCloseKey(key);
        saved = true;
    }
    void TearDown() override {
        if (saved)
            Replace(saved_);
    }

    static std::vector<Value> ReadAll(HKEY key) {
        std::vector<Value> values;
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            DWORD nameLength = 256;
            BYTE data[1024];
            DWORD size = sizeof data;
            Value v;
            if (RegEnumValueW(key, i, name, &nameLength, nullptr, &v.type, data, &size) !=
                ERROR_SUCCESS)
                break;
            v.name.assign(name, nameLength);
            v.data.assign(data, data + size);
            values.push_back(v);
        }
        return values;
    }

    // The key holds exactly these values, written in this order.
    static void Replace(const std::vector<Value>& values) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMapPath, 0, nullptr, REG_OPTION_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        for (const auto& old : ReadAll(key))
            RegDeleteValueW(key, old.name.c_str());
        for (const auto& v : values)
            EXPECT_EQ(RegSetValueExW(key, v.name.c_str(), 0, v.type, v.data.data(),
                                     static_cast<DWORD>(v.data.size())),
                      ERROR_SUCCESS);
        RegCloseKey(key);
    }

    bool saved = false;

private:
    std::vector<Value> saved_;
};

TEST_F(SerialPortMap, GivesThePortNamesInTheMapsOrder) {
    const struct {
        const char* what;
        std::vector<Value> values;
        std::vector<std::string> names;
    } cases[] = {
        {"none", {}, {}},
        {"one", {Text(L"\\Device\\Serial0", L"COM1")}, {"COM1"}},
        // Not sorted by port name. Wine enumerates values by name, Windows
        // in the order written: these names sort in the order written.
        {"three",
         {Text(L"\\Device\\Serial0", L"COM3"), Text(L"\\Device\\Serial1", L"COM1"),
          Text(L"\\Device\\VCP0", L"COM10")},
         {"COM3", "COM1", "COM10"}},
    };
    for (const auto& c : cases) {
        Replace(c.values);
        EXPECT_EQ(SerialPortNames(), c.names) << c.what;
    }
}

TEST_F(SerialPortMap, AMissingKeyGivesNoPorts) {
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, kMapPath), ERROR_SUCCESS);
    EXPECT_TRUE(SerialPortNames().empty());
    // The list only reads: the key is still missing.
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMapPath, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

} // namespace
} // namespace kobito
