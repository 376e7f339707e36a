// The narrow build's own pieces that a test program can take on their own:
// the message texts in rotating buffers, the command-line splitter and the
// wininit.ini entry (which the wide build takes on the 9x family too).
#include "stub/sfxnarrow.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "stub/sfxstub.h"

namespace {

const char kSource[] = "sfxhead.c";
// The messages of a missing or too long text that do not fit their buffer.
constexpr int kLineNotFoundFits = 747;
constexpr int kLineTooLongFits = 727;

constexpr int kTextChars = 1400;
char g_texts[5][kTextChars + 1];
int g_next_text = 0;

// A plain error box of its own: the stub's message road needs the texts.
void say_text_trouble(const char* format, int id, int fits_line)
{
    char message[128];
    int n = _snprintf(message, sizeof message, format, id);
    if (n < 0 || n >= static_cast<int>(sizeof message))
        internal_error(kSource, fits_line);
    MessageBoxA(nullptr, message, nullptr, MB_ICONERROR);
}

bool separates(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char* g_split_block = nullptr;

}  // namespace

char** split_command_line_narrow(const char* line, int* count)
{
    *count = 0;
    if (line == nullptr)
        line = "";
    const size_t length = std::strlen(line);
    // At most one argument per two characters, plus the null pointer; the
    // characters need no more room than the line with a terminator each.
    const size_t pointers = length / 2 + 2;
    char* block = static_cast<char*>(std::realloc(g_split_block, pointers * sizeof(char*) + 2 * length + 2));
    if (block == nullptr)
        return nullptr;
    g_split_block = block;
    char** args = reinterpret_cast<char**>(block);
    char* out = block + pointers * sizeof(char*);
    int n = 0;
    const char* p = line;
    for (;;) {
        while (*p && separates(*p))
            ++p;
        if (*p == 0)
            break;
        args[n++] = out;
        bool quoted = false;
        for (; *p && (quoted || !separates(*p)); ++p) {
            if (*p == '"')
                quoted = !quoted;
            else
                *out++ = *p;
        }
        *out++ = 0;
    }
    args[n] = nullptr;
    *count = n;
    return args;
}

namespace {

bool same_no_case(const char* a, const char* b, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? a[i] - 'A' + 'a' : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? b[i] - 'A' + 'a' : b[i];
        if (x != y)
            return false;
    }
    return true;
}

}  // namespace

size_t add_rename_line(char* text, size_t size, size_t capacity, const char* line)
{
    static const char kSection[] = "[Rename]\r\n";
    const size_t section = sizeof kSection - 1;
    const size_t added = std::strlen(line);
    char* at = nullptr;
    for (size_t i = 0; i + section <= size && at == nullptr; ++i)
        if (same_no_case(text + i, kSection, section))
            at = text + i + section;
    if (at == nullptr) {
        // A new section at the end, on a line of its own.
        const bool line_end = size == 0 || text[size - 1] == '\n';
        const size_t total = size + (line_end ? 0 : 2) + section + added;
        if (total > capacity)
            return 0;
        char* end = text + size;
        if (!line_end) {
            std::memcpy(end, "\r\n", 2);
            end += 2;
        }
        std::memcpy(end, kSection, section);
        std::memcpy(end + section, line, added);
        return total;
    }
    if (size + added > capacity)
        return 0;
    std::memmove(at + added, at, text + size - at);
    std::memcpy(at, line, added);
    return size + added;
}

const char* load_string_narrow(int id)
{
    char* text = g_texts[g_next_text];
    g_next_text = (g_next_text + 1) % 5;
    text[0] = 0;
    size_t length = 0;
    HINSTANCE own = GetModuleHandleA(nullptr);
    for (;;) {
        char work[kTextChars + 2];
        int loaded = LoadStringA(own, static_cast<UINT>(id), work, sizeof work);
        if (loaded <= 0) {
            say_text_trouble("Internal error: string resource not found: %d", id, kLineNotFoundFits);
            return text;
        }
        const bool goes_on = work[0] == '!';
        const char* part = goes_on ? work + 1 : work;
        size_t part_length = std::strlen(part);
        if (length + part_length > kTextChars) {
            say_text_trouble("Internal error: string resource too long: %d", id, kLineTooLongFits);
            return text;
        }
        std::memcpy(text + length, part, part_length + 1);
        length += part_length;
        if (!goes_on)
            return text;
        ++id;
    }
}

void schedule_in_wininit(const char* path)
{
    char line[MAX_PATH * 2 + 16];
    int line_length = _snprintf(line, sizeof line, "%s=%s\r\n", "NUL", path);
    if (line_length < 0 || line_length >= static_cast<int>(sizeof line))
        internal_error(kSfxHeadSource, kSfxLineRenameLine);
    char ini[MAX_PATH + 1] = {0};
    UINT length = GetWindowsDirectoryA(ini, MAX_PATH);
    static const char kName[] = "WinInit.Ini";
    if (length == 0 || length + 1 + sizeof kName > sizeof ini)
        internal_error(kSfxHeadSource, kSfxLineWininitPath);
    if (ini[length - 1] != '\\')
        ini[length++] = '\\';
    lstrcpynA(ini + length, kName, sizeof ini - length);
    HANDLE file = CreateFileA(ini, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD size = GetFileSize(file, nullptr);
    // Room for the line, a line end and the section header.
    DWORD capacity = size + static_cast<DWORD>(line_length) + 12;
    HANDLE mapping = size != INVALID_FILE_SIZE && size < 0x1000000
                         ? CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, capacity, nullptr)
                         : nullptr;
    char* view = mapping ? static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, capacity)) : nullptr;
    size_t total = view ? add_rename_line(view, size, capacity, line) : 0;
    if (view)
        UnmapViewOfFile(view);
    if (mapping)
        CloseHandle(mapping);
    // The mapping grew the file to its capacity: back to what it holds.
    if (size != INVALID_FILE_SIZE &&
        SetFilePointer(file, static_cast<LONG>(total ? total : size), nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER)
        SetEndOfFile(file);
    CloseHandle(file);
}
