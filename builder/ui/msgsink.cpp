// The message sink: MessageBoxW, or a record for tests.
#include "builder/ui/msgsink.h"

#include <cstdarg>
#include <cstdio>
#include <map>

#include "builder/ui/dlg.h"
#include "common/QlMisc.h"

namespace {

struct Recorder {
    bool inMemory = false;
    bool fromEnvironment = false;
    std::wstring logPath;
    std::map<int, int> answers;
    std::vector<SinkRecord> records;
};

int answer_of_word(const std::wstring& word)
{
    static const struct { const wchar_t* word; int answer; } kWords[] = {
        {L"ok", IDOK}, {L"cancel", IDCANCEL}, {L"yes", IDYES}, {L"no", IDNO},
        {L"abort", IDABORT}, {L"retry", IDRETRY}, {L"ignore", IDIGNORE},
    };
    for (const auto& w : kWords)
        if (_wcsicmp(w.word, word.c_str()) == 0)
            return w.answer;
    return 0;
}

const wchar_t* word_of_answer(int answer)
{
    switch (answer) {
    case IDOK: return L"ok";
    case IDCANCEL: return L"cancel";
    case IDYES: return L"yes";
    case IDNO: return L"no";
    case IDABORT: return L"abort";
    case IDRETRY: return L"retry";
    case IDIGNORE: return L"ignore";
    default: return L"none";
    }
}

// "4740=no,1078=ok"
void parse_answers(const wchar_t* list, std::map<int, int>& answers)
{
    std::wstring text(list);
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(L',', at);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring pair = text.substr(at, end - at);
        size_t eq = pair.find(L'=');
        if (eq != std::wstring::npos)
            answers[_wtoi(pair.substr(0, eq).c_str())] = answer_of_word(pair.substr(eq + 1));
        at = end + 1;
    }
}

Recorder& recorder()
{
    static Recorder r;
    static bool looked = false;
    if (!looked) {
        looked = true;
        wchar_t path[MAX_PATH * 2];
        DWORD n = GetEnvironmentVariableW(L"QL_MESSAGE_LOG", path, MAX_PATH * 2);
        if (n > 0 && n < MAX_PATH * 2) {
            r.fromEnvironment = true;
            r.logPath = path;
            wchar_t list[4096];
            n = GetEnvironmentVariableW(L"QL_MESSAGE_ANSWERS", list, 4096);
            if (n > 0 && n < 4096)
                parse_answers(list, r.answers);
        }
    }
    return r;
}

// The button a user who only presses Enter would choose.
int default_answer(UINT flags)
{
    static const int kButtons[][3] = {
        {IDOK, IDOK, IDOK},             // MB_OK
        {IDOK, IDCANCEL, IDCANCEL},     // MB_OKCANCEL
        {IDABORT, IDRETRY, IDIGNORE},   // MB_ABORTRETRYIGNORE
        {IDYES, IDNO, IDCANCEL},        // MB_YESNOCANCEL
        {IDYES, IDNO, IDNO},            // MB_YESNO
        {IDRETRY, IDCANCEL, IDCANCEL},  // MB_RETRYCANCEL
    };
    UINT type = flags & MB_TYPEMASK;
    if (type > 5)
        type = 0;
    UINT button = (flags & MB_DEFMASK) >> 8;
    if (button > 2)
        button = 0;
    return kButtons[type][button];
}

void append_log_line(const std::wstring& path, int id, int answer, const QlStr& text)
{
    std::wstring line = std::to_wstring(id) + L"\t" + word_of_answer(answer) + L"\t";
    for (int i = 0; i < text.Length(); ++i) {
        QlChar c = text.CharAt(i);
        if (c == L'\n')
            line += L"\\n";
        else if (c == L'\r')
            line += L"\\r";
        else if (c == L'\t')
            line += L"\\t";
        else
            line += c;
    }
    append_utf8_line(path, line);
}

}  // namespace

void append_utf8_line(const std::wstring& path, const std::wstring& line)
{
    std::wstring text = line + L"\n";
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                    nullptr, 0, nullptr, nullptr);
    std::string utf8(bytes, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], bytes,
                        nullptr, nullptr);
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    CloseHandle(file);
}

int sink_message_box(int id, HWND owner, const QlStr& text, const QlStr& caption, UINT flags,
                     int help_id)
{
    Recorder& r = recorder();
    if (r.inMemory || r.fromEnvironment) {
        auto scripted = r.answers.find(id);
        int answer = scripted != r.answers.end() && scripted->second != 0 ? scripted->second
                                                                          : default_answer(flags);
        if (r.inMemory)
            r.records.push_back({id, std::wstring(text.Text() ? text.Text() : L""), answer});
        else
            append_log_line(r.logPath, id, answer, text);
        return answer;
    }
    return show_message_box_now(help_id, owner, text, caption, flags);
}

QlStr load_message(int id)
{
    QlStr text;
    text.LoadString(id);
    return text;
}

namespace {

QlStr format_message_v(int id, va_list args)
{
    QlStr format = load_message(id);
    QlStr text;
    text.FormatV(format.Text(), args);
    return text;
}

}  // namespace

QlStr format_message(int id, ...)
{
    va_list args;
    va_start(args, id);
    QlStr text = format_message_v(id, args);
    va_end(args);
    return text;
}

int message_box_id(int id, const QlStr& text, UINT flags, HWND owner)
{
    return sink_message_box(id, owner, text, load_message(kMsgCaption), flags);
}

void show_error_id(int id)
{
    message_box_id(id, load_message(id), MB_OK | MB_ICONERROR);
}

void show_error_format(int id, ...)
{
    va_list args;
    va_start(args, id);
    QlStr text = format_message_v(id, args);
    va_end(args);
    message_box_id(id, text, MB_OK | MB_ICONERROR);
}

HWND sink_main_window()
{
    return qlMiscGetMainWindow();
}

void msgsink_record_in_memory(bool on)
{
    Recorder& r = recorder();
    r.inMemory = on;
    r.records.clear();
    r.answers.clear();
}

void msgsink_set_answer(int id, int answer)
{
    recorder().answers[id] = answer;
}

std::vector<SinkRecord> msgsink_take_records()
{
    std::vector<SinkRecord> out;
    out.swap(recorder().records);
    return out;
}
