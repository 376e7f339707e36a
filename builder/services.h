// The builder's small services: the About box, the single-instance hand-over,
// the question after a build, the interface language, folders, the busy
// cursor, the confirmation dialog and a few accessors.
#pragma once

#include <windows.h>

#include "common/QlString.h"

// Posted to the first builder with a global atom holding the second one's
// command line (wParam 1).
const UINT kMsgHandOver = 0x7E8;
const int kConfirmDialog = 26000;
const int kConfirmIcon = 26001;
const int kConfirmText = 26002;
const int kConfirmOther = 26003;

// Drains the thread's message queue (translate and dispatch), so that windows
// stay live during long work.
void process_pending_messages();

// --- single instance
// The first top-level window of another process with the instance marker.
HWND find_other_instance();
// False when there is no other builder. Otherwise it is brought to the front
// and, when idle (marker 2, no dialog open), handed the command line; when
// busy, message 4070 is shown over its dialog. True ends this builder.
bool activate_other_instance(const QlStr& command_line);
bool raise_other_instance();

// --- after a build
// "Test it now?" (4650); false without asking in a build from the command line.
bool ask_test_after_build();

// --- About and language
void show_about_box(HWND owner);
// 1 "EN", 2 "FR", 3 "DE", 4 "ES", 5 "JP" against string 1000.
bool is_ui_language(int code);
QlStr get_builder_version();
// The common-controls version, major * 100 + minor; 0 when unknown.
int read_common_controls_version();

// --- folders
bool get_current_folder(QlStr& path);
bool set_current_folder(const QlStr& path);
bool set_current_folder_failed(const QlStr& path);
// Leaves the folder first when it is the current one; RemoveDirectory's
// result, -1 when it could not be left.
int remove_folder(const QlStr& path);
// Empties a folder (not a root) recursively; false, with message 361 in the
// message buffer, at the first file that cannot be deleted.
bool delete_folder_contents(const QlStr& path);
void make_full_path(QlStr& path);
// The text a failed folder service leaves for its caller to show.
QlStr& builder_message_buffer();
int delete_named_file(const QlStr& path);
inline bool is_ok_or_truncated(int rc) { return rc == 0 || rc == 80; }

// --- busy cursor
// Stores the busy state; with a window, its children are subclassed (on) so
// that they show the wait cursor, or restored (off).
void set_busy(bool on, HWND window);
// The WM_SETCURSOR answer while busy or not: sets the cursor, returns 1.
int update_cursor();
bool suppress_auto_caution();

// --- confirmation
// Dialog 26000: the text of text_id beside the error icon; 1 for OK, 26003
// for the other button (also Esc). Both ids must be non-zero.
int confirm_dialog(HWND owner, int text_id, int help_id);
