#include "tools/wintools/WinText.h"

#include <cstdio>

std::string toUtf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0,
                                   nullptr, nullptr);
    std::string bytes(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &bytes[0], size,
                            nullptr, nullptr);
    return bytes;
}

bool fromUtf8(const std::string& bytes, std::wstring& text)
{
    text.clear();
    if (bytes.empty())
        return true;
    int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), (int)bytes.size(),
                                   nullptr, 0);
    if (size <= 0)
        return false;
    text.resize(size);
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), (int)bytes.size(), &text[0],
                        size);
    return true;
}

bool readFileBytes(const std::wstring& path, std::string& bytes)
{
    bytes.clear();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char chunk[4096];
    DWORD got = 0;
    bool ok = true;
    for (;;) {
        if (!ReadFile(file, chunk, sizeof chunk, &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0)
            break;
        bytes.append(chunk, got);
    }
    CloseHandle(file);
    return ok;
}

static int hexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

bool decodeHex(const std::wstring& hex, std::string& bytes)
{
    bytes.clear();
    if (hex.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < hex.size(); i += 2) {
        int high = hexDigit(hex[i]);
        int low = hexDigit(hex[i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes += (char)(high * 16 + low);
    }
    return true;
}

std::wstring quoteArgument(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    // Backslashes are literal except before a quote, where they pair up.
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"')
            quoted.append(backslashes * 2 + 1, L'\\');
        else
            quoted.append(backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

std::wstring hostPath(const std::wstring& path)
{
    if (path.empty() || path[0] != L'/')
        return path;
    // Wine's own mapping honours the prefix's drives; Z: is the fallback.
    typedef WCHAR*(CDECL * DosNameFn)(const char*);
    DosNameFn dosName =
        (DosNameFn)(void*)GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_dos_file_name");
    if (dosName) {
        WCHAR* mapped = dosName(toUtf8(path).c_str());
        if (mapped) {
            std::wstring result = mapped;
            HeapFree(GetProcessHeap(), 0, mapped);
            return result;
        }
    }
    std::wstring result = L"Z:" + path;
    for (wchar_t& c : result)
        if (c == L'/')
            c = L'\\';
    return result;
}

std::string jsonString(const std::wstring& text)
{
    std::string out = "\"";
    for (char c : toUtf8(text)) {
        unsigned char u = (unsigned char)c;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (u < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

std::wstring win32Message(DWORD error)
{
    WCHAR* text = nullptr;
    DWORD size = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, error, 0, (LPWSTR)&text, 0, nullptr);
    std::wstring message;
    if (size && text) {
        message.assign(text, size);
        while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                    message.back() == L' '))
            message.pop_back();
    }
    if (text)
        LocalFree(text);
    wchar_t code[32];
    std::swprintf(code, 32, L"error %lu", (unsigned long)error);
    return message.empty() ? std::wstring(code) : message + L" (" + code + L")";
}

void reportLine(const std::wstring& line)
{
    std::string bytes = toUtf8(line + L"\n");
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), bytes.data(), (DWORD)bytes.size(), &written, nullptr);
}

RunLog::~RunLog()
{
    if (file_ != INVALID_HANDLE_VALUE)
        CloseHandle(file_);
}

bool RunLog::open(const std::wstring& path)
{
    file_ = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    return file_ != INVALID_HANDLE_VALUE;
}

void RunLog::write(const std::string& record)
{
    if (file_ == INVALID_HANDLE_VALUE)
        return;
    std::string line = "{" + record + "}\n";
    DWORD written = 0;
    WriteFile(file_, line.data(), (DWORD)line.size(), &written, nullptr);
}
