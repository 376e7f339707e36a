// The builder's command line: switches and '@' response files filling the
// option record.
#pragma once

#include "common/QlString.h"

// What the main flow does after the parse.
enum SwitchResult {
    kSwitchesNone = 0,    // empty line, or the parse raised an exception
    kSwitchesWizard = 1,  // arguments read, none asks for a build
    kSwitchesBuild = 2,   // build without the wizard
    kSwitchesStop = 3,    // an error was shown, or an informational switch did its work
};

// Response files read in one parse; one more is refused, so that a file that
// names itself (or a cycle of them) ends.
const int kMaxResponseFiles = 16;
// Characters of one response file.
const int kResponseFileLimit = 8192;

int parse_builder_switches_guarded(const QlStr& command_line);
int parse_builder_switches(const QlStr& command_line);
// True when the last parse stopped on an error (rather than an informational
// switch that did its work).
bool switches_refused();
int show_usage();
// True when every component of the path is a valid 8.3 DOS name.
bool is_dos_name(const QlStr& path);
// True when the token is a valid path of a file; full is its full path.
bool full_file_path(const QlStr& token, QlStr& full);
