// Mailing the result: where the default client's MAPI library is looked for,
// and what the builder hands MAPISendMail, through the project's recording
// stand-in (qlmapi.dll, beside this program). The tests register a client
// under HKLM\SOFTWARE\Clients\Mail and remove it again.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "builder/sfxoptions.h"
#include "builder/ui/mail.h"

namespace {

const wchar_t kClients[] = L"SOFTWARE\\Clients\\Mail";
const wchar_t kClient[] = L"Quolla Test Mail";

std::wstring own_folder()
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L'\\') + 1);
}

std::wstring system_folder()
{
    wchar_t path[MAX_PATH];
    UINT n = GetSystemDirectoryW(path, MAX_PATH);
    return std::wstring(path, n);
}

void set_string(const std::wstring& key, const wchar_t* name, const std::wstring& value, DWORD type = REG_SZ)
{
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(k, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
}

class Mail : public ::testing::Test {
protected:
    void SetUp() override { remove_client(); }
    void TearDown() override
    {
        release_mapi();
        remove_client();
        g_options = SfxOptions();
        for (const std::wstring& f : placed_)
            DeleteFileW(f.c_str());
    }
    void remove_client()
    {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(kClients) + L"\\" + kClient).c_str());
        HKEY k = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClients, 0, KEY_ALL_ACCESS, &k) == ERROR_SUCCESS) {
            RegDeleteValueW(k, nullptr);
            RegCloseKey(k);
        }
    }
    void register_client(const std::wstring& dll_path, DWORD type = REG_SZ)
    {
        set_string(kClients, nullptr, kClient);
        set_string(std::wstring(kClients) + L"\\" + kClient, L"DLLPath", dll_path, type);
    }
    // The stand-in copied under another name into a folder.
    std::wstring place(const std::wstring& folder, const std::wstring& name)
    {
        std::wstring target = folder + L"\\" + name;
        EXPECT_TRUE(CopyFileW((own_folder() + L"qlmapi.dll").c_str(), target.c_str(), FALSE));
        placed_.push_back(target);
        return target;
    }
    std::vector<std::wstring> placed_;
};

std::string narrow(const QlStr& s)
{
    std::string out;
    for (int i = 0; i < s.Length(); ++i)
        out += static_cast<char>(s.CharAt(i));
    return out;
}

std::string narrow(const std::wstring& s)
{
    return std::string(s.begin(), s.end());
}

}  // namespace

TEST_F(Mail, NoDefaultClientMeansNoMail)
{
    QlStr path;
    EXPECT_FALSE(find_mapi_dll(path));
    EXPECT_FALSE(find_mapi_send_mail());
}

TEST_F(Mail, DllPathWithAFolderIsTakenAsItStands)
{
    std::wstring dll = own_folder() + L"qlmapi.dll";
    register_client(dll);
    QlStr path;
    ASSERT_TRUE(find_mapi_dll(path));
    EXPECT_EQ(narrow(path), narrow(dll));
    register_client(own_folder() + L"absent.dll");
    EXPECT_FALSE(find_mapi_dll(path)) << "a named file that does not exist";
    register_client(L"%QL_TEST_FOLDER%qlmapi.dll", REG_EXPAND_SZ);
    SetEnvironmentVariableW(L"QL_TEST_FOLDER", own_folder().c_str());
    ASSERT_TRUE(find_mapi_dll(path)) << "expanded";
    EXPECT_EQ(narrow(path), narrow(dll));
}

TEST_F(Mail, BareNameInTheSystemFolderThenTheFolderAbove)
{
    std::wstring system = system_folder();
    ASSERT_GE(system.size(), 2u);
    ASSERT_EQ(_wcsicmp(system.c_str() + system.size() - 2, L"32"), 0) << narrow(system);
    std::wstring above = system.substr(0, system.size() - 2);
    std::wstring low = place(above, L"qltestmapi.dll");
    register_client(L"qltestmapi.dll");
    QlStr path;
    ASSERT_TRUE(find_mapi_dll(path)) << "found without the trailing 32";
    EXPECT_EQ(narrow(path), narrow(low));
    std::wstring high = place(system, L"qltestmapi.dll");
    ASSERT_TRUE(find_mapi_dll(path));
    EXPECT_EQ(narrow(path), narrow(high)) << "the system folder comes first";
}

TEST_F(Mail, SendsOneMessageWithTheFileAttached)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring log = std::wstring(temp) + L"qlmapi-test.log";
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"QL_MAPI_LOG", log.c_str());
    register_client(own_folder() + L"qlmapi.dll");
    g_options.output_name = QlStr(L"C:\\Some Folder\\pack.exe");
    ASSERT_TRUE(find_mapi_send_mail());
    send_mail(nullptr);
    release_mapi();
    std::ifstream in(narrow(log));
    std::map<std::string, std::string> got;
    std::string line;
    int files = 0;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            got[line.substr(0, eq)] = line.substr(eq + 1);
        files += line.rfind("file_path=", 0) == 0;
    }
    EXPECT_EQ(got["subject"], "pack.exe");
    EXPECT_EQ(got["note"], " ");
    EXPECT_EQ(got["files"], "1");
    EXPECT_EQ(files, 1);
    EXPECT_EQ(got["file_path"], "C:\\Some Folder\\pack.exe");
    EXPECT_EQ(got["file_name"], "pack.exe");
    EXPECT_EQ(got["file_type"], "(null)");
    EXPECT_EQ(got["recipients"], "0");
    EXPECT_EQ(got["originator"], "none");
    EXPECT_EQ(got["type"], "(null)");
    EXPECT_EQ(got["flags"], "0x9") << "MAPI_LOGON_UI | MAPI_DIALOG";
    DeleteFileW(log.c_str());
}

TEST_F(Mail, SpannedBuildOffersNoMailAndEmptyOutputSendsNothing)
{
    register_client(own_folder() + L"qlmapi.dll");
    g_options.spanning = true;
    EXPECT_FALSE(find_mapi_send_mail());
    g_options.spanning = false;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring log = std::wstring(temp) + L"qlmapi-empty.log";
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"QL_MAPI_LOG", log.c_str());
    ASSERT_TRUE(find_mapi_send_mail());
    send_mail(nullptr);
    EXPECT_EQ(GetFileAttributesW(log.c_str()), INVALID_FILE_ATTRIBUTES) << "no output name, no message";
}
