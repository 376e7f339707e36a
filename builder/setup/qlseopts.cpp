// The builder's registry services and its settings report.
#include "builder/setup/qlseopts.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cstdio>

#include "common/QlHooks.h"
#include "common/QlWin32.h"

const wchar_t kBuilderRegistryKey[] = L"SOFTWARE\\Ostrel Zivevevoz\\Quolla Self-Extractor";
const wchar_t kMakerRegistryKey[] = L"SOFTWARE\\Ostrel Zivevevoz";

namespace {

const char kSource[] = "qlseopts";
const int kTreeNameRoom = 262;
const DWORD kEmptyNameRoom = 300;
const int kReportMaxLevel = 10;
const DWORD kReportMaxEntries = 256;

QlStr version_key_path()
{
    QlStr path;
    path.Format(L"%s\\%s", kBuilderRegistryKey, L"Ver.");
    return path;
}

// The report: one line at a time, each converted to the ANSI code page and
// written with its length (the text mode makes "\n" a CR LF).
class Report {
public:
    explicit Report(int file) : file_(file) {}
    bool Failed() const { return failed_; }

    void Key(QlRegKey& key, int level)
    {
        if (level > kReportMaxLevel) {
            Line(QlStr(L"error=Maximum Number of levels exceeded\n"));
            return;
        }
        QlStr indent = QlStr::CtorRepeat(QL(' '), 2 * (level + 1));
        for (DWORD index = 0;; ++index) {
            if (index == kReportMaxEntries) {
                Line(QlStr(L"error=Maximum Number of keys exceeded\n"));
                break;
            }
            QlStr name;
            if (!key.EnumKey(index, name))
                break;
            Line(indent + QL("[") + name + QL("]\n"));
            // A key that does not open keeps its bracketed line only.
            QlRegKey sub(key.Key(), name);
            if (!sub.OpenEx(0, KEY_READ))
                continue;
            if (Values(sub, indent) > 0)
                Line(QlStr(L"\n"));
            Key(sub, level + 1);
        }
    }

private:
    void Line(const QlStr& text)
    {
        QlStrNarrow narrow(text, 1);
        if (narrow.Text() && narrow.Length() > 0 &&
            _write(file_, narrow.Text(), unsigned(narrow.Length())) != narrow.Length())
            failed_ = true;
    }

    // The values of one key in index order; the number written.
    int Values(QlRegKey& key, const QlStr& indent)
    {
        int written = 0;
        for (DWORD index = 0;; ++index) {
            if (index == kReportMaxEntries) {
                Line(QlStr(L"error=Maximum Number of values exceeded\n"));
                break;
            }
            QlStr name;
            DWORD type = REG_NONE;
            QlBuf data;
            if (!key.EnumValue(index, name, type, data))
                break;
            QlStr line = indent + (name.HasText() ? name : QlStr(L"(Default)")) + QL("=");
            if (type == REG_SZ) {
                QlStr text;
                data.GetText(text);
                line += text;
            } else if (type == REG_DWORD) {
                // Most significant byte first: the value reads as one number.
                uint8_t b[4] = {};
                for (uint32_t i = 0; i < 4 && i < data.Size(); ++i)
                    b[i] = data.Data()[i];
                QlStr number;
                number.Format(L"0x%.2x%.2x%.2x%.2x", b[3], b[2], b[1], b[0]);
                line += number;
            } else {
                line += QL("????????");
            }
            Line(line + QL("\n"));
            ++written;
        }
        return written;
    }

    int file_;
    bool failed_ = false;
};

}  // namespace

LONG delete_key_tree(HKEY parent, const QlStr& path)
{
    QlRegKey key(parent, path);
    if (!key.OpenEx(0, KEY_ALL_ACCESS))
        return key.Result();
    LONG result;
    for (;;) {
        wchar_t name[kTreeNameRoom];
        if (RegEnumKeyW(key.Key(), 0, name, kTreeNameRoom) != ERROR_SUCCESS) {
            result = RegDeleteKeyW(parent, path.Text());
            break;
        }
        name[kTreeNameRoom - 1] = 0;
        QlStr child = path + QL("\\") + QlStr(name);
        // A path past the room would name another key: stop as a failure.
        if (child.Length() > kTreeNameRoom) {
            result = ERROR_FILENAME_EXCED_RANGE;
            break;
        }
        result = delete_key_tree(parent, child);
        if (result != ERROR_SUCCESS)
            break;
    }
    key.Close();
    return result;
}

LONG delete_key_if_empty(HKEY parent, const QlStr& path)
{
    HKEY key = nullptr;
    LONG result = RegOpenKeyExW(parent, path.Text(), 0, KEY_READ, &key);
    if (result != ERROR_SUCCESS)
        return result;
    wchar_t name[kEmptyNameRoom];
    DWORD length = kEmptyNameRoom;
    bool holds = RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) ==
                 ERROR_SUCCESS;
    length = kEmptyNameRoom;
    if (!holds)
        holds = RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) ==
                ERROR_SUCCESS;
    RegCloseKey(key);
    return holds ? ERROR_ACCESS_DENIED : RegDeleteKeyW(parent, path.Text());
}

int read_installed_version(char* buffer260)
{
    buffer260[0] = 0;
    QlStrNarrow path(version_key_path(), 1);
    LONG size = 260;
    if (RegQueryValueA(HKEY_LOCAL_MACHINE, path.Text(), buffer260, &size) != ERROR_SUCCESS) {
        buffer260[0] = 0;
        return 0;
    }
    buffer260[259] = 0;
    return lstrlenA(buffer260);
}

int write_installed_version(const QlStr& text)
{
    return qlWin32RegSetValue(HKEY_LOCAL_MACHINE, version_key_path(), text) == ERROR_SUCCESS ? 0 : 1;
}

QlStr settings_report_path(const QlStr& path)
{
    QlStr report = path;
    int dot = report.FindLastChar(QL('.'), report.Length());
    int slash = report.FindLastChar(QL('\\'), report.Length());
    int other = report.FindLastChar(QL('/'), report.Length());
    if (other > slash)
        slash = other;
    if (dot > slash)
        report.KeepRange(0, dot);
    return report + QL(".txt");
}

QlStr dump_settings_report(const QlStr& path)
{
    if (!qlCheck(path.HasText(), kSource, kQlseOptsReportPath))
        return QlStr();
    QlStr report = settings_report_path(path);
    _wremove(report.Text());
    // Truncated as well as created: a file that survived the deletion must
    // not keep a tail of an older report.
    int file = _wsopen(report.Text(), _O_CREAT | _O_TRUNC | _O_WRONLY | _O_TEXT, _SH_DENYRW,
                       _S_IREAD | _S_IWRITE);
    if (file < 0)
        return QlStr();
    Report writer(file);
    QlRegKey maker(HKEY_CURRENT_USER, QlStr(kMakerRegistryKey));
    if (maker.OpenEx(0, KEY_READ))
        writer.Key(maker, 0);
    maker.Close();
    bool closed = _close(file) == 0;
    return closed && !writer.Failed() ? report : QlStr();
}
