// The wizard frame: one modal dialog with a row of buttons, a heading line,
// a side picture and a page area. A page is a dialog template whose controls
// the frame creates inside itself, and a page procedure that the frame calls
// for every message it does not consume.
#pragma once

#include <windows.h>

#include "builder/ui/wizrules.h"
#include "common/QlString.h"

// A page procedure: the frame's window and message; non-zero when handled.
// For Finish (8110) it answers 0 to let the frame build now.
typedef INT_PTR (*WizardPage)(HWND frame, UINT message, WPARAM wparam, LPARAM lparam);

// Private messages of the frame.
const UINT kWizRepaintBitmap = 1481;
const UINT kWizShowFirstPage = 1480;
const UINT kWizOpenZipFile = 0x7E8;  // from the main archiver or a second builder
const UINT kWizStartTestRun = 2025;  // WIZ_DONE to itself

// The wizard from its first page; the frame dialog's result (the command that
// closed it), 0 when the wizard cannot run.
int start_wizard();
// The main body's wizard: 1 when it built a file, 0 when it was left without
// one.
int run_wizard();
int run_wizard_frame();
INT_PTR CALLBACK wizard_frame_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam);
// Switches to a page; true also when its template could not be built (a box
// said so, and the page before stays current).
bool show_wizard_page(const QlStr& template_name, WizardPage page);
bool show_wizard_page(WizPage page);
// The controls of a page template, created in the frame at the template's
// coordinates; an item with the page area's id is not created.
bool create_page_controls(HWND frame, int page_area_id, HINSTANCE module, const QlStr& template_name);
// The heading line in the bold heading font or the frame's own.
void set_page_heading(const QlStr& text, bool bold);
// The new-shell, Win32s, NT 3.51 and NT flags from GetVersion.
void get_windows_version_flags();
bool is_new_shell();

// The procedure of a page.
WizardPage wiz_page_procedure(WizPage page, bool installation);

// For the pages.
HWND wizard_frame();
void enable_wizard_button(int id, bool on);
// The heading of a page and Finish as the page rules say.
void begin_wizard_page(WizPage page);
// The frame's Finish button carries this label (string id).
void set_finish_label(int text_id);
// Next as the default button (or Finish, for WIZ_DONE's "No").
void set_default_button(int id);
// Set once a build of this wizard run has made its file.
void note_wizard_build(bool made);
bool wizard_mode();
