// The stub's command-line scans, as pure functions over library strings so
// that a table of lines can test them: the relaunch markers, the start-up
// switches "-info" and "-args=", and AUTO, WAIT and NOAUTO.
#pragma once

#include "common/QlString.h"

// The first instance starts its copy with its own arguments followed by
//   ' run=1 shortcut="<first instance's path>"'
// The copy finds that suffix at the very end of its line rather than by
// splitting the user's text into arguments: an odd quote in the user's text
// (or the common "C:\Out Dir\") would otherwise swallow run=1.
struct SfxRelaunchMarkers {
    bool found;       // this process is the relaunched copy
    QlStr user_line;  // the line without the markers, blanks trimmed at both ends
    QlStr shortcut;   // the first instance's path; empty when only run=1 was given
};

// Text of a command line behind its first argument (the program), as it stands.
QlStr sfx_line_behind_program(const QlStr& line);
// line: the text behind the program. Besides the suffix, a whole argument
// "run=1" (any case) typed by the user also marks a copy, as it always has;
// it is then removed from the user's text.
SfxRelaunchMarkers sfx_find_relaunch_markers(const QlStr& line);

// "-info" and "-args=", scanned word by word from the start of the user's text.
enum class SfxStartupSwitch {
    Go,       // none, or valid "-args=" values (the last one is in extra_args)
    Info,     // "-info": show the option string
    Invalid,  // a bad "-args=": bad_text holds the text from the switch on
};
SfxStartupSwitch sfx_scan_startup_switches(const QlStr& line, QlChar* extra_args,
                                           int extra_units, QlStr* bad_text);

struct SfxSwitchWords {
    QlStr auto_word;    // id 1013
    QlStr wait_word;    // id 1009
    QlStr noauto_word;  // id 1007
};

struct SfxSwitchState {
    bool auto_start;
    bool wait_for_done;
    QlStr folder;  // standard mode: the "Unzip To" folder given with AUTO
};

void sfx_parse_install_switches(const QlStr& line, const SfxSwitchWords& words,
                                SfxSwitchState* state);
void sfx_parse_standard_switches(const QlStr& line, const SfxSwitchWords& words,
                                 int folder_max_units, SfxSwitchState* state);
