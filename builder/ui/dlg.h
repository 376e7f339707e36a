// Dialog services of the builder: the common first handler of every dialog
// procedure, modal dialogs, centring, message boxes with a Help button, the
// main window and the busy state.
//
// A builder dialog procedure starts with
//     if (dialog_common_handler(dialog, message, wparam, lparam, IDH_...))
//         return TRUE;
// and its Help button is control 9. Help ids are the IDH_ names of
// help/helpids.h; kQlDlgNoHelp (0xFFFF) leaves Help and F1 to the dialog.
#pragma once

#include <windows.h>

#include "common/Dlg.h"
#include "common/QlString.h"

// Installs the dialog library's host (this common handler and the busy
// bracket of modal dialogs) and the help hook of message boxes. Start-up.
void dialog_services_start();

// --- dialogs
// A modal dialog from the builder's resources; lifts the busy state while it
// runs. -1 only after the internal-error report.
INT_PTR run_modal_dialog(HINSTANCE module, int template_id, HWND owner, DLGPROC procedure,
                         LPARAM init);
// Help button (9) and WM_HELP open the help id's topic; centres a message box
// over its owner when it activates. True when handled.
bool dialog_common_handler(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam, int help_id);
// Centres a window over its owner (the main window or its last active
// popup): size null for its own size; position (may be null) gets where it
// went; with move the window moves.
void center_window(HWND window, const SIZE* size, POINT* position, bool move);

// --- message boxes
// A box with a Help button for help ids other than 0 and 1, centred over its
// owner (null: the main window's last active popup); text_id is the string
// the text came from, for the test record. Returns the button.
int message_box_with_help(int help_id, HWND owner, const QlStr& text, const QlStr& caption,
                          UINT flags, int text_id = 0);
// An error box (caption string 311); a full stop is added unless the text
// ends in '.' or '?'.
int error_box_with_help(int help_id, HWND owner, const QlStr& text, int text_id = 0);
// The box as the user sees it (the message sink's road when nothing records).
int show_message_box_now(int help_id, HWND owner, const QlStr& text, const QlStr& caption,
                         UINT flags);

// --- the main window (the wizard frame while it runs)
void set_main_window(HWND window);
HWND main_window();
// SetWindowPos(HWND_NOTOPMOST) of the main window, once.
void drop_main_window_topmost();
// VK_RBUTTON when the mouse buttons are swapped, else VK_LBUTTON.
int primary_mouse_button();

// --- the busy state
// The main window carries the instance marker, the property named by string
// 1001: 1 busy, 2 idle (a second builder hands its command line only to an
// idle one). begin_busy counts up, marks the window busy and shows the wait
// cursor; end_busy counts down and, at 0, marks it idle and shows the arrow.
// end_busy at 0 only marks the window idle (the frame's way to say so once
// it is up).
void begin_busy();
void end_busy();
// The busy flag: also set and cleared by set_busy (services.h).
bool is_busy();
void set_busy_flag(bool on);
// The instance marker's property name (string 1001).
QlStr instance_marker_name();
