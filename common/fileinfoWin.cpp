// QlFileInfo: lookups on disk.
#include <windows.h>

#include "common/fileid.h"
#include "common/fileinfo.h"

namespace {

// The absolute path to look up, without the trailing separator that
// FindFirstFileW does not take (kept on a root); false for wildcards and
// paths that do not parse.
bool PreparePath(const QlStr& path, QlStr& prepared)
{
    if (path.ContainsAnyOf(L"*?"))
        return false;
    QlFileId id(path);
    if (!id.IsSet() || !id.MakeFullPath())
        return false;
    prepared = id.GetPath();
    prepared.StripTrailingSlash();
    return true;
}

bool FindEntry(const QlStr& path, WIN32_FIND_DATAW& data)
{
    HANDLE find = FindFirstFileW(path.Text(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    FindClose(find);
    data.cFileName[MAX_PATH - 1] = 0;
    data.cAlternateFileName[13] = 0;
    return true;
}

// The path names the entry by its 8.3 name: it ends with that name as a
// whole element.
bool NamedByShortName(const QlStr& path, const QlStr& longName, const QlStr& shortName)
{
    if (!shortName.HasText() || qlStrEqualNoCase(shortName, longName) ||
        !path.MatchNoCase(shortName, 1))
        return false;
    int before = path.Length() - shortName.Length() - 1;
    return before < 0 || path.CharAt(before) == L'\\' || path.CharAt(before) == L'/' ||
           path.CharAt(before) == L':';
}

}  // namespace

bool qlFileInfoIsDriveRoot(const QlStr& path)
{
    if (!qlFileInfoIsRoot(path))
        return false;
    QlStr root(path);
    root.AddTrailingSlash();
    UINT type = GetDriveTypeW(root.Text());
    return type != DRIVE_UNKNOWN && type != DRIVE_NO_ROOT_DIR;
}

void qlFileInfoSetTimes(const WIN32_FIND_DATAW& data, QlFileInfo& info)
{
    if (!qlFileTimeToLocalDate(data.ftLastWriteTime, info.lastWriteTime))
        qlFileTimeToLocalDate(data.ftCreationTime, info.lastWriteTime);
    if (!qlFileTimeToLocalDate(data.ftLastAccessTime, info.lastAccessTime))
        info.lastAccessTime = info.lastWriteTime;
    if (!qlFileTimeToLocalDate(data.ftCreationTime, info.creationTime))
        info.creationTime = info.lastWriteTime;
}

bool qlFileInfoStat(const QlStr& path, QlFileInfo& info, bool withTimes)
{
    QlStr prepared;
    if (!PreparePath(path, prepared))
        return false;
    WIN32_FIND_DATAW data;
    if (FindEntry(prepared, data)) {
        if (withTimes)
            qlFileInfoSetTimes(data, info);
        QlStr longName(data.cFileName);
        QlStr shortName(data.cAlternateFileName);
        info.name = NamedByShortName(prepared, longName, shortName) ? shortName : longName;
        info.attributes = data.dwFileAttributes;
        info.size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    } else if (qlFileInfoIsDriveRoot(prepared)) {
        info.lastAccessTime.Set(1980, 1, 1, 0, 0, 0, 0);
        info.lastWriteTime.Set(1980, 1, 1, 0, 0, 0, 0);
        info.creationTime.Set(1980, 1, 1, 0, 0, 0, 0);
        info.name.Clear();
        info.attributes = FILE_ATTRIBUTE_DIRECTORY;
        info.size = 0;
    } else {
        return false;
    }
    info.mode = qlFileInfoMode(prepared, info.attributes);
    return true;
}

bool qlFileInfoExists(const QlStr& path)
{
    QlStr prepared;
    if (!PreparePath(path, prepared))
        return false;
    WIN32_FIND_DATAW data;
    return FindEntry(prepared, data) || qlFileInfoIsDriveRoot(prepared);
}
