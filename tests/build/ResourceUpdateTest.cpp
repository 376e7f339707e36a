// The icon and manifest replacement on copies of a real stub image, where a
// build cannot reach: an executable that cannot be written (1108, 1110), an
// executable without the administrator manifest (1109), icon files that are
// no icons.
// The builds under Wine (buildtest.py) read the results back with pefile.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "builder/UpdateIcon.h"
#include "builder/UpdtManif.h"
#include "builder/ui/msgsink.h"
#include "tests/win/WinTempFolder.h"

namespace {

std::string read_file(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    std::string bytes;
    if (h == INVALID_HANDLE_VALUE)
        return bytes;
    DWORD size = GetFileSize(h, nullptr), got = 0;
    bytes.resize(size);
    if (!ReadFile(h, &bytes[0], size, &got, nullptr) || got != size)
        bytes.clear();
    CloseHandle(h);
    return bytes;
}

// A one-image icon file (a 16x16 image of 32 bits).
std::string icon_file()
{
    std::string image(40 + 16 * 16 * 4 + 16 * 4, '\x7f');
    std::string f("\0\0\1\0\1\0", 6);
    const unsigned char entry[16] = {16, 16, 0, 0, 1, 0, 32, 0,
                                     static_cast<unsigned char>(image.size()), static_cast<unsigned char>(image.size() >> 8),
                                     0, 0, 22, 0, 0, 0};
    f.append(reinterpret_cast<const char*>(entry), 16);
    return f + image;
}

class ResourceUpdate : public ::testing::Test {
protected:
    void SetUp() override
    {
        msgsink_record_in_memory(true);
        stub_ = read_file(QL_STUB_IMAGE);
        ASSERT_FALSE(stub_.empty()) << "no stub image at " << QL_STUB_IMAGE;
        ASSERT_TRUE(folder_.MakeFile(L"out.exe", stub_));
        ASSERT_TRUE(folder_.MakeFile(L"icon.ico", icon_file()));
    }
    void TearDown() override { msgsink_record_in_memory(false); }

    std::wstring exe() const { return folder_ / L"out.exe"; }
    std::wstring icon() const { return folder_ / L"icon.ico"; }

    WinTempFolder folder_;
    std::string stub_;
};

std::vector<int> ids_of(const std::vector<SinkRecord>& records)
{
    std::vector<int> ids;
    for (const SinkRecord& r : records)
        ids.push_back(r.id);
    return ids;
}

}  // namespace

// Held open by another program that lets others only read it, as a running
// program or a virus scanner holds its file. (A read-only attribute would be
// the other cause; Wine, run as root here, writes such a file all the same.)
TEST_F(ResourceUpdate, ExecutableThatCannotBeWrittenIsReportedAndLeftAlone)
{
    HANDLE held = CreateFileW(exe().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(3, read_icon_group(exe().c_str(), 0, nullptr, nullptr, 1));
    EXPECT_FALSE(replace_icon(exe().c_str(), icon().c_str(), 1, true));
    EXPECT_FALSE(icon_not_recognised);
    EXPECT_FALSE(use_admin_manifest(exe().c_str()));
    CloseHandle(held);
    std::vector<SinkRecord> records = msgsink_take_records();
    ASSERT_EQ(std::vector<int>({kMsgIconUpdate, kMsgAdminManifestSwitch}), ids_of(records));
    // Each names the file and a reason, and ends with the message's own lines.
    EXPECT_EQ(0u, records[0].text.find(L"Unable to update the icon in " + exe() + L"; ")) << records[0].text;
    EXPECT_NE(std::wstring::npos, records[0].text.find(L"-  Executable file is read-only")) << records[0].text;
    EXPECT_EQ(0u, records[1].text.find(L"Unable to switch to \"Run as Administrator\" manifest; ")) << records[1].text;
    EXPECT_NE(std::wstring::npos, records[1].text.find(L"Executable will run as user.")) << records[1].text;
    EXPECT_TRUE(read_file(exe()) == stub_);
}

TEST_F(ResourceUpdate, WhatIsNoIconChangesNothing)
{
    ASSERT_TRUE(folder_.MakeFile(L"picture.bmp", std::string("BM\x46\0\0\0\0\0\0\0\x36\0\0\0", 14) + std::string(56, 0)));
    ASSERT_TRUE(folder_.MakeFile(L"none.ico", std::string("\0\0\1\0\0\0", 6)));
    for (const wchar_t* name : {L"picture.bmp", L"none.ico", L"missing.ico"}) {
        EXPECT_FALSE(replace_icon(exe().c_str(), (folder_ / name).c_str(), 1, true)) << name;
        EXPECT_TRUE(icon_not_recognised) << name;
    }
    EXPECT_TRUE(msgsink_take_records().empty());
    EXPECT_TRUE(read_file(exe()) == stub_);
    // A group the file does not have: nothing to replace.
    EXPECT_FALSE(replace_icon(exe().c_str(), icon().c_str(), 77, true));
    EXPECT_FALSE(icon_not_recognised);
    EXPECT_TRUE(read_file(exe()) == stub_);
    // The good icon file is taken: one image where the stub had three.
    EXPECT_TRUE(replace_icon(exe().c_str(), icon().c_str(), 1, true));
    uint16_t ids[4] = {};
    EXPECT_EQ(1, read_icon_group(exe().c_str(), 4, ids, nullptr, 1));
    EXPECT_EQ(2, ids[0]);
}

TEST_F(ResourceUpdate, ExecutableWithoutAdministratorManifest)
{
    // This test program carries no administrator manifest.
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    ASSERT_TRUE(CopyFileW(self, (folder_ / L"plain.exe").c_str(), FALSE));
    EXPECT_FALSE(use_admin_manifest((folder_ / L"plain.exe").c_str()));
    std::vector<SinkRecord> records = msgsink_take_records();
    ASSERT_EQ(std::vector<int>({kMsgAdminManifestRead}), ids_of(records));
    EXPECT_EQ(0u, records[0].text.find(L"Unable to retrieve the alternate manifest (Run as Administrator); "))
        << records[0].text;
    // A stub has one: the swap is made.
    EXPECT_TRUE(use_admin_manifest(exe().c_str()));
    EXPECT_TRUE(msgsink_take_records().empty());
    EXPECT_NE(std::string::npos, read_file(exe()).find("level=\"requireAdministrator\" uiAccess=\"false\"/>"));
}
