// Registry keys and values, the profile functions through which every setting
// of the system is read and written, and small Win32 conveniences.
//
// A profile "file" whose name begins with the product word ("Quolla", any
// case) is no file: it selects the product's key under HKEY_CURRENT_USER,
// one subkey per section, REG_SZ values named by the profile key; writes to
// the section "WinIni" are mirrored under HKEY_LOCAL_MACHINE. Any other name
// goes to the Windows ini functions.
//
// Nothing here throws (except QlBadAlloc for a full heap): registry and
// profile calls return false or a zero length and keep the Win32 result in
// the key object.
//
// The struct codec, the product-name test and the type mask are pure code
// (QlWin32Text.cpp); the rest is Windows only (QlWin32.cpp).
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#endif

#include "common/QlBuffer.h"
#include "common/QlString.h"

// Lines named in the reports of the QlWin32 source.
enum QlWin32Line {
    kWin32DeleteSubTree = 233,    // the final RegDeleteKeyW of a subtree failed
    kWin32DeleteTree = 287,       // the final RegDeleteKeyW of a tree failed
    kWin32WriteNullSection = 702, // a product write with a key or value but no section
    kWin32FolderUnterminated = 911,  // a system or Windows folder without its NUL
    kWin32LoadLibraryName = 948,  // loading a library without a name
};

// Product key below HKEY_CURRENT_USER (machine-wide copy below
// HKEY_LOCAL_MACHINE) and the class of the keys the library creates.
extern const QlChar kQlWin32ProductKey[];   // "SOFTWARE\Ostrel Zivevevoz\Quolla"
extern const QlChar kQlWin32KeyClass[];     // "Quolla Application Data"

// Accepted-types mask: one bit per value type.
enum QlRegTypeBits : uint32_t {
    kRegBitSz = 0x10000,
    kRegBitExpandSz = 0x20000,
    kRegBitMultiSz = 0x40000,
    kRegBitDword = 0x80000,
    kRegBitBinary = 0x100000,
    kRegBitNone = 0x200000,
    kRegBitOther = 0x400000,
    kRegBitsAll = 0x7F0000,
};
uint32_t qlWin32RegTypeBit(uint32_t type);

// The profile "file" is the product's registry key: its first six units are
// the product word, any case.
bool qlWin32IsProductFile(const QlStr& file);

// A struct in a profile string: each byte as two upper-case hex digits in
// memory order, then the 8-bit sum of the bytes the same way (01 02 FF is
// "0102FF02").
QlStr qlWin32EncodeStruct(const void* data, uint32_t size);
// The bytes are written as they are decoded (a pair with a non-hex digit is
// 0), also when the checksum then fails; true only when the checksum matches
// and ends the text. A text too short for the struct writes nothing.
bool qlWin32DecodeStruct(const QlStr& text, void* data, uint32_t size);

#ifdef _WIN32

struct QlRegKeyInfo {
    QlStr className;
    DWORD subKeys = 0;
    DWORD maxSubKeyLength = 0;
    DWORD maxClassLength = 0;
    DWORD values = 0;
    DWORD maxValueNameLength = 0;
    DWORD maxValueLength = 0;
    DWORD securityDescriptorSize = 0;
    FILETIME lastWriteTime = {0, 0};
};

// A registry key with explicit open state; every registry call made through
// it stores its result.
class QlRegKey {
public:
    QlRegKey() : m_parent(nullptr), m_key(nullptr), m_result(0) {}
    QlRegKey(HKEY parent, const QlStr& path) : m_parent(parent), m_key(nullptr), m_path(path), m_result(0) {}
    ~QlRegKey() { Close(); }
    QlRegKey(const QlRegKey&) = delete;
    QlRegKey& operator=(const QlRegKey&) = delete;

    void Reset(HKEY parent, const QlStr& path);
    // Each closes a key already open first.
    bool Open();
    bool OpenEx(DWORD options, REGSAM access);
    bool Create(const QlStr& className, DWORD options, REGSAM access,
                SECURITY_ATTRIBUTES* security = nullptr, DWORD* disposition = nullptr);
    bool Close();  // true when closed afterwards

    bool DeleteKey();  // the key itself (no subkeys); only while closed
    bool DeleteSubKey(const QlStr& name);
    bool DeleteSubTree(const QlStr& name);  // a subkey of this open key with all below it
    bool DeleteTree();  // this key with all below it; only while closed

    bool EnumKey(DWORD index, QlStr& name);
    bool EnumValue(DWORD index, QlStr& name, DWORD& type, QlBuf& data);
    // Strings come back terminated inside the buffer (REG_SZ and
    // REG_EXPAND_SZ end at their first NUL, REG_MULTI_SZ with two). A type
    // outside the mask empties the buffer and gives false.
    bool QueryValue(const QlStr& name, QlBuf& data, uint32_t acceptedTypes = kRegBitsAll,
                    DWORD* type = nullptr);
    bool SetValue(const QlStr& name, const QlBuf& data, DWORD type);
    bool DeleteValue(const QlStr& name);
    bool QueryInfo(QlRegKeyInfo& info);

    static uint32_t TypeBit(DWORD type) { return qlWin32RegTypeBit(type); }

    bool IsOpen() const { return m_key != nullptr; }
    HKEY Key() const { return m_key; }
    HKEY Parent() const { return m_parent; }
    const QlStr& Path() const { return m_path; }
    LONG Result() const { return m_result; }

private:
    bool OpenWith(LONG result, HKEY key);

    HKEY m_parent;
    HKEY m_key;
    QlStr m_path;
    LONG m_result;
};

// One registry value, read once at construction.
class QlRegValue {
public:
    enum : uint32_t {
        kKeepUnexpanded = 1,        // REG_EXPAND_SZ data as stored
        kAcceptedMask = 0xFF0000,   // accepted-types bits; none set: every type
    };
    QlRegValue(const QlStr& subkeyPath, const QlStr& valueName, HKEY parent, uint32_t flags = 0);
    QlRegValue(const QlRegValue&) = delete;
    QlRegValue& operator=(const QlRegValue&) = delete;

    bool Load();
    bool Expand();  // REG_EXPAND_SZ data replaced by its expanded form
    bool IsFound() const { return m_found != 0; }
    DWORD Type() const { return m_type; }
    const QlBuf& Data() const { return m_data; }
    bool GetText(QlStr& text) const { return m_data.GetText(text); }
    // No bytes, a single zero byte, or a first unit of 0.
    bool IsEmpty() const;

private:
    QlRegKey m_key;
    QlBuf m_data;
    uint8_t m_found;
    DWORD m_type;
    QlStr m_name;
    uint32_t m_flags;
};

// --- registry functions on a parent and a key path
// With a subkey name: that subkey of the key path and all below it; with an
// empty one: the key path itself and all below it.
bool qlWin32RegDeleteTree(HKEY parent, const QlStr& keyPath, const QlStr& subkey);
bool qlWin32RegDeleteValue(HKEY parent, const QlStr& keyPath, const QlStr& valueName);
// A REG_SZ value of an open key; the string is emptied first.
bool qlWin32RegGetString(QlRegKey& key, const QlStr& valueName, QlStr& out);
// Creates the key path when needed (class "Quolla Application Data").
bool qlWin32RegSetString(HKEY parent, const QlStr& keyPath, const QlStr& valueName,
                         const QlStr& value);
// The default value of a key; the Win32 result.
LONG qlWin32RegQueryValue(HKEY key, const QlStr& subkey, QlStr& out);
LONG qlWin32RegSetValue(HKEY key, const QlStr& subkey, const QlStr& value);

// --- profile functions (a null section or key passes as null)
// out gets the value or the default; the length of out.
int qlWin32ReadIniString(const QlStr& section, const QlStr& key, const QlStr& defaultValue,
                         QlStr& out, const QlStr& file);
int qlWin32GetPrivateProfileString(const QlStr& section, const QlStr& key,
                                   const QlStr& defaultValue, QlStr& out, const QlStr& file);
int qlWin32GetPrivateProfileInt(const QlStr& section, const QlStr& key, int defaultValue,
                                const QlStr& file);
// A null key deletes the section, a null value the key. The mirror flag also
// writes a product value machine-wide (never for the section "Wizard").
bool qlWin32WritePrivateProfileString(const QlStr& section, const QlStr& key, const QlStr& value,
                                      const QlStr& file, bool mirror = false);
bool qlWin32GetPrivateProfileStruct(const QlStr& section, const QlStr& key, void* data,
                                    uint32_t size, const QlStr& file);
bool qlWin32WritePrivateProfileStruct(const QlStr& section, const QlStr& key, const void* data,
                                      uint32_t size, const QlStr& file);
// A product section reads the product's "WinIni" settings, any other WIN.INI.
int qlWin32GetWinIniString(const QlStr& section, const QlStr& key, const QlStr& defaultValue,
                           QlStr& out);
// The machine-wide and the user's "WinIni" keys both open and hold the same
// "win32_version".
bool qlWin32MachineSettingsMatch();

// --- other wrappers
int qlWin32GetSystemDir(QlStr& out);   // the length; 0 on failure
int qlWin32GetWindowsDir(QlStr& out);
// A bare name from the system folder first, then the Windows folder, then the
// search path; a name with a folder as given.
HMODULE qlWin32LoadLibrary(const QlStr& name);
bool qlWin32ExpandEnvironmentStrings(const QlStr& text, QlStr& out);
int qlWin32GetWindowText(HWND window, QlStr& out);
bool qlWin32SetWindowText(HWND window, const QlStr& text);
int qlWin32GetDlgItemText(HWND dialog, int item, QlStr& out);
bool qlWin32SetDlgItemText(HWND dialog, int item, const QlStr& text);

#endif
