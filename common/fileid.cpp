// QlFileId: parsing, checks and joins; the QlStr path-part functions.
#include "common/fileid.h"

#include "common/QlGutz.h"
#include "common/zipname.h"

namespace {

const QlChar kBackslash = QL('\\');

QlChar Lower(QlChar unit)
{
    return (unit >= 'A' && unit <= 'Z') ? static_cast<QlChar>(unit + ('a' - 'A')) : unit;
}

// The first three units of text equal word (lower case ASCII), any case.
bool StartsWithWord(const QlChar* text, const char* word)
{
    for (int i = 0; i < 3; ++i) {
        if (Lower(text[i]) != static_cast<QlChar>(word[i]))
            return false;
    }
    return true;
}

const char* const kDeviceWords3[] = {"aux", "con", "prn", "nul"};
const char* const kDeviceWords4[] = {"lpt", "com"};

// Windows opens an element whose part before the first dot is a device
// name as that device ("con.tar.gz" is CON): the engine's rule, so that a
// path the builder accepts is one the stub would write too.
bool IsDeviceUnits(const QlChar* text, int length)
{
    return text != nullptr && qlZipNameIsDevice(text, length);
}

// Name without the device test: the split and the join test the device name
// on name.ext as a whole.
bool IsValidNameUnits(const QlStr& name)
{
    return name.IsNotNull() && name.Length() <= kQlFileIdMaxPart && !name.ContainsAnyOf(QL("\\/:"));
}

QlStr FileNameOf(const QlStr& name, const QlStr& ext, bool hasDot)
{
    QlStr fileName(name);
    if (ext.IsNotNull()) {
        if (hasDot || ext.HasText())
            fileName.AppendChar(QL('.'));
        fileName.Append(ext);
    }
    return fileName;
}

bool IsValidFileName(const QlStr& name, const QlStr& ext, bool hasDot)
{
    if (!IsValidNameUnits(name) || !qlFileIdIsValidExt(ext))
        return false;
    QlStr fileName = FileNameOf(name, ext, hasDot);
    return !IsDeviceUnits(fileName.Text(), fileName.Length());
}

// The directory last accepted by qlFileIdIsValidDir, so that the joins of one
// folder's files skip the element walk. Plain units: no string of the pool
// lives for the whole process.
struct AcceptedDir {
    int length = -1;
    QlChar units[kQlFileIdMaxPart + 1];
};
AcceptedDir gAcceptedDir;

bool IsAcceptedDir(const QlStr& directory)
{
    if (gAcceptedDir.length != directory.Length())
        return false;
    return qlGutzCompareNoCaseSlashN(gAcceptedDir.units, directory.Text(), directory.Length()) == 0;
}

void RememberAcceptedDir(const QlStr& directory)
{
    int length = directory.Length();
    for (int i = 0; i < length; ++i)
        gAcceptedDir.units[i] = directory.Text()[i];
    gAcceptedDir.units[length] = 0;
    gAcceptedDir.length = length;
}

bool IsParentElement(const QlChar* text, int length)
{
    if (length < 2 || text[0] != QL('.') || text[1] != QL('.'))
        return false;
    for (int i = 2; i < length; ++i) {
        if (text[i] != QL('.') && text[i] != QL(' '))
            return false;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Checks

bool qlFileIdIsValidDrive(const QlStr& drive)
{
    if (drive.IsNull())
        return false;
    int length = drive.Length();
    const QlChar* text = drive.Text();
    if (length == 0)
        return true;
    if (length == 2) {
        QlChar letter = Lower(text[0]);
        return text[1] == QL(':') && letter >= 'a' && letter <= 'z';
    }
    if (length < 3 || text[0] != kBackslash || text[1] != kBackslash)
        return false;
    // \\server\share: a '\' behind the leading pair with a share name after it.
    for (int i = 2; i < length - 1; ++i) {
        if (text[i] == kBackslash)
            return true;
    }
    return false;
}

bool qlFileIdHasDeviceWord(const QlStr& text)
{
    int length = text.Length();
    const QlChar* units = text.Text();
    for (int i = 0; i + 3 <= length; ++i) {
        for (const char* word : kDeviceWords3) {
            if (StartsWithWord(units + i, word))
                return true;
        }
        for (const char* word : kDeviceWords4) {
            if (StartsWithWord(units + i, word))
                return true;
        }
    }
    return false;
}

bool qlFileIdIsValidDir(const QlStr& directory)
{
    if (directory.IsNull())
        return false;
    if (directory.Length() == 0)
        return true;
    if (IsAcceptedDir(directory))
        return true;
    if (directory.Length() > kQlFileIdMaxPart || directory.ContainsChar(QL(':')))
        return false;
    if (qlFileIdHasDeviceWord(directory)) {
        QlStr rest(directory);
        QlStr element;
        while (rest.PopPathElement(element)) {
            if (element.IsSlash() || element.IsDotEntry())
                continue;
            if (qlFileIdIsDeviceName(element))
                return false;
        }
    }
    RememberAcceptedDir(directory);
    return true;
}

bool qlFileIdIsValidName(const QlStr& name)
{
    return IsValidNameUnits(name) && !qlFileIdIsDeviceName(name);
}

bool qlFileIdIsValidExt(const QlStr& ext)
{
    return ext.IsNotNull() && ext.Length() <= kQlFileIdMaxPart && !ext.ContainsAnyOf(QL("\\/:."));
}

bool qlFileIdIsValidLength(const QlStr& path)
{
    return path.IsNotNull() && path.Length() <= kQlFileIdMaxPath;
}

bool qlFileIdIsDeviceName(const QlStr& text)
{
    return IsDeviceUnits(text.Text(), text.Length());
}

bool qlFileIdHasParentElement(const QlStr& path)
{
    int length = path.Length();
    const QlChar* text = path.Text();
    int start = 0;
    for (int i = 0; i <= length; ++i) {
        if (i == length || qlGutzIsSeparator(text[i])) {
            if (IsParentElement(text + start, i - start))
                return true;
            start = i + 1;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------
// QlFileId

struct QlFileId::Parts {
    QlStr drive;
    QlStr directory;
    QlStr name;
    QlStr ext;
    bool hasDot = false;

    // Splits a path of at most 260 units; false when a part fails its check.
    bool Parse(const QlStr& path)
    {
        if (!qlFileIdIsValidLength(path))
            return false;
        const QlChar* text = path.Text();
        int length = path.Length();

        int driveEnd = 0;
        if (length >= 2 && text[1] == QL(':')) {
            driveEnd = 2;
        } else if (length >= 2 && text[0] == kBackslash && text[1] == kBackslash) {
            // Only '\' ends the server; the share ends at either separator.
            driveEnd = 2;
            while (driveEnd < length && text[driveEnd] != kBackslash)
                ++driveEnd;
            if (driveEnd < length) {
                ++driveEnd;
                while (driveEnd < length && !qlGutzIsSeparator(text[driveEnd]))
                    ++driveEnd;
            }
        }

        int nameStart = driveEnd;
        int nameEnd = length;
        int at = length - 1;
        while (at >= driveEnd && text[at] != QL('.') && !qlGutzIsSeparator(text[at]))
            --at;
        bool dot = at >= driveEnd && text[at] == QL('.');
        if (dot) {
            nameEnd = at;
            --at;
            while (at >= driveEnd && !qlGutzIsSeparator(text[at]))
                --at;
        }
        if (at >= driveEnd)
            nameStart = at + 1;

        int dirEnd = nameStart;
        if (dirEnd - driveEnd >= 2 && qlGutzIsSeparator(text[dirEnd - 1]) &&
            !qlGutzIsSeparator(text[dirEnd - 2]))
            --dirEnd;

        drive = QlStr(text, driveEnd);
        directory = QlStr(text + driveEnd, dirEnd - driveEnd);
        name = QlStr(text + nameStart, nameEnd - nameStart);
        ext = dot ? QlStr(text + nameEnd + 1, length - nameEnd - 1) : QlStr();
        hasDot = dot;
        return IsValid();
    }

    bool IsValid() const
    {
        return qlFileIdIsValidDrive(drive) && qlFileIdIsValidDir(directory) &&
               IsValidFileName(name, ext, hasDot);
    }

    // The joined path, or null when a part fails its check or the path would
    // pass 260 units.
    QlStr Join() const
    {
        if (!IsValid())
            return QlStr::CtorNull();
        QlStr path(drive);
        bool unc = drive.Length() > 2 && drive.CharAt(0) == kBackslash && drive.CharAt(1) == kBackslash;
        bool hasFileName = name.HasText() || ext.HasText();
        if (directory.HasText()) {
            if (unc && drive.LastChar() != kBackslash && directory.FirstChar() != kBackslash)
                path.AppendChar(kBackslash);
            path.Append(directory);
            if (hasFileName && !qlGutzIsSeparator(path.LastChar()))
                path.AppendChar(kBackslash);
        } else if (unc && hasFileName && drive.LastChar() != kBackslash) {
            path.AppendChar(kBackslash);
        }
        path.Append(FileNameOf(name, ext, hasDot));
        if (!qlFileIdIsValidLength(path))
            return QlStr::CtorNull();
        return path;
    }
};

QlFileId::QlFileId() : m_hasDot(0)
{
}

QlFileId::QlFileId(const QlStr& path) : m_hasDot(0)
{
    if (!SetPath(path))
        SetAllNull();
}

QlFileId::QlFileId(const QlChar* path) : QlFileId(QlStr(path))
{
}

QlFileId::QlFileId(const QlFileId& other)
    : m_drive(other.m_drive),
      m_directory(other.m_directory),
      m_name(other.m_name),
      m_ext(other.m_ext),
      m_hasDot(other.m_hasDot),
      m_path(other.m_path)
{
}

QlFileId::~QlFileId() = default;

QlFileId& QlFileId::Assign(const QlFileId& other)
{
    if (this != &other) {
        m_drive = other.m_drive;
        m_directory = other.m_directory;
        m_name = other.m_name;
        m_ext = other.m_ext;
        m_hasDot = other.m_hasDot;
        m_path = other.m_path;
    }
    return *this;
}

void QlFileId::SetAllNull()
{
    m_drive.SetNull();
    m_directory.SetNull();
    m_name.SetNull();
    m_ext.SetNull();
    m_path.SetNull();
    m_hasDot = 0;
}

QlStr QlFileId::GetFileName() const
{
    return FileNameOf(m_name, m_ext, HasDot());
}

QlStr QlFileId::GetFolder() const
{
    return m_drive + m_directory;
}

// The full path keeps the text as given; the parts are what it splits into.
// An empty path empties the parts too, so that no later join brings back the
// parts of an earlier path.
bool QlFileId::Split(const QlStr& path)
{
    Parts parts;
    if (!parts.Parse(path))
        return false;
    m_drive = parts.drive;
    m_directory = parts.directory;
    m_name = parts.name;
    m_ext = parts.ext;
    m_hasDot = parts.hasDot ? 1 : 0;
    m_path = path;
    return true;
}

bool QlFileId::Join()
{
    Parts parts;
    parts.drive = m_drive;
    parts.directory = m_directory;
    parts.name = m_name;
    parts.ext = m_ext;
    parts.hasDot = HasDot();
    QlStr joined = parts.Join();
    if (joined.IsNull())
        return false;
    m_path = joined;
    return true;
}

bool QlFileId::SetPath(const QlStr& path)
{
    return path.IsNotNull() && Split(path);
}

bool QlFileId::SetDrive(const QlStr& drive)
{
    if (!qlFileIdIsValidDrive(drive))
        return false;
    QlStr old = m_drive;
    m_drive = drive;
    if (Join())
        return true;
    m_drive = old;
    return false;
}

bool QlFileId::SetExtension(const QlStr& ext)
{
    if (!qlFileIdIsValidExt(ext))
        return false;
    QlStr old = m_ext;
    m_ext = ext;
    if (Join())
        return true;
    m_ext = old;
    return false;
}

// The dot flag comes from the parsed last element, so that a dot in a folder
// of the text does not leave "name." behind.
bool QlFileId::SetFileName(const QlStr& fileName)
{
    Parts parts;
    if (fileName.IsNull() || !parts.Parse(fileName))
        return false;
    QlStr oldName = m_name;
    QlStr oldExt = m_ext;
    uint8_t oldDot = m_hasDot;
    m_name = parts.name;
    m_ext = parts.ext;
    m_hasDot = parts.hasDot ? 1 : 0;
    if (Join())
        return true;
    m_name = oldName;
    m_ext = oldExt;
    m_hasDot = oldDot;
    return false;
}

// ---------------------------------------------------------------------------
// Path parts of a text

namespace {

bool ParseText(const QlStr& text, QlFileId& id)
{
    return text.IsNotNull() && id.SetPath(text);
}

// One part of the text parsed as a path; empty when it does not parse.
QlStr PartOf(const QlStr& text, QlStr (QlFileId::*part)() const)
{
    QlFileId id;
    return ParseText(text, id) ? (id.*part)() : QlStr();
}

}  // namespace

bool QlStr::IsValidPath() const
{
    QlFileId id;
    return ParseText(*this, id);
}

QlStr QlStr::PathDrive() const
{
    return PartOf(*this, &QlFileId::GetDrive);
}

QlStr QlStr::PathDriveDir() const
{
    return PartOf(*this, &QlFileId::GetFolder);
}

// The separator is added only where none ends the folder already: a root
// directory "\" or a doubled separator gives no third.
QlStr QlStr::PathFolder() const
{
    QlFileId id;
    if (!ParseText(*this, id))
        return QlStr();
    QlStr folder = id.GetFolder();
    if (id.HasDir())
        folder.AddTrailingSlash();
    return folder;
}

QlStr QlStr::PathName() const
{
    return PartOf(*this, &QlFileId::GetName);
}

QlStr QlStr::PathExtension() const
{
    return PartOf(*this, &QlFileId::GetExt);
}

QlStr QlStr::PathFileName() const
{
    return PartOf(*this, &QlFileId::GetFileName);
}

QlStr QlStr::PathRoot() const
{
    QlFileId id;
    return ParseText(*this, id) ? id.GetDrive().ConcatChar(kBackslash) : QlStr();
}

QlStr& QlStr::StripTrailingSlash()
{
    if (HasText() && qlGutzIsSeparator(LastChar()))
        m_body->StripTrailingSlash(PathRoot().Text());
    return *this;
}
