// The substitute font of the dialogs: on Windows 6.0 and later the system's
// message font (face and point size), on the Japanese code page a face and
// size from the string table (ids 71016 and 71017, which the system's string
// tables leave undefined). Win32 only.
#pragma once

#include <windows.h>

// The Windows versions the rule depends on; computed once, all false before.
struct QlDlgOsFlags {
    bool nt5_or_later;   // NT family, major >= 5
    bool nt51_or_later;  // 5.1 and later
    bool nt6_or_later;   // major >= 6
};
// The flags as computed so far.
const QlDlgOsFlags& qlDlgFontReadOsVersion();
// Computes the flags on its first call only.
void qlDlgFontInitOsVersion();

// True when a substitute font applies to the module's dialogs.
bool qlDlgNeedsFontSubstitution(HINSTANCE module);
// The substitute face (units: the buffer's size, at least 32) and point
// size; true when both are known.
bool qlDlgFontGetSubstitute(HINSTANCE module, wchar_t* face, int units, int* points);
// The system's message font and its size in points.
void qlDlgFontGetMessageFont(LOGFONTW* font, int* points);
// The screen's vertical pixels per inch (96 when unknown), for point sizes.
int qlDlgScreenPixelsPerInch();
