// The main archiver's location and settings.
#include "builder/setup/qlopts.h"

#include <windows.h>

#include "common/QlWin32.h"

namespace {

const wchar_t kShellCommand[] = L"quolla\\shell\\open\\command";
const wchar_t kWinIniSection[] = L"winini";
const wchar_t kWinIniFile[] = L"WIN.INI";
const wchar_t kIni16[] = L"quolla.ini";
const wchar_t kIni32[] = L"quolla32.ini";

int g_generation = 0;

// The archiver's own profile files are ordinary ini files: the Windows
// profile functions themselves, never the product-key redirection of the
// common library (their names begin with the product word).
QlStr read_ini(const wchar_t* file, const QlStr& section, const QlStr& key)
{
    QlStr out;
    qlWin32ReadIniString(section, key, QlStr(L""), out, QlStr(file));
    return out;
}

void write_ini(const wchar_t* file, const QlStr& section, const QlStr& key, const QlStr& text)
{
    WritePrivateProfileStringW(section.Text(), key.Text(), text.IsNull() ? nullptr : text.Text(),
                               file);
}

const wchar_t* own_ini(int generation)
{
    switch (generation) {
    case kArchiver16Bit: return kIni16;
    case kArchiver32Ini: return kIni32;
    default: return nullptr;
    }
}

QlStr registry_section(const QlStr& section, int store)
{
    return QlStr(kQlWin32ProductKey) + QL("\\") + (store == kArchiverOwn ? section : QlStr(kWinIniSection));
}

// Any value type: strings as their (first) text, a DWORD as its decimal
// number.
bool value_text(const QlBuf& data, DWORD type, QlStr& out)
{
    uint32_t number = 0;
    if ((type == REG_DWORD) && data.GetDword(number)) {
        out = QlStr(number, 10);
        return true;
    }
    return data.GetText(out);
}

int detect_generation()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kQlWin32ProductKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        return kArchiverRegistry;
    }
    QlStr command;
    if (!read_archiver_shell_command(command))
        qlWin32ReadIniString(QlStr(L"extensions"), QlStr(L"zip"), QlStr(L""), command,
                             QlStr(kWinIniFile));
    if (command.HasText()) {
        int named = archiver_generation_of_command(command);
        if (named != 0)
            return named;
    }
    QlStr section(L"quolla");
    QlStr opts(L"opts");
    if (read_ini(kIni32, section, opts).HasText())
        return kArchiver32Ini;
    if (read_ini(kIni16, section, opts).HasText())
        return kArchiver16Bit;
    return kArchiverNone;
}

}  // namespace

int archiver_generation_of_command(const QlStr& command)
{
    if (command.MatchNoCase(QlStr(L"quolla32.exe"), 2))
        return kArchiver32Ini;
    if (command.MatchNoCase(QlStr(L"quolla.exe"), 2))
        return kArchiver16Bit;
    return 0;
}

int get_archiver_generation()
{
    if (g_generation == 0)
        g_generation = detect_generation();
    return g_generation;
}

void read_archiver_setting(const QlStr& section, const QlStr& key, QlStr& out, int store)
{
    int generation = get_archiver_generation();
    if (generation == kArchiverRegistry) {
        QlRegKey reg(HKEY_CURRENT_USER, registry_section(section, store));
        QlBuf data;
        DWORD type = REG_NONE;
        QlStr text;
        if (reg.OpenEx(0, KEY_READ) && reg.QueryValue(key, data, kRegBitsAll, &type) &&
            value_text(data, type, text))
            out = text;
        return;
    }
    if (store == kArchiverWinIni) {
        qlWin32ReadIniString(section, key, QlStr(L""), out, QlStr(kWinIniFile));
        return;
    }
    const wchar_t* ini = own_ini(generation);
    if (ini)
        out = read_ini(ini, section, key);
    else
        out.Clear();
}

void write_archiver_setting(const QlStr& section, const QlStr& key, const QlStr& text, int store)
{
    int generation = get_archiver_generation();
    if (generation == kArchiverRegistry) {
        // The section's key is not created: an archiver that never had it
        // does not read it either.
        QlRegKey reg(HKEY_CURRENT_USER, registry_section(section, store));
        if (!reg.OpenEx(0, KEY_ALL_ACCESS))
            return;
        QlBuf data;
        if (text.HasText())
            data.SetText(text);
        reg.SetValue(key, data, REG_SZ);
        return;
    }
    if (store == kArchiverWinIni) {
        write_ini(kWinIniFile, section, key, text);
        return;
    }
    const wchar_t* ini = own_ini(generation);
    if (ini)
        write_ini(ini, section, key, text);
}

int get_archiver_version(QlStr& out)
{
    QlStr key = get_archiver_generation() == kArchiver16Bit ? QlStr(L"version") : QlStr(L"win32_version");
    read_archiver_setting(QlStr(L"quolla"), key, out, kArchiverWinIni);
    return out.Length();
}

QlStr get_archiver_zip2exe()
{
    QlStr out;
    read_archiver_setting(QlStr(L"programs"), QlStr(L"zip2exe"), out, kArchiverOwn);
    return out;
}

void set_archiver_zip2exe(const QlStr& path)
{
    write_archiver_setting(QlStr(L"programs"), QlStr(L"zip2exe"), path, kArchiverOwn);
}

bool have_32bit_archiver()
{
    int generation = get_archiver_generation();
    return generation == kArchiver32Ini || generation == kArchiverRegistry;
}

int archiver_version_number(const QlStr& text)
{
    int i = 0;
    int n = text.Length();
    while (i < n && text.CharAt(i) == QL(' '))
        ++i;
    if (i >= n || text.CharAt(i) < QL('0') || text.CharAt(i) > QL('9'))
        return -1;
    int major = 0;
    while (i < n && text.CharAt(i) >= QL('0') && text.CharAt(i) <= QL('9') && major < 100000)
        major = major * 10 + (text.CharAt(i++) - QL('0'));
    int minor = 0;
    if (i < n && text.CharAt(i) == QL('.')) {
        ++i;
        int digits = 0;
        while (i < n && text.CharAt(i) >= QL('0') && text.CharAt(i) <= QL('9') && digits < 2) {
            minor = minor * 10 + (text.CharAt(i++) - QL('0'));
            ++digits;
        }
    }
    return major * 100 + minor;
}

bool archiver_version_at_least_5_6()
{
    QlStr version;
    get_archiver_version(version);
    return archiver_version_number(version) >= 506;
}

bool read_archiver_shell_command(QlStr& command)
{
    return qlWin32RegQueryValue(HKEY_CLASSES_ROOT, QlStr(kShellCommand), command) == ERROR_SUCCESS;
}
