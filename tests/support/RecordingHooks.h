// Test programs supply the library's error hooks: they record every report so
// that a test can check which source and line reported what.
#pragma once

#include <string>
#include <vector>

struct QlHookReport {
    enum Kind { Assert, Win32Error } kind;
    std::string source;
    int line;
};

// Every report since the last call, oldest first; the record is emptied.
std::vector<QlHookReport> qlTakeHookReports();
