// Reading files whose paths are longer than 260 characters, which the
// program's own saving writes (with the long-path prefix).
#include "WindowsFiles.h"

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

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end()); // the paths here are ASCII
}

// A path of folders "folder0123456789\" repeated, well past 260 characters.
std::wstring Deep(const std::wstring& root, int levels = 20) {
    std::wstring path = root;
    for (int i = 0; i < levels; ++i)
        path += L"folder0123456789\\";
    return path;
}

TEST(LongPathForm, PrefixesOnlyFullPathsBeyondTheLimit) {
    const std::wstring deep = Deep(L"C:\\KOBITO\\");
    const std::wstring unc = Deep(L"\\\\server\\share\\");
    std::wstring slashes = deep;
    for (auto& c : slashes)
        if (c == L'\\')
            c = L'/';
    const struct {
        std::wstring path;
        std::wstring form;
    } cases[] = {
        {L"C:\\KOBITO\\walk.kmf", L"C:\\KOBITO\\walk.kmf"},
        {deep + L"walk.kmf", L"\\\\?\\" + deep + L"walk.kmf"},
        {slashes + L"walk.kmf", L"\\\\?\\" + deep + L"walk.kmf"},
        {deep + L"x\\..\\.\\walk.kmf", L"\\\\?\\" + deep + L"walk.kmf"},
        {unc + L"walk.kmf", L"\\\\?\\UNC\\" + unc.substr(2) + L"walk.kmf"},
        {L"\\\\?\\" + deep + L"walk.kmf", L"\\\\?\\" + deep + L"walk.kmf"},
        {L"\\\\.\\COM1", L"\\\\.\\COM1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Narrow(LongPathForm(c.path)), Narrow(c.form)) << Narrow(c.path);
}

class LongPathFile : public testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1];
        const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
        ASSERT_GT(n, 0u);
        root_ = std::wstring(temp, n) + L"kobito-long-" + std::to_wstring(GetCurrentProcessId()) +
                L"\\";
        // Made as the program's saving makes them: with the prefix.
        std::wstring folder = root_;
        folders_.push_back(folder);
        for (int i = 0; i < 20; ++i) {
            folder += L"folder0123456789\\";
            folders_.push_back(folder);
        }
        for (const auto& f : folders_)
            ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + f).c_str(), nullptr) ||
                        GetLastError() == ERROR_ALREADY_EXISTS)
                << Narrow(f) << ": error " << GetLastError();
        file_ = folders_.back() + L"walk.kmf";
        ASSERT_GT(file_.size(), 300u);
    }
    void TearDown() override {
        DeleteFileW((L"\\\\?\\" + file_).c_str());
        for (auto f = folders_.rbegin(); f != folders_.rend(); ++f)
            RemoveDirectoryW((L"\\\\?\\" + *f).c_str());
    }
    void WriteFile(const std::string& bytes) {
        const HANDLE h = CreateFileW((L"\\\\?\\" + file_).c_str(), GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << "error " << GetLastError();
        DWORD written = 0;
        const BOOL ok =
            ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(h);
        ASSERT_TRUE(ok && written == bytes.size());
    }

    std::wstring root_;
    std::vector<std::wstring> folders_;
    std::wstring file_;
};

TEST_F(LongPathFile, ReadsBackWhatWasSaved) {
    std::string row = "90,90,0,130,90,180,50,90,90,90,90,90,0,0,255,10\r\n";
    std::string bytes;
    for (int i = 0; i < 100; ++i)
        bytes += row;
    WriteFile(bytes);
    std::string got;
    unsigned long error = 0;
    ASSERT_TRUE(ReadWholeFileShared(file_, -1, got, error)) << "error " << error;
    EXPECT_EQ(got, bytes);
}

TEST_F(LongPathFile, AMissingFileGivesTheSystemsError) {
    std::string got = "kept";
    unsigned long error = 0;
    EXPECT_FALSE(ReadWholeFileShared(folders_.back() + L"missing.kmf", -1, got, error));
    EXPECT_EQ(error, static_cast<unsigned long>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(got, "kept");
}

// Only a file on disk within the size is read: a device would never end or block, and a larger
// file is no motion file.
TEST_F(LongPathFile, RefusesDevicesAndFilesBeyondTheSize) {
    WriteFile("1,2\r\n3\r\n");
    std::string got;
    unsigned long error = 0;
    ASSERT_TRUE(ReadWholeFileShared(file_, 8, got, error)) << "error " << error;
    EXPECT_EQ(got, "1,2\r\n3\r\n");

    const struct {
        const char* what;
        std::wstring path;
        long long maxBytes;
    } cases[] = {
        {"one byte too many", file_, 7},
        {"the null device", L"NUL", -1},
        {"the console", L"CONIN$", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        got = "kept";
        error = 0;
        EXPECT_FALSE(ReadWholeFileShared(c.path, c.maxBytes, got, error));
        EXPECT_NE(error, 0ul);
        EXPECT_EQ(got, "kept");
    }
}

} // namespace
} // namespace kobito
