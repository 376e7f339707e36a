// qllaunch: the test launcher. Starts a program with an exact raw command
// line, waits for its whole run (the program and every process started from
// it, held together in a job object), optionally drives the run's windows
// with the robot, and ends with the program's exit code. Never hangs: past
// its deadline it ends the run.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "tools/wintools/Robot.h"
#include "tools/wintools/WinText.h"

namespace {

const int kExitDeadline = 124;
const int kExitFailure = 125;
const DWORD kRobotTickMs = 100;
// After the deadline the job is told to end; this long it may take.
const DWORD kEndingMs = 10000;

const wchar_t kUsage[] =
    L"usage: qllaunch [options] -cmdfile FILE | -cmdhex HEX | -- PROGRAM [ARGUMENT...]\n"
    L"\n"
    L"Starts a program with an exact command line and waits until it and every\n"
    L"process started from it have ended. The exit code is the program's own;\n"
    L"124 when the deadline passed (the run was ended), 125 when the launcher\n"
    L"itself failed (usage, files, start).\n"
    L"\n"
    L"The raw command line, which Wine's own argument quoting must not touch:\n"
    L"  -cmdfile FILE    the UTF-8 text of FILE, byte for byte (no newline is\n"
    L"                   dropped; a leading UTF-8 byte-order mark is skipped)\n"
    L"  -cmdhex HEX      the UTF-8 bytes as hex digits, e.g. 2261222062 for \"a\" b\n"
    L"  -- PROGRAM ARG.. or built from these, each quoted as the C runtime reads it\n"
    L"Options:\n"
    L"  -app PATH        the program file, when the first token must not name it\n"
    L"  -dir FOLDER      the program's current folder\n"
    L"  -env NAME=VALUE  sets a variable for the run (the value may be empty)\n"
    L"  -unset NAME      removes a variable for the run\n"
    L"  -timeout SEC     the deadline in seconds (default 60)\n"
    L"  -script FILE     the robot's script: how to answer the run's windows\n"
    L"  -log FILE        the run log: one JSON object a line, UTF-8 (without a\n"
    L"                   script the robot only records)\n"
    L"  -desktop NAME    runs the program on a desktop of its own (made when\n"
    L"                   missing): its windows are not among the others' top-level\n"
    L"                   windows, nor theirs among its own; the robot sees none\n"
    L"A FILE, FOLDER, PATH or PROGRAM that begins with '/' is a Unix path. Option\n"
    L"values pass through Wine's own conversion of Unix arguments: without a UTF-8\n"
    L"locale only ASCII survives it (the raw command line takes any text).\n"
    L"\n"
    L"Robot script, one keyword a line (the argument is the rest of the line\n"
    L"after one blank, as it stands; '#' lines are comments):\n"
    L"  default cancel|close|leave [MS]   windows that no rule matches: after MS\n"
    L"                   (5000) press Cancel (id 2) if there, else close; close;\n"
    L"                   or leave them (the default is cancel 5000)\n"
    L"  window           begins a rule; the first unused matching rule answers a\n"
    L"                   window, each rule one window unless it says\n"
    L"  repeat           answers every matching window\n"
    L"  class TEXT       the window class is TEXT\n"
    L"  caption TEXT     the caption holds TEXT\n"
    L"  text TEXT        a control's text holds TEXT (every text line must match)\n"
    L"  set ID [TEXT]    sets the text of control ID\n"
    L"  check ID         ticks check box ID; uncheck ID clears it\n"
    L"  press ID         clicks button ID once it is visible and enabled (without\n"
    L"                   such a control the window gets WM_COMMAND ID)\n"
    L"  press-text TEXT  clicks the button whose text, '&' marks dropped, is TEXT\n"
    L"  type VK          brings the window to the front and types the key VK (a\n"
    L"                   virtual-key code, 112 for F1) as keyboard input\n"
    L"  await TEXT       waits until a window whose caption holds TEXT has been\n"
    L"                   recorded in the run (it may be gone again)\n"
    L"  await-text TEXT  waits until a control of the window shows TEXT (read\n"
    L"                   afresh: a dialog may fill its controls after it shows)\n"
    L"  key VK           posts the key's press and release (virtual-key code, 27\n"
    L"                   for Esc) to the window\n"
    L"  mouse-click ID   posts a left button's press and release to control ID\n"
    L"  send ID          clicks push button ID and waits (up to 60 s) until the\n"
    L"                   program has handled the click; only for clicks that open\n"
    L"                   no window the robot must answer\n"
    L"  await-id ID [TEXT] waits until control ID is there and visible (and its\n"
    L"                   text holds TEXT), e.g. the next page of a wizard\n"
    L"  snap [LABEL]     records the window's controls as they are now\n"
    L"  shot FILE        has the window repainted, then saves what the screen shows\n"
    L"                   of it as a 24-bit bitmap file (a tick later)\n"
    L"  await-file FILE  waits until the Windows path FILE exists (the harness\n"
    L"                   acts on the window first, e.g. changes a disk)\n"
    L"  close            sends WM_CLOSE;  leave  does nothing (the default answer)\n"
    L"A rule's steps run in the script's order, each once the one before is done;\n"
    L"a press may be followed by more steps for the same window (a wizard's next\n"
    L"page: await it), close and leave end the rule (key and mouse-click may still\n"
    L"follow them, posted behind the answer). A\n"
    L"window is recorded once it has been visible for 0.2 s; hiding it ends its\n"
    L"appearance, showing it again makes a new one.\n"
    L"\n"
    L"Log records (\"event\"):\n"
    L"  window  seq pid image class caption rule (0: none) controls[id class text\n"
    L"          stale (the program did not answer: the text is the window\n"
    L"          manager's copy) visible enabled check (check boxes and radio\n"
    L"          buttons only)]\n"
    L"  action  seq rule do(set|check|uncheck|press|send|close|key|mouse-click|\n"
    L"          type|await|await-text|await-id|await-file|snap|shot) id text file\n"
    L"          missing; snap: label caption controls; shot: file failed\n"
    L"  wait    seq rule id|text|file: the button (or the awaited control) is not\n"
    L"          there, disabled or hidden yet, or what an await step waits for is\n"
    L"          not there yet\n"
    L"  gone    seq: the window was destroyed or hidden\n"
    L"  exit    pid image code: a process of the run ended\n"
    L"  unused  rule line: a rule that answered no window\n"
    L"  end     code: the run ended by itself;  deadline  seconds: it was ended\n";

struct EnvChange {
    std::wstring name;
    std::wstring value;
    bool remove;
};

struct Options {
    std::wstring commandLine;
    bool haveCommandLine = false;
    std::wstring application;
    std::wstring folder;
    std::vector<EnvChange> environment;
    DWORD timeoutSeconds = 60;
    std::wstring scriptPath;
    std::wstring logPath;
    std::wstring desktop;
};

int fail(const std::wstring& message)
{
    reportLine(L"qllaunch: " + message);
    return kExitFailure;
}

bool failed(const std::wstring& message)
{
    fail(message);
    return false;
}

bool setCommandLine(Options& options, const std::string& bytes, std::wstring& error)
{
    if (options.haveCommandLine) {
        error = L"give the command line only once";
        return false;
    }
    std::string text = bytes;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    if (!fromUtf8(text, options.commandLine)) {
        error = L"the command line is not UTF-8";
        return false;
    }
    if (options.commandLine.find(L'\0') != std::wstring::npos) {
        error = L"the command line holds a NUL";
        return false;
    }
    options.haveCommandLine = true;
    return true;
}

bool parseTimeout(const std::wstring& text, DWORD& seconds)
{
    if (text.empty() || text.size() > 6)
        return false;
    seconds = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return false;
        seconds = seconds * 10 + (c - L'0');
    }
    return seconds > 0;
}

bool parseOptions(int argc, wchar_t** argv, Options& options, std::wstring& error)
{
    for (int i = 1; i < argc; ++i) {
        std::wstring option = argv[i];
        if (option == L"--") {
            if (i + 1 >= argc) {
                error = L"\"--\" needs a program";
                return false;
            }
            std::wstring line = quoteArgument(hostPath(argv[i + 1]));
            for (int k = i + 2; k < argc; ++k)
                line += L" " + quoteArgument(argv[k]);
            if (!setCommandLine(options, toUtf8(line), error))
                return false;
            break;
        }
        if (i + 1 >= argc) {
            error = L"\"" + option + L"\" needs a value (or is unknown)";
            return false;
        }
        std::wstring value = argv[++i];
        if (option == L"-cmdfile") {
            std::string bytes;
            if (!readFileBytes(hostPath(value), bytes)) {
                error = L"cannot read " + value + L": " + win32Message(GetLastError());
                return false;
            }
            if (!setCommandLine(options, bytes, error))
                return false;
        } else if (option == L"-cmdhex") {
            std::string bytes;
            if (!decodeHex(value, bytes)) {
                error = L"-cmdhex takes pairs of hex digits";
                return false;
            }
            if (!setCommandLine(options, bytes, error))
                return false;
        } else if (option == L"-app") {
            options.application = hostPath(value);
        } else if (option == L"-dir") {
            options.folder = hostPath(value);
        } else if (option == L"-env") {
            size_t equals = value.find(L'=');
            if (equals == 0 || equals == std::wstring::npos) {
                error = L"-env takes NAME=VALUE";
                return false;
            }
            options.environment.push_back({value.substr(0, equals), value.substr(equals + 1), false});
        } else if (option == L"-unset") {
            options.environment.push_back({value, std::wstring(), true});
        } else if (option == L"-timeout") {
            if (!parseTimeout(value, options.timeoutSeconds)) {
                error = L"-timeout takes a number of seconds";
                return false;
            }
        } else if (option == L"-script") {
            options.scriptPath = hostPath(value);
        } else if (option == L"-log") {
            options.logPath = hostPath(value);
        } else if (option == L"-desktop") {
            options.desktop = value;
        } else {
            error = L"unknown option \"" + option + L"\"";
            return false;
        }
    }
    if (!options.haveCommandLine) {
        error = L"no command line (-cmdfile, -cmdhex or --)";
        return false;
    }
    return true;
}

DWORD WINAPI touchDesktop(LPVOID desktop)
{
    if (SetThreadDesktop(static_cast<HDESK>(desktop)))
        GetDesktopWindow();
    return 0;
}

std::string jsonNumber(unsigned long value)
{
    return std::to_string(value);
}

// The run: the job, its processes and the robot that watches them.
class Run {
public:
    Run(const Options& options, RunLog& log, Robot* robot)
        : options_(options), log_(log), robot_(robot) {}
    ~Run();
    // False, with a message, when the program could not be started.
    bool start();
    // The program's exit code, or the deadline's.
    int wait();

private:
    void handleMessage(DWORD message, DWORD pid);
    void recordExit(DWORD pid, RunProcess& process);
    void recordUnreportedExits();
    bool drainUntilEmpty(DWORD waitMs);

    const Options& options_;
    RunLog& log_;
    Robot* robot_;
    HANDLE job_ = nullptr;
    HANDLE port_ = nullptr;
    HDESK desktop_ = nullptr;
    PROCESS_INFORMATION program_ = {};
    RunProcesses processes_;
    bool empty_ = false;
};

Run::~Run()
{
    for (auto& entry : processes_)
        if (entry.second.handle)
            CloseHandle(entry.second.handle);
    if (program_.hThread)
        CloseHandle(program_.hThread);
    if (program_.hProcess)
        CloseHandle(program_.hProcess);
    if (job_)
        CloseHandle(job_);
    if (port_)
        CloseHandle(port_);
    if (desktop_)
        CloseDesktop(desktop_);
}

bool Run::start()
{
    // Wine starts its desktop process from the first process that asks for
    // the desktop; started from inside the job, it would keep the job alive
    // for as long as any program uses the desktop.
    GetDesktopWindow();

    job_ = CreateJobObjectW(nullptr, nullptr);
    port_ = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    if (!job_ || !port_)
        return failed(L"cannot make a job object: " + win32Message(GetLastError()));
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {};
    association.CompletionKey = job_;
    association.CompletionPort = port_;
    if (!SetInformationJobObject(job_, JobObjectAssociateCompletionPortInformation, &association,
                                 sizeof association))
        return failed(L"cannot watch the job: " + win32Message(GetLastError()));
    // Should the launcher itself die, the run goes with it. Not essential.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits);

    for (const EnvChange& change : options_.environment)
        SetEnvironmentVariableW(change.name.c_str(), change.remove ? nullptr : change.value.c_str());

    std::vector<wchar_t> line(options_.commandLine.begin(), options_.commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    std::wstring desktopName;
    if (!options_.desktop.empty()) {
        // Held open for the run: a desktop ends with its last handle.
        desktop_ = CreateDesktopW(options_.desktop.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        if (!desktop_)
            return failed(L"cannot make the desktop " + options_.desktop + L": " +
                          win32Message(GetLastError()));
        // Its desktop process, too, is started from here, outside the job.
        HANDLE toucher = CreateThread(nullptr, 0, touchDesktop, desktop_, 0, nullptr);
        if (toucher) {
            WaitForSingleObject(toucher, INFINITE);
            CloseHandle(toucher);
        }
        desktopName = L"WinSta0\\" + options_.desktop;
        startup.lpDesktop = &desktopName[0];
    }
    // Suspended until it is in the job, so that nothing it starts escapes.
    if (!CreateProcessW(options_.application.empty() ? nullptr : options_.application.c_str(),
                        line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        options_.folder.empty() ? nullptr : options_.folder.c_str(), &startup,
                        &program_))
        return failed(L"cannot start the program: " + win32Message(GetLastError()));
    if (!AssignProcessToJobObject(job_, program_.hProcess)) {
        DWORD error = GetLastError();
        TerminateProcess(program_.hProcess, kExitFailure);
        return failed(L"cannot put the program into the job: " + win32Message(error));
    }
    ResumeThread(program_.hThread);
    return true;
}

void Run::handleMessage(DWORD message, DWORD pid)
{
    switch (message) {
    case JOB_OBJECT_MSG_NEW_PROCESS: {
        RunProcess& process = processes_[pid];
        if (!process.handle)
            process.handle = OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, pid);
        break;
    }
    case JOB_OBJECT_MSG_EXIT_PROCESS:
    case JOB_OBJECT_MSG_ABNORMAL_EXIT_PROCESS: {
        auto found = processes_.find(pid);
        if (found != processes_.end()) {
            recordExit(pid, found->second);
            processes_.erase(found);
        }
        break;
    }
    case JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO:
        empty_ = true;
        break;
    default:
        break;
    }
}

void Run::recordExit(DWORD pid, RunProcess& process)
{
    std::string code = "null";
    DWORD exitCode = 0;
    if (process.handle && GetExitCodeProcess(process.handle, &exitCode) && exitCode != STILL_ACTIVE)
        code = jsonNumber(exitCode);
    log_.write("\"event\":\"exit\",\"pid\":" + jsonNumber(pid) +
               ",\"image\":" + jsonString(processImage(process)) + ",\"code\":" + code);
    if (process.handle)
        CloseHandle(process.handle);
    process.handle = nullptr;
}

// Wine sends no exit messages for the processes that TerminateJobObject
// ends, only the final one.
void Run::recordUnreportedExits()
{
    for (auto& entry : processes_) {
        if (entry.second.handle)
            WaitForSingleObject(entry.second.handle, kEndingMs);
        recordExit(entry.first, entry.second);
    }
    processes_.clear();
}

// Handles job messages until the job is empty or waitMs have passed.
bool Run::drainUntilEmpty(DWORD waitMs)
{
    DWORD begin = GetTickCount();
    while (!empty_) {
        DWORD spent = GetTickCount() - begin;
        if (spent >= waitMs)
            return false;
        DWORD message = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED data = nullptr;
        if (GetQueuedCompletionStatus(port_, &message, &key, &data, waitMs - spent))
            handleMessage(message, (DWORD)(ULONG_PTR)data);
    }
    return true;
}

int Run::wait()
{
    DWORD begin = GetTickCount();
    DWORD deadline = options_.timeoutSeconds * 1000;
    DWORD lastTick = begin - kRobotTickMs;
    while (!empty_) {
        DWORD now = GetTickCount();
        if (now - begin >= deadline)
            break;
        if (robot_ && now - lastTick >= kRobotTickMs) {
            robot_->tick(processes_);
            lastTick = now;
        }
        DWORD waitMs = deadline - (now - begin);
        if (robot_ && waitMs > kRobotTickMs)
            waitMs = kRobotTickMs;
        DWORD message = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED data = nullptr;
        if (GetQueuedCompletionStatus(port_, &message, &key, &data, waitMs))
            handleMessage(message, (DWORD)(ULONG_PTR)data);
    }

    if (!empty_) {
        TerminateJobObject(job_, kExitDeadline);
        bool ended = drainUntilEmpty(kEndingMs);
        recordUnreportedExits();
        if (robot_)
            robot_->finish();
        log_.write("\"event\":\"deadline\",\"seconds\":" + jsonNumber(options_.timeoutSeconds));
        reportLine(L"qllaunch: the run passed its deadline of " +
                   std::to_wstring(options_.timeoutSeconds) + L" s and was ended");
        if (!ended)
            reportLine(L"qllaunch: some processes of the run did not end");
        return kExitDeadline;
    }

    recordUnreportedExits();
    if (robot_)
        robot_->finish();
    DWORD exitCode = 0;
    GetExitCodeProcess(program_.hProcess, &exitCode);
    log_.write("\"event\":\"end\",\"code\":" + jsonNumber(exitCode));
    return (int)exitCode;
}

int launch(const Options& options)
{
    RunLog log;
    if (!options.logPath.empty() && !log.open(options.logPath))
        return fail(L"cannot write " + options.logPath + L": " + win32Message(GetLastError()));

    std::unique_ptr<Robot> robot;
    if (!options.scriptPath.empty() || log.isOpen()) {
        RobotScript script;
        // Without a script the robot only records.
        script.unmatched = RobotAnswer::Leave;
        if (!options.scriptPath.empty()) {
            std::string bytes;
            std::wstring error;
            if (!readFileBytes(options.scriptPath, bytes))
                return fail(L"cannot read " + options.scriptPath + L": " +
                            win32Message(GetLastError()));
            if (!parseRobotScript(bytes, script, error))
                return fail(options.scriptPath + L", " + error);
        }
        robot.reset(new Robot(script, log));
    }

    Run run(options, log, robot.get());
    return run.start() ? run.wait() : kExitFailure;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 2 && (std::wstring(argv[1]) == L"-help" || std::wstring(argv[1]) == L"/?")) {
        reportLine(kUsage);
        return 0;
    }
    Options options;
    std::wstring error;
    if (!parseOptions(argc, argv, options, error)) {
        reportLine(L"qllaunch: " + error + L" (qllaunch -help tells more)");
        return kExitFailure;
    }
    return launch(options);
}
