// The robot: watches the top-level windows of a run's processes, records each
// appearance of one in the run log and answers it as its script says. The
// script's keywords and the log's records are listed in the launcher's usage
// text (qllaunch -help), which is what the tests' authors read.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "tools/wintools/WinText.h"

enum class RobotAnswer { Cancel, Close, Leave };

struct RobotStep {
    enum Kind { Set, Check, Uncheck, Press, PressText, Close, Leave, Key, MouseClick, Type, Await, AwaitText } kind;
    int id;
    std::wstring text;
};

struct RobotRule {
    int line = 0;                     // of its "window" keyword
    std::wstring className;           // empty: any class
    std::wstring caption;             // empty: any caption
    std::vector<std::wstring> texts;  // each in some control's text
    bool repeat = false;
    std::vector<RobotStep> steps;     // the last one is the answer
    int answered = 0;
};

struct RobotScript {
    std::vector<RobotRule> rules;
    RobotAnswer unmatched = RobotAnswer::Cancel;
    DWORD graceMs = 5000;
};

// On failure error names the line and the fault.
bool parseRobotScript(const std::string& utf8, RobotScript& script, std::wstring& error);

// A process of the run, as the launcher tracks it.
struct RunProcess {
    HANDLE handle = nullptr;  // null when it could not be opened
    std::wstring image;       // full path, once known
};
typedef std::map<DWORD, RunProcess> RunProcesses;

// The image path, looked up once the process has got far enough to have one.
const std::wstring& processImage(RunProcess& process);

class Robot {
public:
    Robot(const RobotScript& script, RunLog& log) : script_(script), log_(log) {}

    // Looks at the windows once; the launcher calls it about every 100 ms.
    void tick(RunProcesses& processes);
    // After the run: closes the records of every window and reports the rules
    // that answered nothing.
    void finish();

private:
    struct Control {
        int id;
        std::wstring className;
        std::wstring text;
    };
    struct Watched {
        int seq = 0;
        DWORD firstSeen = 0;
        bool recorded = false;
        DWORD recordedAt = 0;
        int rule = 0;             // 1-based; 0 when none matched
        size_t step = 0;          // next step of the rule
        bool waitReported = false;
        bool done = false;
        bool present = false;     // seen in the current tick
        std::vector<Control> controls;
    };

    void record(HWND window, Watched& watched, RunProcess& process, DWORD pid);
    int matchRule(HWND window, const Watched& watched);
    void answer(HWND window, Watched& watched, DWORD now);
    bool runStep(HWND window, Watched& watched, const RobotStep& step, int rule);
    void answerUnmatched(HWND window, Watched& watched);

    RobotScript script_;
    RunLog& log_;
    std::map<HWND, Watched> windows_;
    // The captions of every window recorded in the run, gone or not.
    std::vector<std::wstring> recordedCaptions_;
    int nextSeq_ = 1;
};
