// Deletion at restart through "wininit.ini" or MoveFileExW.
#include "builder/setup/delexe.h"

#include <cstdio>

#include <windows.h>

#include "builder/setup/delexelines.h"
#include "common/QlHooks.h"
#include "common/QlWin32.h"

const wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kFileRenameOperationsKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\FileRenameOperations";
const wchar_t kPendingRenamesValue[] = L"PendingFileRenameOperations";

namespace {

const char kSource[] = "delexe";
const int kLineRoom = 512;  // a line of at most 511 bytes; a longer one is read in pieces

enum class Family { None, Win9x, NT };

Family platform_family()
{
    DWORD version = GetVersion();
    if ((version & 0x80000000u) == 0)
        return Family::NT;
    return (version & 0xFF) > 3 ? Family::Win9x : Family::None;
}

QlStr wininit_path()
{
    QlStr windows;
    if (!qlCheck(qlWin32GetWindowsDir(windows) > 0, kSource, kDelexeWindowsFolder))
        return QlStr();
    return windows + QL("\\wininit.ini");
}

// The lines of an open file; false when the reading stopped before the end
// (then no lines count as read).
bool read_lines(FILE* file, WininitLines& lines)
{
    lines.clear();
    char buffer[kLineRoom];
    while (fgets(buffer, kLineRoom, file))
        lines.push_back(buffer);
    if (ferror(file)) {
        lines.clear();
        return false;
    }
    return true;
}

bool write_lines(FILE* file, const WininitLines& lines)
{
    for (const std::string& line : lines)
        if (fputs(line.c_str(), file) < 0)
            return false;
    return true;
}

std::string ansi(const QlStr& text)
{
    QlStrNarrow narrow(text, 1);
    return narrow.Text() ? std::string(narrow.Text(), narrow.Length()) : std::string();
}

QlStr backslashed(const QlStr& path)
{
    QlStr out = path;
    out.ReplaceChar(QL('/'), QL('\\'));
    return out;
}

// The folder that goes with a path, or an empty text when it is a root.
QlStr folder_to_handle(const QlStr& path)
{
    QlStr folder = restart_containing_folder(path);
    return restart_is_root(folder) ? QlStr() : folder;
}

bool schedule_9x(const QlStr& path, bool also_folder)
{
    QlStr ini = wininit_path();
    if (!ini.HasText())
        return false;
    QlStr target = backslashed(path);
    WininitLines lines;
    FILE* file = _wfopen(ini.Text(), L"rt");
    if (file) {
        read_lines(file, lines);
        fclose(file);
        file = _wfopen(ini.Text(), L"wt");
        if (!lines.empty())
            qlCheck(file != nullptr, kSource, kDelexeReopen);
    } else {
        file = _wfopen(ini.Text(), L"wt");
    }
    if (!file)
        return false;
    wininit_schedule(lines, ansi(target), also_folder ? ansi(folder_to_handle(target)) : std::string());
    bool written = write_lines(file, lines);
    return fclose(file) == 0 && written;
}

bool cancel_9x(const QlStr& path)
{
    QlStr ini = wininit_path();
    if (!ini.HasText())
        return false;
    FILE* file = _wfopen(ini.Text(), L"rt");
    if (!file)
        return false;
    WininitLines lines;
    read_lines(file, lines);
    fclose(file);
    QlStr target = backslashed(path);
    if (!wininit_cancel(lines, ansi(target), ansi(folder_to_handle(target))))
        return true;
    file = _wfopen(ini.Text(), L"wt");
    if (!file)
        return false;
    bool written = write_lines(file, lines);
    return fclose(file) == 0 && written;
}

bool schedule_nt(const QlStr& path, bool also_folder)
{
    if (!MoveFileExW(path.Text(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        return false;
    QlStr folder = also_folder ? folder_to_handle(path) : QlStr();
    return !folder.HasText() || MoveFileExW(folder.Text(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

bool cancel_in_pending_value(QlRegKey& key, const QlStr& path, const QlStr& folder)
{
    QlBuf data;
    if (!key.QueryValue(QlStr(kPendingRenamesValue), data, kRegBitMultiSz))
        return true;
    std::vector<uint16_t> units(data.Size() / 2);
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = uint16_t(data.Data()[2 * i] | data.Data()[2 * i + 1] << 8);
    PendingOperations operations = split_pending_operations(units.data(), units.size());
    cancel_pending_operations(operations, path, folder);
    QlStringList strings;
    pending_operation_strings(operations, strings);
    QlBuf out;
    return out.SetMultiText(strings) && key.SetValue(QlStr(kPendingRenamesValue), out, REG_MULTI_SZ);
}

// The older form: one REG_SZ value per pending operation, named by its path.
bool cancel_in_fallback_key(QlRegKey& key, const QlStr& path, const QlStr& folder)
{
    for (const QlStr& wanted : {path, folder}) {
        if (!wanted.HasText())
            continue;
        DWORD index = 0;
        QlStr name;
        DWORD type = 0;
        QlBuf data;
        while (key.EnumValue(index, name, type, data)) {
            if (type == REG_SZ && name.MatchNoCase(wanted, 1)) {
                if (!key.DeleteValue(name))
                    return false;
                continue;  // the next value has moved to this index
            }
            ++index;
        }
    }
    return true;
}

bool cancel_nt(const QlStr& given)
{
    QlStr path = backslashed(given);
    // Network paths are recorded as "\??\UNC\server\...": match from the
    // second backslash on.
    if (path.Length() >= 2 && path.CharAt(0) == QL('\\') && path.CharAt(1) == QL('\\'))
        path.DropFirst();
    QlStr folder = folder_to_handle(backslashed(given));
    QlRegKey key(HKEY_LOCAL_MACHINE, QlStr(kSessionManagerKey));
    bool done;
    if (key.OpenEx(0, KEY_ALL_ACCESS)) {
        done = cancel_in_pending_value(key, path, folder);
    } else {
        key.Reset(HKEY_LOCAL_MACHINE, QlStr(kFileRenameOperationsKey));
        if (!key.OpenEx(0, KEY_ALL_ACCESS))
            return false;
        done = cancel_in_fallback_key(key, path, folder);
    }
    return key.Close() && done;
}

}  // namespace

bool schedule_delete_at_restart(const QlStr& path, bool also_folder, const QlStr& marker)
{
    if (marker.HasText() && GlobalFindAtomW(marker.Text()) == 0)
        GlobalAddAtomW(marker.Text());
    switch (platform_family()) {
    case Family::Win9x: return schedule_9x(path, also_folder);
    case Family::NT: return schedule_nt(path, also_folder);
    default: return false;
    }
}

bool cancel_delete_at_restart(const QlStr& path)
{
    switch (platform_family()) {
    case Family::Win9x: return cancel_9x(path);
    case Family::NT: return cancel_nt(path);
    default: return false;
    }
}
