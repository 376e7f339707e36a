#include "tools/wintools/Robot.h"

#include <cstdio>

namespace {

// A window may be shown before its program has filled it in.
const DWORD kSettleMs = 200;
// A program that does not pump messages must not stall the robot for long.
const UINT kReplyMs = 1000;
// A sent click waits this long for its handler.
const UINT kSendMs = 60000;
const size_t kMaxText = 65536;

std::wstring number(long value)
{
    wchar_t digits[24];
    std::swprintf(digits, 24, L"%ld", value);
    return digits;
}

std::string jsonNumber(long value)
{
    return toUtf8(number(value));
}

// ---- script ----

bool parseId(const std::wstring& text, int& id, std::wstring& rest)
{
    size_t end = 0;
    long value = 0;
    while (end < text.size() && text[end] >= L'0' && text[end] <= L'9' && value <= 65535)
        value = value * 10 + (text[end++] - L'0');
    if (end == 0 || value > 65535)
        return false;
    if (end < text.size() && text[end] != L' ' && text[end] != L'\t')
        return false;
    id = (int)value;
    rest = end < text.size() ? text.substr(end + 1) : std::wstring();
    return true;
}

bool parseMs(const std::wstring& text, DWORD& ms)
{
    if (text.empty() || text.size() > 9)
        return false;
    ms = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return false;
        ms = ms * 10 + (c - L'0');
    }
    return true;
}

bool parseDefault(const std::wstring& argument, RobotScript& script)
{
    size_t blank = argument.find(L' ');
    std::wstring what = argument.substr(0, blank);
    if (what == L"cancel")
        script.unmatched = RobotAnswer::Cancel;
    else if (what == L"close")
        script.unmatched = RobotAnswer::Close;
    else if (what == L"leave")
        script.unmatched = RobotAnswer::Leave;
    else
        return false;
    return blank == std::wstring::npos || parseMs(argument.substr(blank + 1), script.graceMs);
}

bool isAnswer(RobotStep::Kind kind)
{
    return kind == RobotStep::Press || kind == RobotStep::PressText || kind == RobotStep::Close ||
           kind == RobotStep::Leave;
}

// Input as a user's hands give it; it may follow the answer, so that it
// reaches the program while the answer's work runs (a key pressed during an
// extraction that the answer started).
bool isInput(RobotStep::Kind kind)
{
    return kind == RobotStep::Key || kind == RobotStep::MouseClick;
}

// The fault of one line, or an empty text when the line is sound.
std::wstring parseLine(const std::wstring& keyword, const std::wstring& argument,
                       RobotScript& script)
{
    if (keyword == L"default")
        return parseDefault(argument, script) ? L"" : L"expects cancel, close or leave and a time in ms";
    if (keyword == L"window") {
        if (!argument.empty())
            return L"\"window\" takes no argument";
        script.rules.emplace_back();
        return L"";
    }
    if (script.rules.empty())
        return L"\"" + keyword + L"\" outside a rule (\"window\" begins one)";
    RobotRule& rule = script.rules.back();
    // A press may be followed by more steps for the same window (the next
    // page of a wizard); after close or leave the window is done.
    bool answered = !rule.steps.empty() &&
                    (rule.steps.back().kind == RobotStep::Close || rule.steps.back().kind == RobotStep::Leave);

    if (keyword == L"class" || keyword == L"caption" || keyword == L"text") {
        if (argument.empty())
            return L"\"" + keyword + L"\" needs a text";
        if (keyword == L"class")
            rule.className = argument;
        else if (keyword == L"caption")
            rule.caption = argument;
        else
            rule.texts.push_back(argument);
        return L"";
    }
    if (keyword == L"repeat") {
        rule.repeat = true;
        return L"";
    }

    RobotStep step{RobotStep::Leave, 0, std::wstring()};
    std::wstring rest;
    if (keyword == L"set" || keyword == L"check" || keyword == L"uncheck" || keyword == L"press" ||
        keyword == L"mouse-click" || keyword == L"await-id" || keyword == L"send") {
        if (!parseId(argument, step.id, rest))
            return L"\"" + keyword + L"\" needs a control id (0 to 65535)";
        if (keyword != L"set" && keyword != L"await-id" && !rest.empty())
            return L"\"" + keyword + L"\" takes only a control id";
        step.kind = keyword == L"set"       ? RobotStep::Set
                    : keyword == L"check"   ? RobotStep::Check
                    : keyword == L"uncheck" ? RobotStep::Uncheck
                    : keyword == L"await-id" ? RobotStep::AwaitId
                    : keyword == L"send"    ? RobotStep::Send
                    : keyword == L"press"   ? RobotStep::Press
                                            : RobotStep::MouseClick;
        step.text = rest;
    } else if (keyword == L"snap") {
        step.kind = RobotStep::Snap;
        step.text = argument;
    } else if (keyword == L"shot") {
        if (argument.empty())
            return L"\"shot\" needs a file name";
        step.kind = RobotStep::Shot;
        step.text = argument;
    } else if (keyword == L"key") {
        if (!parseId(argument, step.id, rest) || !rest.empty() || step.id < 1 || step.id > 254)
            return L"\"key\" needs a virtual-key code (1 to 254)";
        step.kind = RobotStep::Key;
    } else if (keyword == L"await-file") {
        if (argument.empty())
            return L"\"await-file\" needs a file";
        step.kind = RobotStep::AwaitFile;
        step.text = argument;
    } else if (keyword == L"type") {
        if (!parseId(argument, step.id, rest) || !rest.empty() || step.id < 1 || step.id > 254)
            return L"\"type\" needs a virtual-key code (1 to 254)";
        step.kind = RobotStep::Type;
    } else if (keyword == L"await" || keyword == L"await-text") {
        if (argument.empty())
            return L"\"" + keyword + L"\" needs a text";
        step.kind = keyword == L"await" ? RobotStep::Await : RobotStep::AwaitText;
        step.text = argument;
    } else if (keyword == L"press-text") {
        if (argument.empty())
            return L"\"press-text\" needs the button's text";
        step.kind = RobotStep::PressText;
        step.text = argument;
    } else if (keyword == L"close" || keyword == L"leave") {
        if (!argument.empty())
            return L"\"" + keyword + L"\" takes no argument";
        step.kind = keyword == L"close" ? RobotStep::Close : RobotStep::Leave;
    } else {
        return L"unknown keyword \"" + keyword + L"\"";
    }
    if (answered && !isInput(step.kind))
        return L"the rule has its answer already";
    rule.steps.push_back(step);
    return L"";
}

// ---- windows ----

BOOL CALLBACK collectWindow(HWND window, LPARAM list)
{
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::vector<HWND> childWindows(HWND window)
{
    std::vector<HWND> children;
    EnumChildWindows(window, collectWindow, reinterpret_cast<LPARAM>(&children));
    return children;
}

std::wstring className(HWND window)
{
    wchar_t name[256];
    int length = GetClassNameW(window, name, 256);
    return std::wstring(name, length > 0 ? length : 0);
}

std::wstring storedText(HWND window)
{
    wchar_t text[1024];
    int length = GetWindowTextW(window, text, 1024);
    return std::wstring(text, length > 0 ? length : 0);
}

// Edit fields keep their text to themselves: only WM_GETTEXT asks for it.
// Once a program has not answered, the window manager's copy of each text is
// taken instead, so that a busy program stalls the robot only once.
std::wstring controlText(HWND control, bool& answering)
{
    DWORD_PTR length = 0;
    if (!answering ||
        !SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kReplyMs, &length)) {
        answering = false;
        return storedText(control);
    }
    if (length > kMaxText)
        length = kMaxText;
    std::vector<wchar_t> text(length + 1);
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, kReplyMs, &got)) {
        answering = false;
        return storedText(control);
    }
    return std::wstring(text.data(), got < length ? got : length);
}

bool isButton(const std::wstring& name)
{
    return lstrcmpiW(name.c_str(), L"Button") == 0;
}

bool hasCheckState(HWND control)
{
    switch (GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
        return true;
    default:
        return false;
    }
}

LRESULT checkState(HWND control)
{
    DWORD_PTR state = 0;
    SendMessageTimeoutW(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kReplyMs, &state);
    return (LRESULT)state;
}

std::wstring withoutMnemonics(const std::wstring& text)
{
    std::wstring plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&' && i + 1 < text.size())
            ++i;
        else if (text[i] == L'&')
            continue;
        plain += text[i];
    }
    return plain;
}

HWND findControl(HWND window, int id)
{
    for (HWND child : childWindows(window))
        if (GetDlgCtrlID(child) == id)
            return child;
    return nullptr;
}

HWND findButton(HWND window, const std::wstring& text)
{
    bool answering = true;
    for (HWND child : childWindows(window))
        if (isButton(className(child)) && withoutMnemonics(controlText(child, answering)) == text)
            return child;
    return nullptr;
}

bool canPress(HWND control)
{
    return IsWindowVisible(control) && IsWindowEnabled(control);
}

// A click as a user's: check boxes and radio buttons go through the button's
// own code, so that they toggle; a push button's BN_CLICKED goes straight to
// its dialog, because a click simulated on the button is lost when the
// button loses the mouse capture between its press and its release (a window
// that activates at that moment). Posted, so that a modal box it opens
// cannot hold the robot.
void click(HWND control)
{
    LONG type = GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK;
    HWND parent = GetParent(control);
    if ((type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) && parent != nullptr) {
        WPARAM command = MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID(control)), BN_CLICKED);
        PostMessageW(parent, WM_COMMAND, command, reinterpret_cast<LPARAM>(control));
        return;
    }
    PostMessageW(control, BM_CLICK, 0, 0);
}

// What the screen shows of a window, as a 24-bit bitmap file.
bool saveWindowPicture(HWND window, const std::wstring& path)
{
    RECT r;
    if (!GetWindowRect(window, &r) || r.right <= r.left || r.bottom <= r.top)
        return false;
    int width = r.right - r.left, height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP picture = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (picture && memory) {
        HGDIOBJ old = SelectObject(memory, picture);
        ok = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != 0;
        GdiFlush();
        SelectObject(memory, old);
    }
    DWORD stride = ((DWORD)width * 3 + 3) & ~3u;
    DWORD size = stride * (DWORD)height;
    if (ok) {
        BITMAPFILEHEADER head = {};
        head.bfType = 0x4D42;
        head.bfOffBits = sizeof head + sizeof info.bmiHeader;
        head.bfSize = head.bfOffBits + size;
        info.bmiHeader.biSizeImage = size;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        ok = file != INVALID_HANDLE_VALUE && WriteFile(file, &head, sizeof head, &written, nullptr) &&
             WriteFile(file, &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr) &&
             WriteFile(file, bits, size, &written, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    if (picture)
        DeleteObject(picture);
    if (memory)
        DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

} // namespace

bool parseRobotScript(const std::string& utf8, RobotScript& script, std::wstring& error)
{
    script = RobotScript();
    std::wstring text;
    std::string bytes = utf8;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        bytes.erase(0, 3);
    if (!fromUtf8(bytes, text)) {
        error = L"not UTF-8";
        return false;
    }
    int lineNumber = 0;
    size_t begin = 0;
    while (begin <= text.size()) {
        size_t end = text.find(L'\n', begin);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring line = text.substr(begin, end - begin);
        begin = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
        size_t start = line.find_first_not_of(L" \t");
        if (start == std::wstring::npos || line[start] == L'#')
            continue;
        size_t gap = line.find_first_of(L" \t", start);
        std::wstring keyword = line.substr(start, gap - start);
        std::wstring argument = gap == std::wstring::npos ? std::wstring() : line.substr(gap + 1);
        size_t rules = script.rules.size();
        std::wstring fault = parseLine(keyword, argument, script);
        if (!fault.empty()) {
            error = L"line " + number(lineNumber) + L": " + fault;
            return false;
        }
        if (script.rules.size() > rules)
            script.rules.back().line = lineNumber;
    }
    for (RobotRule& rule : script.rules)
        if (rule.steps.empty() || !isAnswer(rule.steps.back().kind))
            rule.steps.push_back(RobotStep{RobotStep::Leave, 0, std::wstring()});
    return true;
}

const std::wstring& processImage(RunProcess& process)
{
    // Not in XP's kernel32, hence looked up; a process just started may not
    // answer yet, so it is asked again next time.
    typedef BOOL(WINAPI * ImageNameFn)(HANDLE, DWORD, LPWSTR, PDWORD);
    static ImageNameFn imageName = (ImageNameFn)(void*)GetProcAddress(
        GetModuleHandleW(L"kernel32"), "QueryFullProcessImageNameW");
    if (process.image.empty() && process.handle && imageName) {
        wchar_t path[MAX_PATH * 2];
        DWORD size = MAX_PATH * 2;
        if (imageName(process.handle, 0, path, &size))
            process.image.assign(path, size);
    }
    return process.image;
}

void Robot::tick(RunProcesses& processes)
{
    DWORD now = GetTickCount();
    std::vector<HWND> tops;
    EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&tops));
    for (auto& entry : windows_)
        entry.second.present = false;

    for (HWND window : tops) {
        if (!IsWindowVisible(window))
            continue;
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        auto process = processes.find(pid);
        if (process == processes.end())
            continue;
        auto found = windows_.find(window);
        if (found == windows_.end()) {
            found = windows_.emplace(window, Watched()).first;
            found->second.firstSeen = now;
        }
        Watched& watched = found->second;
        watched.present = true;
        if (!watched.recorded) {
            if (now - watched.firstSeen < kSettleMs)
                continue;
            record(window, watched, process->second, pid);
        }
        if (!watched.done)
            answer(window, watched, now);
    }

    for (auto entry = windows_.begin(); entry != windows_.end();) {
        if (entry->second.present) {
            ++entry;
            continue;
        }
        if (entry->second.recorded)
            log_.write("\"event\":\"gone\",\"seq\":" + jsonNumber(entry->second.seq));
        entry = windows_.erase(entry);
    }
}

void Robot::finish()
{
    for (auto& entry : windows_)
        if (entry.second.recorded)
            log_.write("\"event\":\"gone\",\"seq\":" + jsonNumber(entry.second.seq));
    windows_.clear();
    for (size_t i = 0; i < script_.rules.size(); ++i)
        if (script_.rules[i].answered == 0)
            log_.write("\"event\":\"unused\",\"rule\":" + jsonNumber((long)i + 1) +
                       ",\"line\":" + jsonNumber(script_.rules[i].line));
}

std::string Robot::controlsJson(HWND window, std::vector<Control>* kept)
{
    std::string controls;
    bool answering = true;
    for (HWND child : childWindows(window)) {
        Control control{GetDlgCtrlID(child), className(child), controlText(child, answering)};
        if (!controls.empty())
            controls += ',';
        controls += "{\"id\":" + jsonNumber(control.id) +
                    ",\"class\":" + jsonString(control.className) +
                    ",\"text\":" + jsonString(control.text) +
                    // A busy program's edit field: the window manager's copy
                    // may be the text it was created with.
                    (answering ? "" : ",\"stale\":true") +
                    ",\"visible\":" + (IsWindowVisible(child) ? "true" : "false") +
                    ",\"enabled\":" + (IsWindowEnabled(child) ? "true" : "false");
        if (answering && isButton(control.className) && hasCheckState(child))
            controls += ",\"check\":" + jsonNumber((long)checkState(child));
        controls += '}';
        if (kept)
            kept->push_back(control);
    }
    return controls;
}

void Robot::record(HWND window, Watched& watched, RunProcess& process, DWORD pid)
{
    watched.recorded = true;
    watched.recordedAt = GetTickCount();
    watched.seq = nextSeq_++;

    std::string controls = controlsJson(window, &watched.controls);

    recordedCaptions_.push_back(storedText(window));
    watched.rule = matchRule(window, watched);
    if (watched.rule > 0)
        ++script_.rules[watched.rule - 1].answered;

    log_.write("\"event\":\"window\",\"seq\":" + jsonNumber(watched.seq) +
               ",\"pid\":" + jsonNumber((long)pid) +
               ",\"image\":" + jsonString(processImage(process)) +
               ",\"class\":" + jsonString(className(window)) +
               ",\"caption\":" + jsonString(storedText(window)) +
               ",\"rule\":" + jsonNumber(watched.rule) +
               ",\"controls\":[" + controls + "]");
}

int Robot::matchRule(HWND window, const Watched& watched)
{
    std::wstring windowClass = className(window);
    std::wstring caption = storedText(window);
    for (size_t i = 0; i < script_.rules.size(); ++i) {
        const RobotRule& rule = script_.rules[i];
        if (rule.answered > 0 && !rule.repeat)
            continue;
        if (!rule.className.empty() && lstrcmpiW(rule.className.c_str(), windowClass.c_str()) != 0)
            continue;
        if (caption.find(rule.caption) == std::wstring::npos)
            continue;
        bool allTexts = true;
        for (const std::wstring& text : rule.texts) {
            bool inSome = false;
            for (const Control& control : watched.controls)
                inSome = inSome || control.text.find(text) != std::wstring::npos;
            allTexts = allTexts && inSome;
        }
        if (allTexts)
            return (int)i + 1;
    }
    return 0;
}

void Robot::answer(HWND window, Watched& watched, DWORD now)
{
    if (watched.rule == 0) {
        if (script_.unmatched == RobotAnswer::Leave) {
            watched.done = true;
        } else if (now - watched.recordedAt >= script_.graceMs) {
            answerUnmatched(window, watched);
            watched.done = true;
        }
        return;
    }
    const RobotRule& rule = script_.rules[watched.rule - 1];
    while (watched.step < rule.steps.size()) {
        if (!runStep(window, watched, rule.steps[watched.step], watched.rule))
            return;
        ++watched.step;
        watched.waitReported = false;
    }
    watched.done = true;
}

// The first time a step of the window has to wait: what it waits for.
void Robot::reportWait(Watched& watched, int rule, const std::string& what)
{
    if (!watched.waitReported)
        log_.write("\"event\":\"wait\",\"seq\":" + jsonNumber(watched.seq) + ",\"rule\":" + jsonNumber(rule) +
                   what);
    watched.waitReported = true;
}

// False when the step has to wait for a later tick.
bool Robot::runStep(HWND window, Watched& watched, const RobotStep& step, int rule)
{
    std::string head = "\"event\":\"action\",\"seq\":" + jsonNumber(watched.seq) +
                       ",\"rule\":" + jsonNumber(rule);
    std::string id = ",\"id\":" + jsonNumber(step.id);
    HWND control = nullptr;
    switch (step.kind) {
    case RobotStep::Set:
        control = findControl(window, step.id);
        if (control) {
            DWORD_PTR result = 0;
            SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(step.text.c_str()),
                                SMTO_ABORTIFHUNG, kReplyMs, &result);
        }
        log_.write(head + ",\"do\":\"set\"" + id + ",\"text\":" + jsonString(step.text) +
                   (control ? "" : ",\"missing\":true"));
        return true;
    case RobotStep::Check:
    case RobotStep::Uncheck: {
        bool wanted = step.kind == RobotStep::Check;
        control = findControl(window, step.id);
        if (control && (checkState(control) == BST_CHECKED) != wanted)
            click(control);
        log_.write(head + (wanted ? ",\"do\":\"check\"" : ",\"do\":\"uncheck\"") + id +
                   (control ? "" : ",\"missing\":true"));
        return true;
    }
    case RobotStep::Press:
    case RobotStep::PressText:
        control = step.kind == RobotStep::Press ? findControl(window, step.id)
                                                : findButton(window, step.text);
        if (!control && step.kind == RobotStep::Press) {
            // No such button: the command a dialog gets from its keyboard.
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(step.id, BN_CLICKED), 0);
            log_.write(head + ",\"do\":\"press\"" + id + ",\"missing\":true");
            return true;
        }
        if (!control || !canPress(control)) {
            reportWait(watched, rule, control ? id : ",\"text\":" + jsonString(step.text));
            return false;
        }
        click(control);
        log_.write(head + ",\"do\":\"press\",\"id\":" + jsonNumber(GetDlgCtrlID(control)) +
                   (step.kind == RobotStep::PressText ? ",\"text\":" + jsonString(step.text)
                                                      : std::string()));
        return true;
    case RobotStep::Type: {
        // A keystroke as the keyboard makes it: the window is brought to the
        // front and the key goes in as input, so that the system does what
        // it does with a real key (F1 becomes WM_HELP only so).
        SetForegroundWindow(window);
        INPUT keys[2] = {};
        for (INPUT& key : keys) {
            key.type = INPUT_KEYBOARD;
            key.ki.wVk = static_cast<WORD>(step.id);
            key.ki.wScan = static_cast<WORD>(MapVirtualKeyW(static_cast<UINT>(step.id), MAPVK_VK_TO_VSC));
        }
        keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
        bool front = GetForegroundWindow() == window;
        UINT sent = SendInput(2, keys, sizeof(INPUT));
        log_.write(head + ",\"do\":\"type\",\"key\":" + jsonNumber(step.id) +
                   ",\"front\":" + (front ? "true" : "false") + ",\"sent\":" + jsonNumber(sent));
        return true;
    }
    case RobotStep::Await:
    case RobotStep::AwaitText: {
        bool seen = false;
        if (step.kind == RobotStep::Await) {
            for (const std::wstring& caption : recordedCaptions_)
                seen = seen || caption.find(step.text) != std::wstring::npos;
        } else {
            // The controls as they are now: a dialog may fill them after it shows.
            bool answering = true;
            for (HWND child : childWindows(window))
                seen = seen || controlText(child, answering).find(step.text) != std::wstring::npos;
        }
        if (seen) {
            log_.write(head + (step.kind == RobotStep::Await ? ",\"do\":\"await\"" : ",\"do\":\"await-text\"") +
                       ",\"text\":" + jsonString(step.text));
            return true;
        }
        reportWait(watched, rule, ",\"text\":" + jsonString(step.text));
        return false;
    }
    case RobotStep::Close:
        PostMessageW(window, WM_CLOSE, 0, 0);
        log_.write(head + ",\"do\":\"close\"");
        return true;
    case RobotStep::Key:
        // Into the window's queue, behind whatever the robot posted before.
        PostMessageW(window, WM_KEYDOWN, step.id, 1);
        PostMessageW(window, WM_KEYUP, step.id, 0xC0000001);
        log_.write(head + ",\"do\":\"key\"" + id);
        return true;
    case RobotStep::MouseClick:
        // The button's own press and release, not its command: a program
        // that drains its input meanwhile sees the click as a user's.
        control = findControl(window, step.id);
        if (control) {
            PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
            PostMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
        }
        log_.write(head + ",\"do\":\"mouse-click\"" + id + (control ? "" : ",\"missing\":true"));
        return true;
    case RobotStep::AwaitFile:
        if (GetFileAttributesW(step.text.c_str()) == INVALID_FILE_ATTRIBUTES) {
            if (!watched.waitReported)
                log_.write("\"event\":\"wait\",\"seq\":" + jsonNumber(watched.seq) +
                           ",\"rule\":" + jsonNumber(rule) + ",\"file\":" + jsonString(step.text));
            watched.waitReported = true;
            return false;
        }
        log_.write(head + ",\"do\":\"await-file\",\"file\":" + jsonString(step.text));
        return true;
    case RobotStep::Leave:
        return true;
    case RobotStep::Send: {
        // A click whose handling is over when the step ends, so that the
        // steps behind it see what it did.
        control = findControl(window, step.id);
        if (!control || !canPress(control)) {
            reportWait(watched, rule, id);
            return false;
        }
        DWORD_PTR result = 0;
        BOOL answered = SendMessageTimeoutW(GetParent(control), WM_COMMAND, MAKEWPARAM(step.id, BN_CLICKED),
                                            reinterpret_cast<LPARAM>(control), SMTO_NORMAL, kSendMs, &result) != 0;
        log_.write(head + ",\"do\":\"send\"" + id + (answered ? "" : ",\"timeout\":true"));
        return true;
    }
    case RobotStep::AwaitId: {
        bool answering = true;
        control = findControl(window, step.id);
        if (!control || !IsWindowVisible(control) ||
            (!step.text.empty() && controlText(control, answering).find(step.text) == std::wstring::npos)) {
            reportWait(watched, rule, id);
            return false;
        }
        // The page may still be being built: the program answers a sent
        // message only once it reads its messages again.
        DWORD_PTR result = 0;
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kSendMs, &result);
        log_.write(head + ",\"do\":\"await-id\"" + id);
        return true;
    }
    case RobotStep::Snap:
        log_.write(head + ",\"do\":\"snap\",\"label\":" + jsonString(step.text) +
                   ",\"caption\":" + jsonString(storedText(window)) +
                   ",\"controls\":[" + controlsJson(window, nullptr) + "]");
        return true;
    case RobotStep::Shot:
        // The window repaints first; the picture is taken a tick later.
        if (!watched.shotAsked) {
            watched.shotAsked = true;
            RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
            DWORD_PTR result = 0;
            SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kReplyMs, &result);
            return false;
        }
        watched.shotAsked = false;
        log_.write(head + ",\"do\":\"shot\",\"file\":" + jsonString(step.text) +
                   (saveWindowPicture(window, hostPath(step.text)) ? "" : ",\"failed\":true"));
        return true;
    }
    return true;
}

void Robot::answerUnmatched(HWND window, Watched& watched)
{
    std::string head = "\"event\":\"action\",\"seq\":" + jsonNumber(watched.seq) + ",\"rule\":0";
    if (script_.unmatched == RobotAnswer::Cancel) {
        HWND cancel = findControl(window, IDCANCEL);
        if (cancel && canPress(cancel)) {
            click(cancel);
            log_.write(head + ",\"do\":\"press\",\"id\":2");
            return;
        }
    }
    PostMessageW(window, WM_CLOSE, 0, 0);
    log_.write(head + ",\"do\":\"close\"");
}
