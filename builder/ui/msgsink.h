// The one road by which the builder shows a message box.
//
// Every box names the string-table id its text came from. Normally the box is
// shown with MessageBoxW. For tests the sink records instead of showing:
//   QL_MESSAGE_LOG=<file>     every box appends one line to the file (UTF-8):
//                             "<id>\t<answer>\t<text>", with CR, LF and TAB
//                             in the text written as \r, \n and \t; no box
//                             is shown.
//   QL_MESSAGE_ANSWERS=<list> the answers of recorded boxes, "id=answer"
//                             pairs separated by commas (answer: ok, cancel,
//                             yes, no, abort, retry, ignore); a box without
//                             one gets its default button.
// A test program may record in memory instead (msgsink_record_in_memory).
#pragma once

#include <string>
#include <vector>

#include <windows.h>

#include "common/QlString.h"

// The caption of every builder box.
const int kMsgCaption = 1001;

struct SinkRecord {
    int id;
    std::wstring text;
    int answer;  // IDOK, IDYES, ...
};

// Shows (or records) one box and answers the button pressed. A null owner
// means the builder's main window's last active popup. A help id other than
// 0 and 1 gives the box a Help button that opens the id's topic.
int sink_message_box(int id, HWND owner, const QlStr& text, const QlStr& caption, UINT flags,
                     int help_id = 0);

// The text of a string-table id, a "!" text continued with the next id.
QlStr load_message(int id);
// The text of id formatted with the arguments (msvcrt wide printf).
QlStr format_message(int id, ...);

// Boxes with the caption of string 1001.
int message_box_id(int id, const QlStr& text, UINT flags, HWND owner = nullptr);
// An error box of the string-table text of id.
void show_error_id(int id);
// An error box of the text of id formatted with the arguments.
void show_error_format(int id, ...);

// The builder's main window (the wizard frame while it runs), owner of
// boxes: the one kept by the common library (set_main_window, ui/dlg.h).
HWND sink_main_window();

// --- tests
// Appends a line and its LF to a file as UTF-8 (the records of the tests).
void append_utf8_line(const std::wstring& path, const std::wstring& line);
void msgsink_record_in_memory(bool on);
// Answers for the in-memory record: box id -> button.
void msgsink_set_answer(int id, int answer);
std::vector<SinkRecord> msgsink_take_records();
