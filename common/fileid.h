// QlFileId: a Windows path split into drive, directory, name and extension,
// together with the joined full path; QlFileFind: directory enumeration with
// attribute filters.
//
// Every change is checked and either fully applied or not applied at all: a
// setter keeps what it changes and puts it back when the new path does not
// join. After a failed parse at construction all five strings are null and
// the object refuses changes until SetPath succeeds.
//
// Limits: full path 260 units; directory, name and extension 256 each.
// Reserved device names (any case): aux, con, prn, nul, conin$, conout$,
// lpt1-9, com1-9, judged on the part of an element before its first dot.
//
// The parsing, checks and joins are pure code. Current directory, absolute,
// short and long forms and the enumeration need the file system and live in
// fileidWin.cpp (Windows only).
#pragma once

#include <cstdint>

#include "common/QlString.h"
#include "common/datetime.h"

// Lines named in the reports of the fileid source.
enum QlFileIdLine {
    kFileIdShortPathRoom = 512,   // GetShortPathNameW wanted 2048 units or more
    kFileFindNotOpen = 803,       // an entry's times asked for before the first entry
    kFileFindClose = 846,         // FindClose failed (Win32 error)
};

const int kQlFileIdMaxPath = 260;  // units of a full path
const int kQlFileIdMaxPart = 256;  // units of a directory, name or extension

// --- checks: null is invalid, empty valid
bool qlFileIdIsValidDrive(const QlStr& drive);    // "X:" or "\\server\share"
bool qlFileIdIsValidDir(const QlStr& directory);  // no ':', no device element
bool qlFileIdIsValidName(const QlStr& name);      // no '\', '/', ':'; not a device
bool qlFileIdIsValidExt(const QlStr& ext);        // no '\', '/', ':', '.'
bool qlFileIdIsValidLength(const QlStr& path);    // at most 260 units
// The part before the first dot is a reserved device name, as Windows and
// the engine judge it (`qlZipNameIsDevice`): "con", "CON.txt", "com1.log"
// and "con.tar.gz" are, "console" and "com10" are not.
bool qlFileIdIsDeviceName(const QlStr& text);
// One of the six device words occurs anywhere in the text (any case); a cheap
// pre-check before the element walk.
bool qlFileIdHasDeviceWord(const QlStr& text);
// An element of the path (between separators) would climb to the parent
// folder: "..", or ".." followed only by dots and blanks, which Windows trims
// off to "..". The path object itself accepts such elements; callers that
// join a path below a folder of their own refuse them with this check.
bool qlFileIdHasParentElement(const QlStr& path);

class QlFileId {
public:
    QlFileId();                               // all parts empty
    explicit QlFileId(const QlStr& path);     // null parts when it does not parse
    explicit QlFileId(const QlChar* path);
    QlFileId(const QlFileId& other);
    QlFileId& operator=(const QlFileId& other) { return Assign(other); }
    ~QlFileId();

    static QlFileId CtorEmpty() { return QlFileId(); }
    static QlFileId CtorPath(const QlStr& path) { return QlFileId(path); }
    static QlFileId CtorCopy(const QlFileId& other) { return QlFileId(other); }
    QlFileId& Assign(const QlFileId& other);

    // --- parts
    QlStr GetPath() const { return m_path; }
    QlStr GetDrive() const { return m_drive; }
    QlStr GetDirectory() const { return m_directory; }
    QlStr GetName() const { return m_name; }
    QlStr GetExt() const { return m_ext; }
    bool HasDot() const { return m_hasDot != 0; }
    bool IsSet() const { return m_path.IsNotNull(); }
    bool HasDir() const { return m_directory.HasText(); }
    QlStr GetFileName() const;  // name.ext ("name." when the dot was given)
    QlStr GetFolder() const;    // drive + directory

    // --- changes: false (and the object as it was) when refused
    bool SetPath(const QlStr& path);
    bool SetDrive(const QlStr& drive);
    bool SetDriveText(const QlChar* drive) { return SetDrive(QlStr(drive)); }
    bool SetExtension(const QlStr& ext);
    bool SetExtensionNarrow(const char* ext, int selector) { return SetExtension(QlStr(ext, selector)); }
    // Takes name and extension of the text parsed as a path.
    bool SetFileName(const QlStr& fileName);
    bool SetFileNameText(const QlChar* fileName) { return SetFileName(QlStr(fileName)); }
    bool SetFileNameNarrow(const char* fileName, int selector)
    {
        return SetFileName(QlStr(fileName, selector));
    }

#ifdef _WIN32
    // --- the file system
    // Drive and directory become the current directory of the current drive.
    bool UseCurrentDir();
    bool MakeFullPath();   // absolute form (GetFullPathNameW)
    bool MakeShortPath();  // 8.3 form in upper case; wildcards in name.ext kept
    bool MakeLongPath();   // every element as spelled on disk; wildcards kept
    // name.ext of the first entry matching the pattern as stored on disk; the
    // pattern's own name.ext when nothing matches.
    static QlStr FindOnDiskName(const QlStr& pattern);
#endif

private:
    struct Parts;
    bool Split(const QlStr& path);  // parts from the text; nothing changes on failure
    bool Join();                    // full path from the parts; nothing changes on failure
    void SetAllNull();

    QlStr m_drive;
    QlStr m_directory;
    QlStr m_name;
    QlStr m_ext;
    uint8_t m_hasDot;
    QlStr m_path;
};

#ifdef _WIN32
struct _FILETIME;
// A file time (UTC) as a local date; false and the date cleared when the time
// is zero or has no valid local date.
bool qlFileTimeToLocalDate(const _FILETIME& time, QlDateTime& out);

// Entries of one search pattern, read on demand; cannot be restarted.
class QlFileFind {
public:
    // Required mask 255: any entry; otherwise an entry must share a bit with
    // it, and must share none with the excluded mask. skipDots 1 skips "." and
    // "..", 0 returns them whatever the masks say.
    QlFileFind(const QlStr& pattern, uint32_t required = 255, uint32_t excluded = 0,
               uint32_t skipDots = 1);
    ~QlFileFind();
    QlFileFind(const QlFileFind&) = delete;
    QlFileFind& operator=(const QlFileFind&) = delete;

    bool Next(QlStr& name);     // next accepted entry; name empty and false at the end
    bool NextRaw(QlStr& name);  // next entry without filters

    uint32_t Attributes() const { return m_attributes; }
    bool IsDirectory() const { return (m_attributes & 0x10) != 0; }
    uint64_t Size() const { return m_size; }
    QlStr Name() const { return m_name; }
    QlStr ShortName() const { return m_shortName; }
    // Local times of the entry; unset when stored as zero or invalid.
    const QlDateTime& CreationTime() const;
    const QlDateTime& LastAccessTime() const;
    const QlDateTime& LastWriteTime() const;

private:
    const QlDateTime& TimeOfEntry(const QlDateTime& time) const;

    uint32_t m_attributes;
    QlDateTime m_creation;
    QlDateTime m_lastAccess;
    QlDateTime m_lastWrite;
    uint64_t m_size;
    QlStr m_name;
    QlStr m_shortName;
    QlStr m_pattern;
    void* m_handle;  // INVALID_HANDLE_VALUE until the first entry is read
    uint32_t m_required;
    uint32_t m_excluded;
    uint32_t m_skipDots;
};
#endif
