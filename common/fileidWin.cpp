// The file-system side of QlFileId, and QlFileFind.
#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "common/QlHooks.h"
#include "common/fileid.h"

namespace {

const char kSource[] = "fileid";
const int kShortPathRoom = 2048;

bool HasWildcard(const QlStr& text)
{
    return text.ContainsAnyOf(L"*?");
}

}  // namespace

bool qlFileTimeToLocalDate(const FILETIME& time, QlDateTime& out)
{
    out.Clear();
    if (time.dwLowDateTime == 0 && time.dwHighDateTime == 0)
        return false;
    FILETIME local;
    SYSTEMTIME system;
    if (!FileTimeToLocalFileTime(&time, &local) || !FileTimeToSystemTime(&local, &system))
        return false;
    if (!qlDateIsValid(system.wYear, system.wMonth, system.wDay, system.wHour, system.wMinute,
                       system.wSecond, system.wMilliseconds))
        return false;
    out.FromSystemTime(system);
    return true;
}

// ---------------------------------------------------------------------------
// QlFileId

bool QlFileId::UseCurrentDir()
{
    // msvcrt allocates a buffer as long as the directory needs.
    wchar_t* current = _wgetdcwd(0, nullptr, 0);
    if (current == nullptr)
        return false;
    QlStr folder(current);
    std::free(current);
    folder.AddTrailingSlash();
    QlFileId parsed(folder);
    if (!parsed.IsSet())
        return false;
    QlStr oldDrive = m_drive;
    QlStr oldDirectory = m_directory;
    m_drive = parsed.m_drive;
    m_directory = parsed.m_directory;
    if (Join())
        return true;
    m_drive = oldDrive;
    m_directory = oldDirectory;
    return false;
}

bool QlFileId::MakeFullPath()
{
    if (!m_path.HasText())
        return false;
    DWORD room = GetFullPathNameW(m_path.Text(), 0, nullptr, nullptr);
    if (room == 0)
        return false;
    QlStr full;
    full.SetLength(int(room) + 1);
    DWORD length = GetFullPathNameW(m_path.Text(), room + 1, full.Buffer(), nullptr);
    if (length == 0 || length > room)
        return false;
    full.SetLength(int(length));
    return SetPath(full);
}

bool QlFileId::MakeShortPath()
{
    bool wildcards = HasWildcard(m_name) || HasWildcard(m_ext);
    QlStr source = m_path;
    if (wildcards) {
        if (!m_directory.HasText())
            return false;
        source = GetFolder();
    }
    if (!source.HasText())
        return false;
    QlStr shortPath;
    shortPath.SetLength(kShortPathRoom);
    DWORD length = GetShortPathNameW(source.Text(), shortPath.Buffer(), kShortPathRoom);
    if (length == 0)
        return false;
    if (!qlCheck(length < DWORD(kShortPathRoom), kSource, kFileIdShortPathRoom))
        return false;
    shortPath.SetLength(int(length));
    shortPath.MakeUpper();
    if (wildcards)
        shortPath.AddTrailingSlash().Append(GetFileName());
    return SetPath(shortPath);
}

QlStr QlFileId::FindOnDiskName(const QlStr& pattern)
{
    QlFileFind find(pattern, 255, 0, 1);
    QlStr name;
    if (find.Next(name))
        return name;
    return pattern.PathFileName();
}

// Each folder of the path is looked up below the prefix already rebuilt, so
// every element comes out as spelled on disk.
bool QlFileId::MakeLongPath()
{
    if (!IsSet())
        return false;
    QlStr rebuilt = m_drive;
    QlStr fileName = GetFileName();
    // A share followed by a relative folder or a bare name needs the
    // separator that the join puts there.
    bool unc = m_drive.Length() > 2;
    if (unc && (m_directory.HasText() || fileName.HasText()) &&
        !(m_directory.HasText() && qlGutzIsSeparator(m_directory.FirstChar())))
        rebuilt.AppendChar(L'\\');
    QlStr rest = m_directory;
    QlStr element;
    while (rest.PopPathElement(element)) {
        if (element.IsSlash()) {
            rebuilt.AppendChar(L'\\');
            continue;
        }
        if (element.IsDotEntry())
            rebuilt.Append(element);
        else
            rebuilt.Append(FindOnDiskName(rebuilt + element));
        rebuilt.AppendChar(L'\\');
    }
    if (fileName.HasText()) {
        if (HasWildcard(m_name) || HasWildcard(m_ext))
            rebuilt.Append(fileName);
        else
            rebuilt.Append(FindOnDiskName(rebuilt + fileName));
    }
    return SetPath(rebuilt);
}

// ---------------------------------------------------------------------------
// QlFileFind

QlFileFind::QlFileFind(const QlStr& pattern, uint32_t required, uint32_t excluded,
                       uint32_t skipDots)
    : m_attributes(0),
      m_size(0),
      m_pattern(pattern),
      m_handle(INVALID_HANDLE_VALUE),
      m_required(required),
      m_excluded(excluded),
      m_skipDots(skipDots)
{
}

QlFileFind::~QlFileFind()
{
    if (m_handle != INVALID_HANDLE_VALUE && !FindClose(m_handle))
        qlHostWin32Error(kSource, kFileFindClose);
}

bool QlFileFind::NextRaw(QlStr& name)
{
    name.Clear();
    if (!m_pattern.HasText())
        return false;
    WIN32_FIND_DATAW data;
    if (m_handle == INVALID_HANDLE_VALUE) {
        HANDLE handle = FindFirstFileW(m_pattern.Text(), &data);
        if (handle == INVALID_HANDLE_VALUE)
            return false;
        m_handle = handle;
    } else if (!FindNextFileW(m_handle, &data)) {
        return false;
    }
    m_attributes = data.dwFileAttributes;
    qlFileTimeToLocalDate(data.ftCreationTime, m_creation);
    qlFileTimeToLocalDate(data.ftLastAccessTime, m_lastAccess);
    qlFileTimeToLocalDate(data.ftLastWriteTime, m_lastWrite);
    m_size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    data.cFileName[MAX_PATH - 1] = 0;
    data.cAlternateFileName[13] = 0;
    m_name = data.cFileName;
    m_shortName = data.cAlternateFileName;
    m_shortName.TrimRight();
    if (!m_shortName.HasText())
        m_shortName = QlStr(m_name).MakeUpper();
    name = m_name;
    return true;
}

bool QlFileFind::Next(QlStr& name)
{
    while (NextRaw(name)) {
        bool accepted;
        if (name.IsDotEntry()) {
            accepted = m_skipDots == 0;
        } else {
            accepted = (m_required == 255 || (m_attributes & m_required) != 0) &&
                       (m_required == 0 || (m_attributes & m_excluded) == 0);
        }
        if (accepted)
            return true;
    }
    name.Clear();
    return false;
}

const QlDateTime& QlFileFind::TimeOfEntry(const QlDateTime& time) const
{
    qlCheck(m_handle != INVALID_HANDLE_VALUE, kSource, kFileFindNotOpen);
    return time;
}

const QlDateTime& QlFileFind::CreationTime() const
{
    return TimeOfEntry(m_creation);
}

const QlDateTime& QlFileFind::LastAccessTime() const
{
    return TimeOfEntry(m_lastAccess);
}

const QlDateTime& QlFileFind::LastWriteTime() const
{
    return TimeOfEntry(m_lastWrite);
}
