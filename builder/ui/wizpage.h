// What the wizard's page procedures share: reading and writing their
// controls, and the checks of a text before it is stored.
#pragma once

#include <windows.h>

#include "builder/ui/wiz.h"
#include "common/QlString.h"

// The page procedures (frame signature).
INT_PTR wiz_welcome_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR wiz_panel1_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR wiz_spann_check_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR wiz_spann_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR wiz_getfile_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR wiz_getdiz_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR wiz_getdir_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR wiz_command_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR wiz_promisc_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR wiz_procmd_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR wiz_profiles_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR wiz_getabout_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR wiz_getico_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR wiz_misc_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR wiz_generic_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR wiz_generic_setup_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR wiz_build_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR wiz_test_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR wiz_done_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam);

// The common first handler with the page's help id.
bool page_common_handler(HWND frame, UINT message, WPARAM wparam, LPARAM lparam, WizPage page);
// A button notification of a click (or double click).
bool is_click(WPARAM wparam);
// The mode, spanning and family that decide the way through the pages.
WizRoute wizard_route();

// Controls of the frame's current page.
QlStr page_text(HWND frame, int id);
void set_page_text(HWND frame, int id, const QlStr& text);
bool is_checked(HWND frame, int id);
void set_checked(HWND frame, int id, bool on);
void focus_control(HWND frame, int id);
void limit_edit(HWND frame, int id, int limit);
void enable_control(HWND frame, int id, bool on);

// The text of an edit, cut to the limit, trailing blanks removed.
void read_edit_field(HWND frame, int control, QlStr& out, int limit);
// Stores the text when it fits (6180 when longer) and, when required, is
// not empty (6190); false keeps the page.
bool store_edit_if_fits(HWND frame, int control, int limit, QlStr& out, bool required);
// A named text file must be readable within the limit; without a name it
// must be named only when required (4620 with the label).
bool check_named_file(HWND frame, int control, int limit, bool required, int label_id, const QlStr& file);
// Run as user or administrator, on the NT family only.
void show_run_as(HWND frame);
