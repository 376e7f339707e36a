// The spanning dialogs of the builder: the choice of the removable drive,
// the modeless "Creating Spanning Zip file" progress dialog, the disk
// request with its erase box, and the disk-1 check by volume label.
#pragma once

#include <windows.h>

#include <string>

#include "common/QlString.h"

// Dialog 300: 1 with the option record's spanning drive set; 0 when
// cancelled or when the machine has no removable drive (message 6080). With
// exactly one removable drive that drive is taken without a question.
int choose_span_drive();

// Adds the removable drives ("A:") to the combo box and, when the option
// record names no spanning drive yet, takes the first of them; answers how
// many there are. Dialog 300 and the wizard's drive page list them alike.
int list_removable_drives(HWND combo);

// Dialog 4000, modeless over the main window (disabled meanwhile), made the
// progress window. False when it cannot be made.
bool show_span_progress();
// Destroys it (when its Cancel has not already), forgets it, enables the
// main window again.
void close_span_progress();

// Dialog 5000 with `text`, owned by the progress window, else the main
// window: 1 OK, 0 Cancel (which also asks the build to stop). The erase box
// shows the -wipedisk option and OK stores it back.
int run_disk_dialog(const QlStr& text);

// The disk number in the volume label of a drive root ("A:\"), -1 when the
// label names no disk of a spanned set.
int read_span_disk_number(const wchar_t* drive_root);

// The drive root of the spanning drive ("A:\"), and `path` moved to it: the
// root, the path's base name and `extension` (with its dot).
std::wstring span_drive_root();
std::wstring place_on_span_drive(const std::wstring& path, const wchar_t* extension);
