// The wizard's side picture, drawn through its own palette, and the etched
// separator lines of the frame.
#pragma once

#include <windows.h>

// Loads the picture that fits the frame's bitmap control (and shrinks the
// control around it); true when a picture is there.
bool load_side_bitmap(HWND frame, int control_id);
bool side_bitmap_loaded();
// Selects and realises the picture's palette in the screen's context.
void realize_side_bitmap_palette(HWND frame);
// Paints the picture into the control.
void paint_side_bitmap(HWND control);
void release_side_bitmap();

// The etched-line painter: a shadow and a highlight line across the top of
// the control.
LRESULT CALLBACK etched_line_proc(HWND control, UINT message, WPARAM wparam, LPARAM lparam);
