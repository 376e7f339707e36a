// The helper library's two callback tables (registered before each call:
// zip_init before zipsplit, unzip_init before unzip), the progress display
// they drive and the cancel request they answer.
//
// The progress window is the window that shows a build's progress (the
// wizard's build page, the spanning progress dialog): control 4001 its
// status line, 4002 a "Meter" control when it has one, 4003 the place of a
// Meter child made by create_meter_window. A meter appears only when the
// operation turns out slow (builder/progress.h).
#pragma once

#include <cstdint>

#include <windows.h>

const int kProgressStatusLine = 4001;
const int kProgressMeterControl = 4002;
const int kProgressMeterPlace = 4003;

// The build's progress window, null for none (a build from the command line).
void set_progress_window(HWND window);
HWND progress_window();

// Registers the tables; init_zip_callbacks also clears the progress clock.
void init_zip_callbacks();
void init_unzip_callbacks();

// Cancel: the wizard's Stop, Cancel or Close while a build runs, the
// spanning dialogs' Cancel. The helper library's next cancel poll answers
// it, and the build ends as failed. Cleared at the start of each build.
void request_cancel();
bool cancel_requested();
void clear_cancel_request();

// A Meter child over the whole client area of frame (control 4003 of the
// build page), kept as the meter window; destroy_meter_window hides control
// 4003 of page and destroys the meter.
void create_meter_window(HWND page, HWND frame);
void destroy_meter_window(HWND page);
HWND meter_window();

// Set by the disk prompts: the build's disk-1 label loop runs only after one.
extern bool g_diskPromptSeen;
// Bits the archive test adds to the scan's feature mask (a name that needs a
// Unicode-capable stub).
extern uint16_t g_nameFeatures;
