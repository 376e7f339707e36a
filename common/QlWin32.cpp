// QlWin32: registry keys and values, the profile functions and small Win32
// conveniences.
#include "common/QlWin32.h"

#include "common/QlGutz.h"
#include "common/QlHooks.h"

namespace {

const char kSource[] = "QlWin32";

const int kIniStringRoom = 8192;
const int kDlgItemRoom = 2048;
const DWORD kEnumKeyRoom = 256;
const DWORD kEnumValueNameRoom = 16384;

const wchar_t kWinIni[] = L"WinIni";
const wchar_t kWizard[] = L"Wizard";
const wchar_t kVersionValue[] = L"win32_version";

const wchar_t* TextOrNull(const QlStr& text)
{
    return text.IsNull() ? nullptr : text.Text();
}

// The registry leaves string data as it was written, terminated or not. The
// buffer was sized with room for the terminators; the string units are
// counted in whole units (a trailing odd byte counts as one, its high byte 0).
void TerminateStrings(QlBuf& data, DWORD type)
{
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ)
        return;
    uint8_t* bytes = data.Data();
    uint32_t units = (data.Size() + 1) / 2;
    auto unitAt = [bytes](uint32_t i) { return bytes[2 * i] | bytes[2 * i + 1]; };
    auto putNul = [bytes](uint32_t i) { bytes[2 * i] = bytes[2 * i + 1] = 0; };
    if (type == REG_MULTI_SZ) {
        if (units == 0 || unitAt(units - 1) != 0)
            putNul(units++);
        if (units < 2 || unitAt(units - 2) != 0)
            putNul(units++);
    } else {
        // Text behind an embedded NUL is not part of the value.
        uint32_t end = 0;
        while (end < units && unitAt(end) != 0)
            ++end;
        putNul(end);
        units = end + 1;
    }
    data.Resize(units * 2, QlBuf::kKeep);
}

// Algorithm shared by QueryValue and EnumValue: ask for the size, read into a
// buffer with room for terminators, check that the size held and the type is
// accepted. query(data, &size, &type) makes the registry call.
template <class Query>
LONG ReadValue(QlBuf& data, uint32_t acceptedTypes, DWORD* typeOut, Query query)
{
    DWORD type = 0;
    DWORD size = 0;
    LONG result = query(nullptr, &size, &type);
    if (result == ERROR_SUCCESS && size <= 0xFFFFFF00u && data.Resize(size + 6, QlBuf::kFresh)) {
        for (uint32_t i = size; i < size + 6; ++i)
            data.Data()[i] = 0;
        DWORD again = size;
        result = query(data.Data(), &again, &type);
        if (result == ERROR_SUCCESS && again == size && (qlWin32RegTypeBit(type) & acceptedTypes) != 0) {
            data.Resize(size, QlBuf::kKeep);
            TerminateStrings(data, type);
            if (typeOut != nullptr)
                *typeOut = type;
            return ERROR_SUCCESS;
        }
        if (result == ERROR_SUCCESS)
            result = again != size ? ERROR_MORE_DATA : ERROR_INVALID_DATA;
    }
    data.Resize(0, QlBuf::kFresh);
    if (typeOut != nullptr)
        *typeOut = REG_NONE;
    return result == ERROR_SUCCESS ? ERROR_OUTOFMEMORY : result;
}

QlStr SectionKeyPath(const QlStr& section)
{
    QlStr path(kQlWin32ProductKey);
    path.AppendChar(L'\\');
    path.Append(section);
    return path;
}

bool IsSection(const QlStr& section, const wchar_t* name)
{
    return section.IsNotNull() && qlGutzPlatformCompareNoCase(section.Text(), name) == 0;
}

// A folder from a Win32 call of the form GetSystemDirectoryW(buffer, room).
template <class Call>
int GetFolder(QlStr& out, Call call)
{
    out.Clear();
    UINT room = call(nullptr, 0);
    if (room == 0)
        return 0;
    QlStr folder;
    folder.SetLength(int(room));
    UINT length = call(folder.Buffer(), room);
    if (length == 0 || length > room)
        return 0;
    if (!qlCheck(length < room && folder.Text()[length] == 0, kSource, kWin32FolderUnterminated))
        return 0;
    folder.SetLength(int(length));
    out = folder;
    return int(length);
}

}  // namespace

// ---------------------------------------------------------------------------
// QlRegKey

void QlRegKey::Reset(HKEY parent, const QlStr& path)
{
    Close();
    m_parent = parent;
    m_path = path;
}

bool QlRegKey::OpenWith(LONG result, HKEY key)
{
    m_result = result;
    if (result != ERROR_SUCCESS)
        return false;
    m_key = key;
    return true;
}

bool QlRegKey::Open()
{
    Close();
    if (m_parent == nullptr || !m_path.HasText())
        return false;
    HKEY key = nullptr;
    LONG result = RegOpenKeyW(m_parent, m_path.Text(), &key);
    return OpenWith(result, key);
}

bool QlRegKey::OpenEx(DWORD options, REGSAM access)
{
    Close();
    if (m_parent == nullptr || !m_path.HasText())
        return false;
    HKEY key = nullptr;
    LONG result = RegOpenKeyExW(m_parent, m_path.Text(), options, access, &key);
    return OpenWith(result, key);
}

bool QlRegKey::Create(const QlStr& className, DWORD options, REGSAM access,
                      SECURITY_ATTRIBUTES* security, DWORD* disposition)
{
    Close();
    if (m_parent == nullptr || !m_path.HasText())
        return false;
    HKEY key = nullptr;
    // RegCreateKeyExW takes a writable class pointer; it does not write it.
    QlStr keyClass(className);
    LONG result = RegCreateKeyExW(m_parent, m_path.Text(), 0,
                                  keyClass.IsNull() ? nullptr : keyClass.Buffer(), options, access,
                                  security, &key, disposition);
    return OpenWith(result, key);
}

bool QlRegKey::Close()
{
    if (m_key != nullptr) {
        m_result = RegCloseKey(m_key);
        m_key = nullptr;
    }
    return true;
}

bool QlRegKey::DeleteKey()
{
    if (IsOpen() || m_parent == nullptr || !m_path.HasText())
        return false;
    m_result = RegDeleteKeyW(m_parent, m_path.Text());
    return m_result == ERROR_SUCCESS;
}

bool QlRegKey::DeleteSubKey(const QlStr& name)
{
    if (!IsOpen() || !name.HasText())
        return false;
    m_result = RegDeleteKeyW(m_key, name.Text());
    return m_result == ERROR_SUCCESS;
}

bool QlRegKey::DeleteSubTree(const QlStr& name)
{
    if (!IsOpen() || !name.HasText())
        return false;
    QlRegKey child(m_key, name);
    if (!child.OpenEx(0, KEY_ALL_ACCESS)) {
        m_result = child.m_result;
        return false;
    }
    QlStr sub;
    while (child.EnumKey(0, sub)) {
        if (!child.DeleteSubTree(sub)) {
            m_result = child.m_result;
            return false;
        }
    }
    child.Close();
    m_result = RegDeleteKeyW(m_key, name.Text());
    qlCheck(m_result == ERROR_SUCCESS, kSource, kWin32DeleteSubTree);
    return m_result == ERROR_SUCCESS;
}

bool QlRegKey::DeleteTree()
{
    if (IsOpen() || !OpenEx(0, KEY_ALL_ACCESS))
        return false;
    QlStr sub;
    while (EnumKey(0, sub)) {
        if (!DeleteSubTree(sub)) {
            LONG failed = m_result;
            Close();
            m_result = failed;
            return false;
        }
    }
    Close();
    m_result = RegDeleteKeyW(m_parent, m_path.Text());
    qlCheck(m_result == ERROR_SUCCESS, kSource, kWin32DeleteTree);
    return m_result == ERROR_SUCCESS;
}

bool QlRegKey::EnumKey(DWORD index, QlStr& name)
{
    if (!IsOpen())
        return false;
    wchar_t buffer[kEnumKeyRoom + 1];
    m_result = RegEnumKeyW(m_key, index, buffer, kEnumKeyRoom);
    if (m_result != ERROR_SUCCESS)
        return false;
    buffer[kEnumKeyRoom] = 0;
    name = buffer;
    return true;
}

bool QlRegKey::EnumValue(DWORD index, QlStr& name, DWORD& type, QlBuf& data)
{
    if (!IsOpen())
        return false;
    QlStr nameBuffer;
    nameBuffer.SetLength(int(kEnumValueNameRoom));
    DWORD nameLength = 0;
    HKEY key = m_key;
    wchar_t* nameUnits = nameBuffer.Buffer();
    m_result = ReadValue(data, kRegBitsAll, &type, [&](BYTE* bytes, DWORD* size, DWORD* valueType) {
        nameLength = kEnumValueNameRoom;
        return RegEnumValueW(key, index, nameUnits, &nameLength, nullptr, valueType, bytes, size);
    });
    if (m_result != ERROR_SUCCESS)
        return false;
    nameBuffer.SetLength(int(nameLength < kEnumValueNameRoom ? nameLength : kEnumValueNameRoom));
    name = nameBuffer;
    return true;
}

bool QlRegKey::QueryValue(const QlStr& name, QlBuf& data, uint32_t acceptedTypes, DWORD* type)
{
    if (!IsOpen()) {
        data.Resize(0, QlBuf::kFresh);
        return false;
    }
    HKEY key = m_key;
    const wchar_t* valueName = TextOrNull(name);
    m_result = ReadValue(data, acceptedTypes, type, [&](BYTE* bytes, DWORD* size, DWORD* valueType) {
        return RegQueryValueExW(key, valueName, nullptr, valueType, bytes, size);
    });
    return m_result == ERROR_SUCCESS;
}

bool QlRegKey::SetValue(const QlStr& name, const QlBuf& data, DWORD type)
{
    if (!IsOpen())
        return false;
    m_result = RegSetValueExW(m_key, TextOrNull(name), 0, type, data.Data(), data.Size());
    return m_result == ERROR_SUCCESS;
}

bool QlRegKey::DeleteValue(const QlStr& name)
{
    if (!IsOpen())
        return false;
    m_result = RegDeleteValueW(m_key, TextOrNull(name));
    return m_result == ERROR_SUCCESS;
}

bool QlRegKey::QueryInfo(QlRegKeyInfo& info)
{
    if (!IsOpen())
        return false;
    DWORD room = 64;
    for (;;) {
        QlStr className;
        className.SetLength(int(room));
        DWORD length = room;
        m_result = RegQueryInfoKeyW(m_key, className.Buffer(), &length, nullptr, &info.subKeys,
                                    &info.maxSubKeyLength, &info.maxClassLength, &info.values,
                                    &info.maxValueNameLength, &info.maxValueLength,
                                    &info.securityDescriptorSize, &info.lastWriteTime);
        if (m_result == ERROR_MORE_DATA && room < 0x100000) {
            room *= 4;
            continue;
        }
        if (m_result != ERROR_SUCCESS)
            return false;
        className.SetLength(int(length < room ? length : room));
        info.className = className;
        return true;
    }
}

// ---------------------------------------------------------------------------
// QlRegValue

QlRegValue::QlRegValue(const QlStr& subkeyPath, const QlStr& valueName, HKEY parent,
                       uint32_t flags)
    : m_key(parent, subkeyPath), m_found(0), m_type(REG_NONE), m_name(valueName), m_flags(flags)
{
    Load();
}

bool QlRegValue::Load()
{
    uint32_t accepted = m_flags & kAcceptedMask;
    if (accepted == 0)
        accepted = kRegBitsAll;
    DWORD type = REG_NONE;
    bool found = m_key.OpenEx(0, KEY_QUERY_VALUE) && m_key.QueryValue(m_name, m_data, accepted, &type);
    m_key.Close();
    if (!found) {
        m_data.Resize(0, QlBuf::kFresh);
        m_found = 0;
        m_type = REG_NONE;
        return false;
    }
    m_found = 1;
    m_type = type;
    if ((m_flags & kKeepUnexpanded) == 0)
        Expand();
    return true;
}

bool QlRegValue::Expand()
{
    QlStr text;
    QlStr expanded;
    if (m_type != REG_EXPAND_SZ || !m_data.GetText(text) ||
        !qlWin32ExpandEnvironmentStrings(text, expanded))
        return false;
    return m_data.SetText(expanded);
}

bool QlRegValue::IsEmpty() const
{
    const uint8_t* bytes = m_data.Data();
    uint32_t size = m_data.Size();
    return size == 0 || bytes == nullptr || (size == 1 && bytes[0] == 0) ||
           (size >= 2 && bytes[0] == 0 && bytes[1] == 0);
}

// ---------------------------------------------------------------------------
// Registry functions

bool qlWin32RegDeleteTree(HKEY parent, const QlStr& keyPath, const QlStr& subkey)
{
    QlRegKey key(parent, keyPath);
    if (!subkey.HasText())
        return key.DeleteTree();
    return key.OpenEx(0, KEY_ALL_ACCESS) && key.DeleteSubTree(subkey);
}

bool qlWin32RegDeleteValue(HKEY parent, const QlStr& keyPath, const QlStr& valueName)
{
    QlRegKey key(parent, keyPath);
    return key.OpenEx(0, KEY_ALL_ACCESS) && key.DeleteValue(valueName);
}

bool qlWin32RegGetString(QlRegKey& key, const QlStr& valueName, QlStr& out)
{
    out.Clear();
    QlBuf data;
    return key.QueryValue(valueName, data, kRegBitSz) && data.GetText(out);
}

bool qlWin32RegSetString(HKEY parent, const QlStr& keyPath, const QlStr& valueName,
                         const QlStr& value)
{
    QlRegKey key(parent, keyPath);
    QlBuf data;
    return key.Create(QlStr(kQlWin32KeyClass), 0, KEY_ALL_ACCESS) && data.SetText(value) &&
           key.SetValue(valueName, data, REG_SZ);
}

LONG qlWin32RegQueryValue(HKEY key, const QlStr& subkey, QlStr& out)
{
    out.Clear();
    LONG size = 0;
    LONG result = RegQueryValueW(key, TextOrNull(subkey), nullptr, &size);
    if (result != ERROR_SUCCESS || size <= 0)
        return result;
    QlBuf data;
    if (!data.Resize(uint32_t(size) + 4, QlBuf::kWipe))
        return ERROR_OUTOFMEMORY;
    LONG again = size;
    result = RegQueryValueW(key, TextOrNull(subkey), reinterpret_cast<wchar_t*>(data.Data()), &again);
    if (result != ERROR_SUCCESS)
        return result;
    data.Resize(uint32_t(again < size ? again : size), QlBuf::kKeep);
    TerminateStrings(data, REG_SZ);
    data.GetText(out);
    return result;
}

LONG qlWin32RegSetValue(HKEY key, const QlStr& subkey, const QlStr& value)
{
    return RegSetValueW(key, TextOrNull(subkey), REG_SZ, value.IsNull() ? L"" : value.Text(),
                        DWORD(value.Length()) * 2);
}

// ---------------------------------------------------------------------------
// Profile functions

int qlWin32ReadIniString(const QlStr& section, const QlStr& key, const QlStr& defaultValue,
                         QlStr& out, const QlStr& file)
{
    QlStr buffer;
    buffer.SetLength(kIniStringRoom);
    DWORD length = GetPrivateProfileStringW(TextOrNull(section), TextOrNull(key),
                                            defaultValue.IsNull() ? L"" : defaultValue.Text(),
                                            buffer.Buffer(), kIniStringRoom, TextOrNull(file));
    buffer.SetLength(int(length < DWORD(kIniStringRoom) ? length : kIniStringRoom - 1));
    out = buffer;
    return out.Length();
}

int qlWin32GetPrivateProfileString(const QlStr& section, const QlStr& key,
                                   const QlStr& defaultValue, QlStr& out, const QlStr& file)
{
    if (!qlWin32IsProductFile(file))
        return qlWin32ReadIniString(section, key, defaultValue, out, file);
    out = defaultValue.IsNull() ? QlStr() : defaultValue;
    if (key.HasText() && section.HasText()) {
        QlRegKey sectionKey(HKEY_CURRENT_USER, SectionKeyPath(section));
        QlBuf data;
        DWORD type = REG_NONE;
        QlStr text;
        if (sectionKey.OpenEx(0, KEY_ALL_ACCESS) &&
            sectionKey.QueryValue(key, data, kRegBitsAll, &type) && type == REG_SZ &&
            data.GetText(text))
            out = text;
    }
    return out.Length();
}

int qlWin32GetPrivateProfileInt(const QlStr& section, const QlStr& key, int defaultValue,
                                const QlStr& file)
{
    if (!qlWin32IsProductFile(file))
        return int(GetPrivateProfileIntW(TextOrNull(section), TextOrNull(key), defaultValue,
                                         TextOrNull(file)));
    QlStr text;
    qlWin32GetPrivateProfileString(section, key, QlStr(int32_t(defaultValue), 10), text, file);
    return qlGutzIsNumber(text.Text()) ? text.ToInt() : defaultValue;
}

bool qlWin32WritePrivateProfileString(const QlStr& section, const QlStr& key, const QlStr& value,
                                      const QlStr& file, bool mirror)
{
    if (!qlWin32IsProductFile(file))
        return WritePrivateProfileStringW(TextOrNull(section), TextOrNull(key), TextOrNull(value),
                                          TextOrNull(file)) != 0;
    if (section.IsNull()) {
        if (key.IsNotNull() || value.IsNotNull())
            qlHostAssert(kSource, kWin32WriteNullSection);
        return false;
    }
    QlStr sectionPath = SectionKeyPath(section);
    bool winIni = IsSection(section, kWinIni);
    if (key.IsNull()) {
        if (winIni && qlWin32MachineSettingsMatch())
            qlWin32RegDeleteTree(HKEY_LOCAL_MACHINE, sectionPath, QlStr());
        qlWin32RegDeleteTree(HKEY_CURRENT_USER, sectionPath, QlStr());
        return true;
    }
    if (value.IsNull()) {
        if (winIni && qlWin32MachineSettingsMatch())
            qlWin32RegDeleteValue(HKEY_LOCAL_MACHINE, sectionPath, key);
        qlWin32RegDeleteValue(HKEY_CURRENT_USER, sectionPath, key);
        return true;
    }
    if (!qlWin32RegSetString(HKEY_CURRENT_USER, sectionPath, key, value))
        return false;
    if (winIni || (mirror && !IsSection(section, kWizard)))
        qlWin32RegSetString(HKEY_LOCAL_MACHINE, sectionPath, key, value);
    return true;
}

bool qlWin32GetPrivateProfileStruct(const QlStr& section, const QlStr& key, void* data,
                                    uint32_t size, const QlStr& file)
{
    QlStr text;
    qlWin32GetPrivateProfileString(section, key, QlStr(), text, file);
    return qlWin32DecodeStruct(text, data, size);
}

bool qlWin32WritePrivateProfileStruct(const QlStr& section, const QlStr& key, const void* data,
                                      uint32_t size, const QlStr& file)
{
    return qlWin32WritePrivateProfileString(section, key, qlWin32EncodeStruct(data, size), file,
                                            false);
}

int qlWin32GetWinIniString(const QlStr& section, const QlStr& key, const QlStr& defaultValue,
                           QlStr& out)
{
    if (qlWin32IsProductFile(section))
        return qlWin32GetPrivateProfileString(QlStr(kWinIni), key, defaultValue, out,
                                              QlStr(L"quolla32.ini"));
    return qlWin32GetPrivateProfileString(section, key, defaultValue, out, QlStr(L"WIN.INI"));
}

bool qlWin32MachineSettingsMatch()
{
    QlStr path = SectionKeyPath(QlStr(kWinIni));
    QlRegKey machine(HKEY_LOCAL_MACHINE, path);
    QlRegKey user(HKEY_CURRENT_USER, path);
    if (!machine.OpenEx(0, KEY_ALL_ACCESS) || !user.OpenEx(0, KEY_ALL_ACCESS))
        return false;
    QlStr machineVersion, userVersion;
    QlStr name(kVersionValue);
    return qlWin32RegGetString(machine, name, machineVersion) &&
           qlWin32RegGetString(user, name, userVersion) && machineVersion == userVersion;
}

// ---------------------------------------------------------------------------
// Other wrappers

int qlWin32GetSystemDir(QlStr& out)
{
    return GetFolder(out, [](wchar_t* buffer, UINT room) { return GetSystemDirectoryW(buffer, room); });
}

int qlWin32GetWindowsDir(QlStr& out)
{
    return GetFolder(out, [](wchar_t* buffer, UINT room) { return GetWindowsDirectoryW(buffer, room); });
}

HMODULE qlWin32LoadLibrary(const QlStr& name)
{
    if (!qlCheck(name.HasText(), kSource, kWin32LoadLibraryName))
        return nullptr;
    if (name.PathDriveDir().HasText())
        return LoadLibraryW(name.Text());
    int (*const folders[])(QlStr&) = {qlWin32GetSystemDir, qlWin32GetWindowsDir};
    for (auto folderOf : folders) {
        QlStr folder;
        if (folderOf(folder) == 0)
            continue;
        folder.AddTrailingSlash().Append(name);
        HMODULE module = LoadLibraryW(folder.Text());
        if (module != nullptr)
            return module;
    }
    return LoadLibraryW(name.Text());
}

bool qlWin32ExpandEnvironmentStrings(const QlStr& text, QlStr& out)
{
    if (text.IsNull())
        return false;
    DWORD room = ExpandEnvironmentStringsW(text.Text(), nullptr, 0);
    if (room == 0)
        return false;
    QlStr expanded;
    expanded.SetLength(int(room));
    DWORD length = ExpandEnvironmentStringsW(text.Text(), expanded.Buffer(), room);
    if (length == 0 || length > room)
        return false;
    // The count includes the NUL.
    expanded.SetLength(int(length) - 1);
    out = expanded;
    return true;
}

int qlWin32GetWindowText(HWND window, QlStr& out)
{
    out.Clear();
    int length = GetWindowTextLengthW(window);
    if (length <= 0)
        return 0;
    QlStr text;
    text.SetLength(length + 1);
    int read = GetWindowTextW(window, text.Buffer(), length + 1);
    text.SetLength(read > 0 && read <= length ? read : 0);
    out = text;
    return out.Length();
}

bool qlWin32SetWindowText(HWND window, const QlStr& text)
{
    return SetWindowTextW(window, text.IsNull() ? L"" : text.Text()) != 0;
}

int qlWin32GetDlgItemText(HWND dialog, int item, QlStr& out)
{
    QlStr text;
    text.SetLength(kDlgItemRoom);
    UINT read = GetDlgItemTextW(dialog, item, text.Buffer(), kDlgItemRoom);
    text.SetLength(int(read < UINT(kDlgItemRoom) ? read : kDlgItemRoom - 1));
    out = text;
    return out.Length();
}

bool qlWin32SetDlgItemText(HWND dialog, int item, const QlStr& text)
{
    return SetDlgItemTextW(dialog, item, text.IsNull() ? L"" : text.Text()) != 0;
}
