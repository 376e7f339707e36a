// envreg: sets up and reads back the parts of the Windows environment that
// the builder's installation steps touch, for the tests of those steps. It
// carries out its arguments in order and writes one JSON object a line for
// every query to the file named by "out":
//   out FILE                      where the answers go (UTF-8)
//   delete KEY                    the key with everything below it (no error
//                                 when it is not there)
//   set KEY NAME TYPE DATA        a value: TYPE sz, expand, dword (decimal or
//                                 0x...), binary (hex digits), multi (strings
//                                 separated by "|"; the final terminator is
//                                 added); NAME "@" is the default value
//   get KEY NAME                  {"exists":bool,"type":n,"text":...} (text:
//                                 the data as UTF-16, NULs kept; a DWORD as
//                                 its number)
//   key KEY                       {"key":KEY,"exists":bool}
//   unset KEY NAME                removes a value
//   ini FILE SECTION KEY VALUE    WritePrivateProfileStringW; VALUE "-"
//                                 removes the key, KEY "-" the section
//   iniget FILE SECTION KEY       {"text":...}
//   atom NAME                     {"atom":NAME,"exists":bool} (global atom)
//   fileversion FILE              {"ms":n,"ls":n} of its version resource
//                                 (both 0 without one)
// The last line, {"end":CODE}, says that every argument was carried out (or
// where it stopped): the exit code may be lost when Wine kills a process
// that has ended (a loaded machine).
// KEY begins with HKCU\, HKLM\ or HKCR\.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/wintools/TestOutput.h"

namespace {

std::wstring g_out;

void answer(const std::wstring& json)
{
    writeFile(g_out, json + L"\n", true);
}

bool split_key(const std::wstring& full, HKEY& root, std::wstring& path)
{
    static const struct { const wchar_t* name; HKEY root; } kRoots[] = {
        {L"HKCU\\", HKEY_CURRENT_USER}, {L"HKLM\\", HKEY_LOCAL_MACHINE}, {L"HKCR\\", HKEY_CLASSES_ROOT}};
    for (const auto& r : kRoots) {
        if (_wcsnicmp(full.c_str(), r.name, 5) == 0) {
            root = r.root;
            path = full.substr(5);
            return true;
        }
    }
    return false;
}

LONG delete_tree(HKEY root, const std::wstring& path)
{
    HKEY key;
    LONG result = RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (result != ERROR_SUCCESS)
        return result;
    wchar_t name[260];
    while (RegEnumKeyW(key, 0, name, 260) == ERROR_SUCCESS)
        if (delete_tree(root, path + L"\\" + name) != ERROR_SUCCESS)
            break;
    RegCloseKey(key);
    return RegDeleteKeyW(root, path.c_str());
}

std::vector<BYTE> value_data(const std::wstring& type, const std::wstring& data, DWORD& code)
{
    std::vector<BYTE> bytes;
    auto units = [&](const std::wstring& text) {
        for (wchar_t c : text) {
            bytes.push_back(BYTE(c & 0xFF));
            bytes.push_back(BYTE(c >> 8));
        }
    };
    if (type == L"sz" || type == L"expand") {
        code = type == L"sz" ? REG_SZ : REG_EXPAND_SZ;
        units(data);
        units(std::wstring(1, L'\0'));
    } else if (type == L"dword") {
        code = REG_DWORD;
        DWORD value = (DWORD)wcstoul(data.c_str(), nullptr, 0);
        for (int i = 0; i < 4; ++i)
            bytes.push_back(BYTE(value >> (8 * i)));
    } else if (type == L"binary") {
        code = REG_BINARY;
        for (size_t i = 0; i + 1 < data.size(); i += 2)
            bytes.push_back(BYTE(wcstoul(data.substr(i, 2).c_str(), nullptr, 16)));
    } else {
        code = REG_MULTI_SZ;
        std::wstring text = data;
        for (wchar_t& c : text)
            if (c == L'|')
                c = L'\0';
        units(text);
        units(std::wstring(1, L'\0'));
    }
    return bytes;
}

void set_value(const std::wstring& full, const std::wstring& name, const std::wstring& type,
               const std::wstring& data)
{
    HKEY root;
    std::wstring path;
    HKEY key;
    if (!split_key(full, root, path) ||
        RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
            ERROR_SUCCESS) {
        answer(L"{\"error\":" + jsonString(L"cannot create " + full) + L"}");
        return;
    }
    DWORD code = 0;
    std::vector<BYTE> bytes = value_data(type, data, code);
    RegSetValueExW(key, name == L"@" ? nullptr : name.c_str(), 0, code, bytes.data(),
                   (DWORD)bytes.size());
    RegCloseKey(key);
}

void get_value(const std::wstring& full, const std::wstring& name)
{
    HKEY root;
    std::wstring path;
    HKEY key;
    std::wstring head = L"{\"key\":" + jsonString(full) + L",\"name\":" + jsonString(name) + L",";
    if (!split_key(full, root, path) || RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        answer(head + L"\"exists\":false}");
        return;
    }
    DWORD type = 0, size = 0;
    const wchar_t* valueName = name == L"@" ? nullptr : name.c_str();
    LONG result = RegQueryValueExW(key, valueName, nullptr, &type, nullptr, &size);
    std::vector<BYTE> bytes(size + 2, 0);
    if (result == ERROR_SUCCESS)
        result = RegQueryValueExW(key, valueName, nullptr, &type, bytes.data(), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        answer(head + L"\"exists\":false}");
        return;
    }
    std::wstring text;
    if (type == REG_DWORD && size == 4) {
        DWORD value = *reinterpret_cast<DWORD*>(bytes.data());
        text = std::to_wstring(value);
    } else {
        text.assign(reinterpret_cast<const wchar_t*>(bytes.data()), size / 2);
    }
    answer(head + L"\"exists\":true,\"type\":" + std::to_wstring(type) + L",\"text\":" + jsonString(text) +
           L"}");
}

void key_exists(const std::wstring& full)
{
    HKEY root;
    std::wstring path;
    HKEY key;
    bool exists = split_key(full, root, path) &&
                  RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (exists)
        RegCloseKey(key);
    answer(L"{\"key\":" + jsonString(full) + L",\"exists\":" + (exists ? L"true" : L"false") + L"}");
}

}  // namespace

int wmain()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    int code = 0;
    for (int i = 1; argv && i < argc; ++i) {
        std::wstring action = argv[i];
        auto has = [&](int n) { return i + n < argc; };
        if (action == L"out" && has(1)) {
            g_out = argv[++i];
        } else if (action == L"delete" && has(1)) {
            HKEY root;
            std::wstring path;
            if (split_key(argv[++i], root, path))
                delete_tree(root, path);
        } else if (action == L"set" && has(4)) {
            set_value(argv[i + 1], argv[i + 2], argv[i + 3], argv[i + 4]);
            i += 4;
        } else if (action == L"get" && has(2)) {
            get_value(argv[i + 1], argv[i + 2]);
            i += 2;
        } else if (action == L"key" && has(1)) {
            key_exists(argv[++i]);
        } else if (action == L"unset" && has(2)) {
            HKEY root;
            std::wstring path;
            HKEY key;
            if (split_key(argv[i + 1], root, path) &&
                RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
                RegDeleteValueW(key, argv[i + 2]);
                RegCloseKey(key);
            }
            i += 2;
        } else if (action == L"ini" && has(4)) {
            std::wstring key = argv[i + 3];
            std::wstring value = argv[i + 4];
            WritePrivateProfileStringW(argv[i + 2], key == L"-" ? nullptr : key.c_str(),
                                       value == L"-" || key == L"-" ? nullptr : value.c_str(),
                                       argv[i + 1]);
            i += 4;
        } else if (action == L"iniget" && has(3)) {
            wchar_t text[4096];
            GetPrivateProfileStringW(argv[i + 2], argv[i + 3], L"", text, 4096, argv[i + 1]);
            answer(L"{\"text\":" + jsonString(text) + L"}");
            i += 3;
        } else if (action == L"atom" && has(1)) {
            std::wstring name = argv[++i];
            answer(L"{\"atom\":" + jsonString(name) + L",\"exists\":" +
                   (GlobalFindAtomW(name.c_str()) ? L"true" : L"false") + L"}");
        } else if (action == L"fileversion" && has(1)) {
            std::wstring file = argv[++i];
            DWORD handle = 0, ms = 0, ls = 0;
            DWORD size = GetFileVersionInfoSizeW(file.c_str(), &handle);
            std::vector<BYTE> block(size + 1);
            VS_FIXEDFILEINFO* info = nullptr;
            UINT length = 0;
            if (size && GetFileVersionInfoW(file.c_str(), 0, size, block.data()) &&
                VerQueryValueW(block.data(), L"\\", (void**)&info, &length) && info) {
                ms = info->dwFileVersionMS;
                ls = info->dwFileVersionLS;
            }
            answer(L"{\"ms\":" + std::to_wstring(ms) + L",\"ls\":" + std::to_wstring(ls) + L"}");
        } else {
            answer(L"{\"error\":" + jsonString(L"unknown " + action) + L"}");
            code = 2;
            break;
        }
    }
    LocalFree(argv);
    if (!g_out.empty())
        answer(L"{\"end\":" + std::to_wstring(code) + L"}");
    return code;
}
