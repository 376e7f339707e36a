// QLSE32.DLL through its exports, as the builder calls it: the callback
// tables, the archive test's name reports, the append, spanning onto a fixed
// drive refused with a message, and the diskette functions refusing a fixed
// drive. Spanning over a removable drive runs in the spanning tests.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "builder/qlse32api.h"

namespace {

std::vector<std::wstring> g_names;
std::vector<std::wstring> g_errors;
int g_cancelAnswer = 0;

int QLSE_API on_error(int, const QlseChar* text)
{
    g_errors.push_back(text ? text : L"");
    return 1;
}
int QLSE_API on_name(int, const QlseChar* name, int, const QlseChar*)
{
    g_names.push_back(name ? name : L"");
    return 0;
}
int QLSE_API poll_cancel() { return g_cancelAnswer; }

struct Library {
    HMODULE module = LoadLibraryW(L"QLSE32.DLL");
    template <class Fn>
    Fn get(const char* name)
    {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
};

std::wstring temp_path(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

// A stored archive of one entry named "grüße.txt" (UTF-8, bit 11).
std::vector<uint8_t> one_entry_zip()
{
    const char name[] = "gr\xC3\xBC\xC3\x9F" "e.txt";
    const char data[] = "hello";
    std::vector<uint8_t> z;
    auto u16 = [&](uint16_t v) { z.push_back(v & 0xFF); z.push_back(v >> 8); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); };
    const uint32_t crc = 0x3610A686;  // CRC-32 of "hello"
    auto header = [&](bool central) {
        u32(central ? 0x02014B50 : 0x04034B50);
        if (central)
            u16(20);
        u16(20); u16(0x800); u16(0); u32(0); u32(crc); u32(5); u32(5);
        u16(sizeof name - 1); u16(0);
        if (central) {
            u16(0); u16(0); u16(0); u32(0); u32(0);
        }
        z.insert(z.end(), name, name + sizeof name - 1);
    };
    header(false);
    z.insert(z.end(), data, data + 5);
    uint32_t directory = static_cast<uint32_t>(z.size());
    header(true);
    uint32_t directory_size = static_cast<uint32_t>(z.size()) - directory;
    u32(0x06054B50); u16(0); u16(0); u16(1); u16(1); u32(directory_size); u32(directory); u16(0);
    return z;
}

void write_file(const std::wstring& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(nullptr, f);
    if (!bytes.empty())
        fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

}  // namespace

TEST(Qlse32Dll, TestReportsNamesAndAppendShiftsTheArchive)
{
    Library lib;
    ASSERT_NE(nullptr, lib.module);
    std::wstring zip = temp_path(L"qlse32test.zip");
    std::wstring target = temp_path(L"qlse32test.exe");
    write_file(zip, one_entry_zip());
    write_file(target, std::vector<uint8_t>(777, 'S'));

    QlseUnzipCallbacks u = {};
    u.check_name = on_name;
    u.error = on_error;
    ASSERT_EQ(0, lib.get<QlseUnzipInitFn>(QLSE_ENTRY_UNZIP_INIT)(u));
    QlseUnzipBlock block = {};
    block.test_mode = 1;
    block.quiet = 1;
    block.no_output = 1;
    block.zip_name = zip.c_str();
    g_names.clear();
    EXPECT_EQ(0, lib.get<QlseUnzipFn>(QLSE_ENTRY_UNZIP)(&block));
    ASSERT_EQ(1u, g_names.size());
    EXPECT_EQ(std::wstring(L"gr\u00fc\u00dfe.txt"), g_names[0]);

    int part = -1;
    EXPECT_NE(0, lib.get<QlseCheckMultiVolumeFn>(QLSE_ENTRY_CHECK_MULTI)(zip.c_str(), &part));
    EXPECT_EQ(0, part);

    QlseZipCallbacks z = {};
    z.error = on_error;
    z.poll_cancel = poll_cancel;
    ASSERT_EQ(0, lib.get<QlseZipInitFn>(QLSE_ENTRY_ZIP_INIT)(z));
    QlseSplitBlock split = {};
    split.mode = kQlseSplitAppend;
    split.source_zip = zip.c_str();
    split.target = target.c_str();
    lib.get<QlseZipSplitFn>(QLSE_ENTRY_ZIPSPLIT)(&split);
    EXPECT_EQ(0u, split.result);
    // The appended copy tests sound: its offsets were raised by 777.
    block.zip_name = target.c_str();
    g_errors.clear();
    EXPECT_EQ(0, lib.get<QlseUnzipFn>(QLSE_ENTRY_UNZIP)(&block));
    EXPECT_TRUE(g_errors.empty());

    // A cancel poll that answers non-zero stops the append.
    g_cancelAnswer = 1;
    split.result = 0;
    lib.get<QlseZipSplitFn>(QLSE_ENTRY_ZIPSPLIT)(&split);
    EXPECT_NE(0u, split.result);
    g_cancelAnswer = 0;

    // Spanning onto a fixed drive is refused with a message.
    g_errors.clear();
    split.mode = kQlseSplitSpan;
    split.result = 0;
    lib.get<QlseZipSplitFn>(QLSE_ENTRY_ZIPSPLIT)(&split);
    EXPECT_NE(0u, split.result);
    ASSERT_EQ(1u, g_errors.size());
    EXPECT_NE(std::wstring::npos, g_errors[0].find(L"removable drive"));

    DeleteFileW(zip.c_str());
    DeleteFileW(target.c_str());
}

TEST(Qlse32Dll, DisketteFunctionsRefuseFixedDrives)
{
    Library lib;
    ASSERT_NE(nullptr, lib.module);
    for (const wchar_t* drive : {L"C:\\", L"Z:\\", L"C:", L""}) {
        EXPECT_NE(0, lib.get<QlseWipeFn>(QLSE_ENTRY_WIPE)(drive)) << drive;
        EXPECT_NE(0, lib.get<QlseLabelFn>(QLSE_ENTRY_LABEL)(drive, 1)) << drive;
    }
}
