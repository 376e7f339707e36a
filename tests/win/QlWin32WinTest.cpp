// Registry keys and values, profile functions (ini files and the product's
// registry key) and the small wrappers, in Wine's registry. Each test keeps
// to keys of its own: the tests run side by side in one Wine prefix.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "common/QlWin32.h"
#include "tests/support/RecordingHooks.h"
#include "tests/support/TextShow.h"
#include "tests/win/WinTempFolder.h"

namespace {

std::string Show(const QlStr& s)
{
    return qlShowText(s);
}

std::vector<uint8_t> BytesOf(const QlBuf& buf)
{
    return std::vector<uint8_t>(buf.Data(), buf.Data() + buf.Size());
}

// A scratch key below HKCU\Software, removed at the end.
class ScratchKey {
public:
    explicit ScratchKey(const wchar_t* name)
    {
        wchar_t path[80];
        wsprintfW(path, L"Software\\QlTest-%s-%lx", name, GetCurrentProcessId());
        m_path = path;
    }
    ~ScratchKey() { qlWin32RegDeleteTree(HKEY_CURRENT_USER, m_path, QlStr()); }
    const QlStr& Path() const { return m_path; }
    QlStr Below(const wchar_t* sub) const { return m_path + L"\\" + sub; }

private:
    QlStr m_path;
};

bool KeyExists(HKEY parent, const QlStr& path)
{
    HKEY key;
    if (RegOpenKeyExW(parent, path.Text(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::string RawString(HKEY parent, const QlStr& path, const wchar_t* value)
{
    wchar_t data[256] = {};
    DWORD size = sizeof data - 2;
    DWORD type = 0;
    HKEY key;
    if (RegOpenKeyExW(parent, path.Text(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<no key>";
    LONG result = RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return "<none>";
    return qlShowText(data, int(lstrlenW(data)));
}

TEST(QlWin32Reg, KeyTreesAndTheirDeletion)
{
    ScratchKey scratch(L"tree");
    QlRegKey key(HKEY_CURRENT_USER, scratch.Below(L"a\\b\\c"));
    ASSERT_TRUE(key.Create(QlStr(kQlWin32KeyClass), 0, KEY_ALL_ACCESS));
    QlRegKeyInfo info;
    ASSERT_TRUE(key.QueryInfo(info));
    EXPECT_EQ(Show(info.className), "Quolla Application Data");
    key.Close();
    QlRegKey other(HKEY_CURRENT_USER, scratch.Below(L"a\\b2"));
    ASSERT_TRUE(other.Create(QlStr(), 0, KEY_ALL_ACCESS));
    other.Close();

    QlRegKey top(HKEY_CURRENT_USER, scratch.Below(L"a"));
    ASSERT_TRUE(top.Open());
    QlStr name;
    ASSERT_TRUE(top.EnumKey(0, name));
    EXPECT_TRUE(Show(name) == "b" || Show(name) == "b2") << Show(name);
    EXPECT_FALSE(top.EnumKey(2, name));
    EXPECT_EQ(top.Result(), ERROR_NO_MORE_ITEMS);
    EXPECT_FALSE(top.DeleteTree()) << "refused while open";
    EXPECT_FALSE(top.DeleteKey()) << "refused while open";
    ASSERT_TRUE(top.Close());

    qlTakeHookReports();
    EXPECT_TRUE(top.DeleteTree());
    EXPECT_EQ(qlShowReports(), "");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, scratch.Below(L"a")));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, scratch.Path()));
    EXPECT_FALSE(top.DeleteTree()) << "gone already";
    EXPECT_EQ(top.Result(), ERROR_FILE_NOT_FOUND);

    QlRegKey closed(HKEY_CURRENT_USER, QlStr());
    EXPECT_FALSE(closed.Open()) << "no path";
    QlRegKey unparented;
    EXPECT_FALSE(unparented.Open());

    // a named subtree of an open key, through the path function
    ASSERT_TRUE(QlRegKey(HKEY_CURRENT_USER, scratch.Below(L"x\\y\\z")).Create(QlStr(), 0, KEY_ALL_ACCESS));
    EXPECT_TRUE(qlWin32RegDeleteTree(HKEY_CURRENT_USER, scratch.Path(), QlStr(L"x")));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, scratch.Below(L"x")));
    EXPECT_FALSE(qlWin32RegDeleteTree(HKEY_CURRENT_USER, scratch.Path(), QlStr(L"x")));
    EXPECT_FALSE(qlWin32RegDeleteTree(HKEY_CURRENT_USER, scratch.Below(L"none"), QlStr(L"x")));
}

TEST(QlWin32Reg, ValuesAreReadTerminatedAndByType)
{
    ScratchKey scratch(L"values");
    QlRegKey key(HKEY_CURRENT_USER, scratch.Path());
    ASSERT_TRUE(key.Create(QlStr(), 0, KEY_ALL_ACCESS));
    const struct {
        const char* what;
        DWORD type;
        std::vector<uint8_t> stored;
        uint32_t mask;
        bool ok;
        std::vector<uint8_t> read;
    } cases[] = {
        {"terminated string", REG_SZ, {'a', 0, 'b', 0, 0, 0}, kRegBitsAll, true, {'a', 0, 'b', 0, 0, 0}},
        {"unterminated string", REG_SZ, {'a', 0, 'b', 0}, kRegBitSz, true, {'a', 0, 'b', 0, 0, 0}},
        {"odd byte count", REG_SZ, {'a', 0, 'b'}, kRegBitSz, true, {'a', 0, 'b', 0, 0, 0}},
        {"text after a NUL", REG_EXPAND_SZ, {'a', 0, 0, 0, 'b', 0}, kRegBitsAll, true, {'a', 0, 0, 0}},
        {"empty string data", REG_SZ, {}, kRegBitsAll, true, {0, 0}},
        {"multi without NULs", REG_MULTI_SZ, {'a', 0}, kRegBitsAll, true, {'a', 0, 0, 0, 0, 0}},
        {"multi with one NUL", REG_MULTI_SZ, {'a', 0, 0, 0}, kRegBitsAll, true, {'a', 0, 0, 0, 0, 0}},
        {"multi complete", REG_MULTI_SZ, {'a', 0, 0, 0, 0, 0}, kRegBitsAll, true, {'a', 0, 0, 0, 0, 0}},
        {"empty multi", REG_MULTI_SZ, {}, kRegBitsAll, true, {0, 0, 0, 0}},
        {"binary as stored", REG_BINARY, {1, 2, 3}, kRegBitBinary, true, {1, 2, 3}},
        {"dword", REG_DWORD, {4, 3, 2, 1}, kRegBitDword | kRegBitSz, true, {4, 3, 2, 1}},
        {"binary refused as text", REG_BINARY, {'a', 0, 'b', 0}, kRegBitSz, false, {}},
        {"string refused as dword", REG_SZ, {'1', 0, 0, 0}, kRegBitDword, false, {}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(RegSetValueExW(key.Key(), L"v", 0, c.type, c.stored.data(), DWORD(c.stored.size())),
                  ERROR_SUCCESS)
            << c.what;
        QlBuf data;
        data.SetText(QlStr(L"stale"));
        DWORD type = 99;
        EXPECT_EQ(key.QueryValue(QlStr(L"v"), data, c.mask, &type), c.ok) << c.what;
        EXPECT_EQ(BytesOf(data), c.read) << c.what;
        EXPECT_EQ(type, c.ok ? c.type : DWORD(REG_NONE)) << c.what;
    }

    QlBuf text;
    text.SetText(QlStr(L"hello"));
    ASSERT_TRUE(key.SetValue(QlStr(L"s"), text, REG_SZ));
    QlStr read(L"old");
    EXPECT_TRUE(qlWin32RegGetString(key, QlStr(L"s"), read));
    EXPECT_EQ(Show(read), "hello");
    EXPECT_FALSE(qlWin32RegGetString(key, QlStr(L"missing"), read));
    EXPECT_EQ(Show(read), "") << "emptied first";
    EXPECT_EQ(key.Result(), ERROR_FILE_NOT_FOUND);

    // enumeration: name, type and data
    ASSERT_TRUE(key.DeleteValue(QlStr(L"v")));
    QlStr name;
    DWORD type = 0;
    QlBuf data;
    ASSERT_TRUE(key.EnumValue(0, name, type, data));
    EXPECT_EQ(Show(name), "s");
    EXPECT_EQ(type, DWORD(REG_SZ));
    ASSERT_TRUE(data.GetText(read));
    EXPECT_EQ(Show(read), "hello");
    EXPECT_FALSE(key.EnumValue(1, name, type, data));

    EXPECT_TRUE(qlWin32RegDeleteValue(HKEY_CURRENT_USER, scratch.Path(), QlStr(L"s")));
    EXPECT_FALSE(key.QueryValue(QlStr(L"s"), data));
}

TEST(QlWin32Reg, ValueObjectsAndDefaultValues)
{
    ScratchKey scratch(L"object");
    SetEnvironmentVariableW(L"QLTESTDIR", L"C:\\qltest");
    QlRegKey key(HKEY_CURRENT_USER, scratch.Path());
    ASSERT_TRUE(key.Create(QlStr(), 0, KEY_ALL_ACCESS));
    const wchar_t expand[] = L"%QLTESTDIR%\\x";
    RegSetValueExW(key.Key(), L"e", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expand), sizeof expand);
    const DWORD number = 7;
    RegSetValueExW(key.Key(), L"n", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
    RegSetValueExW(key.Key(), L"z", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), 2);
    key.Close();

    QlStr text;
    QlRegValue expanded(scratch.Path(), QlStr(L"e"), HKEY_CURRENT_USER);
    ASSERT_TRUE(expanded.IsFound());
    ASSERT_TRUE(expanded.GetText(text));
    EXPECT_EQ(Show(text), "C:\\qltest\\x");
    QlRegValue kept(scratch.Path(), QlStr(L"e"), HKEY_CURRENT_USER, QlRegValue::kKeepUnexpanded);
    ASSERT_TRUE(kept.GetText(text));
    EXPECT_EQ(Show(text), "%QLTESTDIR%\\x");
    EXPECT_EQ(kept.Type(), DWORD(REG_EXPAND_SZ));

    QlRegValue dword(scratch.Path(), QlStr(L"n"), HKEY_CURRENT_USER);
    EXPECT_TRUE(dword.IsFound());
    EXPECT_FALSE(dword.IsEmpty());
    QlRegValue dwordAsText(scratch.Path(), QlStr(L"n"), HKEY_CURRENT_USER, kRegBitSz);
    EXPECT_FALSE(dwordAsText.IsFound()) << "only the accepted types";
    EXPECT_TRUE(dwordAsText.IsEmpty());
    EXPECT_EQ(dwordAsText.Data().Size(), 0u);
    QlRegValue empty(scratch.Path(), QlStr(L"z"), HKEY_CURRENT_USER);
    EXPECT_TRUE(empty.IsFound());
    EXPECT_TRUE(empty.IsEmpty()) << "a first unit of 0";
    QlRegValue missing(scratch.Below(L"none"), QlStr(L"n"), HKEY_CURRENT_USER);
    EXPECT_FALSE(missing.IsFound());

    // the default value of a key
    EXPECT_EQ(qlWin32RegSetValue(HKEY_CURRENT_USER, scratch.Below(L"d"), QlStr(L"open me")), ERROR_SUCCESS);
    QlStr value(L"old");
    EXPECT_EQ(qlWin32RegQueryValue(HKEY_CURRENT_USER, scratch.Below(L"d"), value), ERROR_SUCCESS);
    EXPECT_EQ(Show(value), "open me");
    EXPECT_NE(qlWin32RegQueryValue(HKEY_CURRENT_USER, scratch.Below(L"none"), value), ERROR_SUCCESS);
    EXPECT_EQ(Show(value), "");
}

const QlStr kProductFile(L"QUOLLA.INI");

QlStr ProductSection(const wchar_t* section)
{
    return QlStr(kQlWin32ProductKey) + L"\\" + section;
}

// The product "file" is the registry; the mirror reaches HKLM.
TEST(QlWin32Profile, ProductFileGoesToTheRegistry)
{
    const QlStr sections[] = {QlStr(L"QlTestA"), QlStr(L"Wizard"), QlStr(L"WinIni")};
    const struct {
        const char* what;
        const QlStr& section;
        bool mirror;
        bool machine;
    } cases[] = {
        {"another section, mirrored", sections[0], true, true},
        {"Wizard is never mirrored", sections[1], true, false},
        {"WinIni always is", sections[2], false, true},
    };
    for (const auto& c : cases) {
        QlStr path = ProductSection(c.section.Text());
        ASSERT_TRUE(qlWin32WritePrivateProfileString(c.section, QlStr(L"k"), QlStr(L"v"), kProductFile,
                                                     c.mirror))
            << c.what;
        EXPECT_EQ(RawString(HKEY_CURRENT_USER, path, L"k"), "v") << c.what;
        EXPECT_EQ(RawString(HKEY_LOCAL_MACHINE, path, L"k"), c.machine ? "v" : "<no key>") << c.what;
        QlStr out;
        EXPECT_EQ(qlWin32GetPrivateProfileString(c.section, QlStr(L"k"), QlStr(L"d"), out,
                                                 QlStr(L"quolla32.ini")),
                  1);
        EXPECT_EQ(Show(out), "v") << c.what;
    }
    QlStr out;
    qlWin32GetWinIniString(QlStr(L"Quolla Self-Extractor"), QlStr(L"k"), QlStr(L"d"), out);
    EXPECT_EQ(Show(out), "v") << "a product section of WIN.INI reads WinIni";

    // Deleting a value and a section: HKLM follows only for WinIni with matching versions.
    ASSERT_TRUE(qlWin32WritePrivateProfileString(sections[2], QlStr(L"win32_version"), QlStr(L"3"),
                                                 kProductFile));
    EXPECT_TRUE(qlWin32MachineSettingsMatch());
    EXPECT_TRUE(qlWin32WritePrivateProfileString(sections[2], QlStr(L"k"), QlStr::CtorNull(), kProductFile));
    EXPECT_EQ(RawString(HKEY_CURRENT_USER, ProductSection(L"WinIni"), L"k"), "<none>");
    EXPECT_EQ(RawString(HKEY_LOCAL_MACHINE, ProductSection(L"WinIni"), L"k"), "<none>");
    EXPECT_TRUE(qlWin32WritePrivateProfileString(sections[0], QlStr::CtorNull(), QlStr::CtorNull(),
                                                 kProductFile));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, ProductSection(L"QlTestA")));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, ProductSection(L"QlTestA"))) << "only WinIni is deleted machine-wide";
    EXPECT_TRUE(qlWin32WritePrivateProfileString(sections[2], QlStr::CtorNull(), QlStr::CtorNull(),
                                                 kProductFile));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, ProductSection(L"WinIni")));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ProductSection(L"WinIni")));

    qlTakeHookReports();
    EXPECT_FALSE(qlWin32WritePrivateProfileString(QlStr::CtorNull(), QlStr::CtorNull(), QlStr::CtorNull(),
                                                  kProductFile));
    EXPECT_EQ(qlShowReports(), "");
    EXPECT_FALSE(qlWin32WritePrivateProfileString(QlStr::CtorNull(), QlStr(L"k"), QlStr(L"v"), kProductFile));
    EXPECT_EQ(qlShowReports(), "assert QlWin32:702;");

    for (const QlStr& section : sections) {
        qlWin32RegDeleteTree(HKEY_CURRENT_USER, ProductSection(section.Text()), QlStr());
        qlWin32RegDeleteTree(HKEY_LOCAL_MACHINE, ProductSection(section.Text()), QlStr());
    }
}

TEST(QlWin32Profile, ProductNumbersAndStructs)
{
    const QlStr section(L"QlTestB");
    const struct {
        const wchar_t* stored;  // null: no value
        int read;
    } numbers[] = {{L"42", 42}, {L"-7", -7}, {L"12abc", 5}, {L"", 5}, {nullptr, 5}};
    for (const auto& n : numbers) {
        qlWin32WritePrivateProfileString(section, QlStr(L"n"), QlStr(n.stored), kProductFile);
        EXPECT_EQ(qlWin32GetPrivateProfileInt(section, QlStr(L"n"), 5, kProductFile), n.read)
            << qlShowText(QlStr(n.stored));
    }

    const uint8_t bytes[] = {0x01, 0x02, 0xFF};
    ASSERT_TRUE(qlWin32WritePrivateProfileStruct(section, QlStr(L"s"), bytes, 3, kProductFile));
    EXPECT_EQ(RawString(HKEY_CURRENT_USER, ProductSection(L"QlTestB"), L"s"), "0102FF02");
    uint8_t out[3] = {};
    EXPECT_TRUE(qlWin32GetPrivateProfileStruct(section, QlStr(L"s"), out, 3, kProductFile));
    EXPECT_EQ(out[2], 0xFF);
    qlWin32WritePrivateProfileString(section, QlStr(L"s"), QlStr(L"0102FF03"), kProductFile);
    EXPECT_FALSE(qlWin32GetPrivateProfileStruct(section, QlStr(L"s"), out, 3, kProductFile));
    EXPECT_FALSE(qlWin32GetPrivateProfileStruct(section, QlStr(L"none"), out, 3, kProductFile));

    // a value of another type is not a profile string
    qlWin32RegSetString(HKEY_CURRENT_USER, ProductSection(L"QlTestB"), QlStr(L"d"), QlStr(L"x"));
    {
        QlRegKey key(HKEY_CURRENT_USER, ProductSection(L"QlTestB"));
        ASSERT_TRUE(key.Open());
        QlBuf number;
        number.SetDword(9);
        key.SetValue(QlStr(L"d"), number, REG_DWORD);
    }
    QlStr text;
    EXPECT_EQ(qlWin32GetPrivateProfileString(section, QlStr(L"d"), QlStr(L"def"), text, kProductFile), 3);
    EXPECT_EQ(Show(text), "def");
    qlWin32RegDeleteTree(HKEY_CURRENT_USER, ProductSection(L"QlTestB"), QlStr());
}

TEST(QlWin32Profile, IniFiles)
{
    WinTempFolder dir;
    QlStr file((dir / L"Quoll.ini").c_str());
    const QlStr section(L"Main");
    ASSERT_TRUE(qlWin32WritePrivateProfileString(section, QlStr(L"name"), QlStr(L"value"), file, true));
    ASSERT_TRUE(qlWin32WritePrivateProfileString(section, QlStr(L"count"), QlStr(L"12"), file));
    QlStr out;
    EXPECT_EQ(qlWin32GetPrivateProfileString(section, QlStr(L"name"), QlStr(L"d"), out, file), 5);
    EXPECT_EQ(Show(out), "value");
    EXPECT_EQ(qlWin32GetPrivateProfileString(section, QlStr(L"none"), QlStr(L"d"), out, file), 1);
    EXPECT_EQ(Show(out), "d");
    EXPECT_EQ(qlWin32GetPrivateProfileInt(section, QlStr(L"count"), 3, file), 12);
    EXPECT_EQ(qlWin32GetPrivateProfileInt(section, QlStr(L"none"), 3, file), 3);

    const uint8_t bytes[] = {9, 8};
    ASSERT_TRUE(qlWin32WritePrivateProfileStruct(section, QlStr(L"s"), bytes, 2, file));
    uint8_t back[2] = {};
    EXPECT_TRUE(qlWin32GetPrivateProfileStruct(section, QlStr(L"s"), back, 2, file));
    EXPECT_EQ(back[0], 9);
    EXPECT_EQ(back[1], 8);

    ASSERT_TRUE(qlWin32WritePrivateProfileString(section, QlStr(L"name"), QlStr::CtorNull(), file));
    qlWin32GetPrivateProfileString(section, QlStr(L"name"), QlStr(L"gone"), out, file);
    EXPECT_EQ(Show(out), "gone");
    ASSERT_TRUE(qlWin32WritePrivateProfileString(section, QlStr::CtorNull(), QlStr::CtorNull(), file));
    EXPECT_EQ(qlWin32GetPrivateProfileInt(section, QlStr(L"count"), 3, file), 3);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, ProductSection(L"Main"))) << "nothing reached the registry";
}

TEST(QlWin32Misc, FoldersLibrariesAndTexts)
{
    QlStr system, windows;
    EXPECT_GT(qlWin32GetSystemDir(system), 3);
    EXPECT_EQ(system.Length(), int(lstrlenW(system.Text())));
    EXPECT_GT(qlWin32GetWindowsDir(windows), 2);
    EXPECT_TRUE(system.MatchNoCase(windows, 0)) << Show(system) << " below " << Show(windows);

    qlTakeHookReports();
    HMODULE kernel = qlWin32LoadLibrary(QlStr(L"kernel32.dll"));
    EXPECT_NE(kernel, nullptr);
    FreeLibrary(kernel);
    HMODULE byPath = qlWin32LoadLibrary(system + L"\\user32.dll");
    EXPECT_NE(byPath, nullptr);
    FreeLibrary(byPath);
    EXPECT_EQ(qlWin32LoadLibrary(QlStr(L"no-such-library.dll")), nullptr);
    EXPECT_EQ(qlShowReports(), "");
    EXPECT_EQ(qlWin32LoadLibrary(QlStr(L"")), nullptr);
    EXPECT_EQ(qlShowReports(), "assert QlWin32:948;");

    SetEnvironmentVariableW(L"QLTESTVAR", L"abc");
    QlStr expanded;
    ASSERT_TRUE(qlWin32ExpandEnvironmentStrings(QlStr(L"x%QLTESTVAR%y"), expanded));
    EXPECT_EQ(Show(expanded), "xabcy");

    HWND parent = CreateWindowW(L"STATIC", L"frame", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    HWND item = CreateWindowW(L"STATIC", L"", WS_CHILD, 0, 0, 5, 5, parent, HMENU(5), nullptr, nullptr);
    ASSERT_NE(item, nullptr);
    QlStr text(L"old");
    EXPECT_EQ(qlWin32GetWindowText(parent, text), 5);
    EXPECT_EQ(Show(text), "frame");
    EXPECT_EQ(qlWin32GetDlgItemText(parent, 5, text), 0);
    EXPECT_EQ(Show(text), "");
    EXPECT_TRUE(qlWin32SetDlgItemText(parent, 5, QlStr(L"item text")));
    EXPECT_EQ(qlWin32GetDlgItemText(parent, 5, text), 9);
    EXPECT_EQ(Show(text), "item text");
    EXPECT_TRUE(qlWin32SetWindowText(item, QlStr(L"\u00E9")));
    EXPECT_EQ(qlWin32GetWindowText(item, text), 1);
    EXPECT_EQ(Show(text), "\\u00E9");
    DestroyWindow(parent);
}

}  // namespace
