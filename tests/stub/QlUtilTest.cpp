// The stub's file layer on real files in a scratch folder.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "stub/qlutil.h"
#include "stub/sfxstub.h"

// The stub's internal-error report ends the process; here a wrong mode or
// flag throws, so that the test sees it.
struct InternalError {
    int line;
};
const char kSfxUtilSource[] = "qlutil.c";
void internal_error(const char*, int line) { throw InternalError{line}; }

namespace {

class QlUtil : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The current folder, not the temp folder, which the start-up tests watch.
        wchar_t here[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, here);
        folder_ = std::wstring(here) + L"\\qlutil-test-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder_.c_str(), nullptr);
        path_ = QlStr((folder_ + L"\\data.bin").c_str());
    }
    void TearDown() override
    {
        DeleteFileW(path_.Text());
        RemoveDirectoryW(folder_.c_str());
    }
    void write_file(const char* bytes, size_t size)
    {
        UtilStream* stream = util_fopen(path_, "wb", 0);
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(util_fwrite(bytes, 1, size, stream), size);
        EXPECT_EQ(util_fclose(stream), 0);
    }

    std::wstring folder_;
    QlStr path_;
};

TEST_F(QlUtil, WritesReadsAndSeeks)
{
    write_file("0123456789", 10);
    HANDLE file = util_open(path_, kUtilBinary, kUtilDenyWrite);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char buffer[16] = {0};
    EXPECT_EQ(util_lseek(file, 4, 0), 4);
    EXPECT_EQ(util_read(file, buffer, 3), 3);
    EXPECT_EQ(std::string(buffer), "456");
    EXPECT_EQ(util_lseek(file, -2, 1), 5);
    EXPECT_EQ(util_lseek(file, 0, 2), 10);  // the end is the size
    EXPECT_EQ(util_read(file, buffer, sizeof buffer), 0);
    EXPECT_EQ(util_lseek(file, 0, 7), -1);
    EXPECT_EQ(util_close(file), 0);
}

TEST_F(QlUtil, WriteCountsItems)
{
    UtilStream* stream = util_fopen(path_, "w+b", 1);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(util_fwrite("abcdef", 3, 2, stream), 2u);
    EXPECT_EQ(util_fwrite("abcdef", 3, 0, stream), 0u);  // touches nothing
    EXPECT_EQ(util_fwrite("abcdef", 0, 5, stream), 0u);
    EXPECT_EQ(util_fclose(stream), 0);
    HANDLE file = util_open(path_, 0, kUtilDenyNone);
    EXPECT_EQ(util_lseek(file, 0, 2), 6);
    util_close(file);

    // A stream opened for reading only cannot write: the error is kept.
    stream = util_fopen(path_, "rb", 2);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(util_fwrite("xyz", 1, 3, stream), 0u);
    EXPECT_NE(stream->last_error, 0u);
    EXPECT_EQ(util_fclose(stream), 0);
}

TEST_F(QlUtil, SharingIsHonoured)
{
    write_file("abc", 3);
    // A writer that shares nothing keeps "rb" out.
    HANDLE writer = CreateFileW(path_.Text(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(util_fopen(path_, "rb", 0), nullptr);
    CloseHandle(writer);

    // Deny-write: a second writer is refused while the archive is open.
    HANDLE archive = util_open(path_, kUtilBinary, kUtilDenyWrite);
    ASSERT_NE(archive, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileW(path_.Text(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    util_close(archive);

    EXPECT_EQ(util_open(QlStr(L"Z:\\no\\such\\file.bin"), kUtilBinary, kUtilDenyWrite),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(util_fopen(QlStr(L"Z:\\no\\such\\file.bin"), "rb", 0), nullptr);
}

TEST_F(QlUtil, WrongModesAndFlagsAreInternalErrors)
{
    struct Row { const char* why; int line; } rows[] = {
        {"mode", kSfxLineUtilMode}, {"open flags", kSfxLineUtilFlags}, {"share flags", kSfxLineUtilShare},
    };
    for (const Row& row : rows) {
        int line = 0;
        try {
            if (row.line == kSfxLineUtilMode)
                util_fopen(path_, "rt", 0);
            else if (row.line == kSfxLineUtilFlags)
                util_open(path_, 0x20, kUtilDenyWrite);
            else
                util_open(path_, kUtilBinary, 16);
        } catch (const InternalError& error) {
            line = error.line;
        }
        EXPECT_EQ(line, row.line) << row.why;
    }
}

}  // namespace
