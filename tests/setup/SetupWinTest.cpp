// The registry services and the special-folder and shortcut services of the
// installation environment, on keys and folders of their own in the shared
// Wine prefix (the tests of the whole steps run in a prefix of their own).
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "builder/setup/QlSplFdr.h"
#include "builder/setup/Win95.h"
#include "builder/setup/qlseopts.h"
#include "common/QlWin32.h"
#include "tests/support/RecordingHooks.h"

namespace {

QlStr Scratch(const wchar_t* name)
{
    wchar_t path[96];
    wsprintfW(path, L"Software\\QlSetupTest-%s-%lx", name, GetCurrentProcessId());
    return QlStr(path);
}

bool KeyExists(const QlStr& path)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.Text(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void Make(const QlStr& path, const wchar_t* value = nullptr)
{
    ASSERT_TRUE(qlWin32RegSetString(HKEY_CURRENT_USER, path, QlStr(value ? value : L"v"), QlStr(L"x")));
    if (!value)
        qlWin32RegDeleteValue(HKEY_CURRENT_USER, path, QlStr(L"v"));
}

TEST(SetupRegistry, DeleteKeyTree)
{
    QlStr root = Scratch(L"tree");
    Make(root + L"\\a\\b\\c", L"deep");
    Make(root + L"\\a\\b2");
    Make(root + L"\\d");
    EXPECT_EQ(delete_key_tree(HKEY_CURRENT_USER, root), 0);
    EXPECT_FALSE(KeyExists(root));
    EXPECT_EQ(delete_key_tree(HKEY_CURRENT_USER, root), ERROR_FILE_NOT_FOUND);

    // A child that cannot go (its path is longer than the deletion takes)
    // stops it with its result, and the key stays.
    QlStr kept = Scratch(L"kept");
    QlStr longName = QlStr::CtorRepeat(QL('n'), 240);
    Make(kept + L"\\" + longName);
    EXPECT_EQ(delete_key_tree(HKEY_CURRENT_USER, kept), ERROR_FILENAME_EXCED_RANGE);
    EXPECT_TRUE(KeyExists(kept + L"\\" + longName));
    qlWin32RegDeleteTree(HKEY_CURRENT_USER, kept, QlStr());
}

TEST(SetupRegistry, DeleteKeyIfEmpty)
{
    QlStr key = Scratch(L"empty");
    ASSERT_EQ(qlWin32RegSetValue(HKEY_CURRENT_USER, key, QlStr(L"default only")), ERROR_SUCCESS);
    EXPECT_EQ(delete_key_if_empty(HKEY_CURRENT_USER, key), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(KeyExists(key));
    qlWin32RegDeleteValue(HKEY_CURRENT_USER, key, QlStr::CtorNull());
    Make(key + L"\\child");
    EXPECT_EQ(delete_key_if_empty(HKEY_CURRENT_USER, key), ERROR_ACCESS_DENIED);
    delete_key_tree(HKEY_CURRENT_USER, key + L"\\child");
    EXPECT_EQ(delete_key_if_empty(HKEY_CURRENT_USER, key), 0);
    EXPECT_FALSE(KeyExists(key));
    EXPECT_EQ(delete_key_if_empty(HKEY_CURRENT_USER, key), ERROR_FILE_NOT_FOUND);
}

TEST(SetupRegistry, SettingsReportPath)
{
    EXPECT_EQ(settings_report_path(QlStr(L"D:\\x\\settings.dat")), QL("D:\\x\\settings.txt"));
    EXPECT_EQ(settings_report_path(QlStr(L"D:\\x.y\\qlxtra32")), QL("D:\\x.y\\qlxtra32.txt"));
}

TEST(SetupFolders, CreateShortcutAndRemove)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    wchar_t name[64];
    wsprintfW(name, L"QlSetupTest-%lx", GetCurrentProcessId());
    QlSpecialFolder folder(CSIDL_APPDATA, QlStr(name));
    ASSERT_TRUE(folder.Path().HasText());
    EXPECT_EQ(folder.Path().PathFileName(), QlStr(name));
    EXPECT_TRUE(folder.Create());
    EXPECT_FALSE(folder.Create()) << "made twice";
    QlSpecialFolder orphan(CSIDL_APPDATA, QlStr(name) + L"\\missing\\child");
    EXPECT_FALSE(orphan.Create()) << "a missing parent";

    QlShortcut manual;
    manual.flags = QlShortcut::kDescription | QlShortcut::kArguments | QlShortcut::kShowCommand;
    manual.target = QL("\"C:\\windows\\notepad.exe\"");
    manual.description = QL("Online Manual");
    manual.arguments = QL("readme.txt");
    manual.show_command = 3;
    qlSetComStarted(false);
    EXPECT_FALSE(folder.CreateShortcut(manual)) << "without COM started by the program";
    qlSetComStarted(true);
    EXPECT_TRUE(folder.CreateShortcut(manual));
    EXPECT_TRUE(folder.ShortcutExists(QlStr(L"Online Manual")));
    EXPECT_EQ(folder.ShortcutPath(QlStr(L"Online Manual")), folder.Path() + L"\\Online Manual.lnk");
    EXPECT_TRUE(folder.RecreateShortcut(manual));
    EXPECT_TRUE(folder.DeleteShortcut(QlStr(L"Online Manual")));
    EXPECT_FALSE(folder.DeleteShortcut(QlStr(L"Online Manual")));
    EXPECT_TRUE(folder.CreateShortcut(manual));
    EXPECT_TRUE(folder.Remove());
    EXPECT_FALSE(folder.Exists());
    EXPECT_TRUE(qlTakeHookReports().empty());
    qlSetComStarted(false);
    CoUninitialize();
}

TEST(SetupFolders, ShortcutPaths)
{
    QlStr path;
    EXPECT_TRUE(get_special_folder_shortcut_path(path, CSIDL_APPDATA, QlStr(L"Tool")));
    EXPECT_TRUE(path.MatchNoCase(QlStr(L"\\Tool.lnk"), 1)) << path.ToUtf8Static();
    // A special folder this system does not have: no path.
    EXPECT_FALSE(get_special_folder_shortcut_path(path, 0x7E, QlStr(L"Tool")));
    EXPECT_FALSE(path.HasText());
    QlSpecialFolder none(0x7E, QlStr(L"Group"));
    EXPECT_FALSE(none.Path().HasText());
    EXPECT_FALSE(none.Create());
    EXPECT_TRUE(qlTakeHookReports().empty());
}

}  // namespace
