// The stub binds SHELL32, USER32, COMCTL32 and SHLWAPI at their first use,
// not at load time: the start-up guard (the lpk.dll pre-load and the ".local"
// check) must run before any of them is loaded.
//
// The code calls these functions as always; sfxbind.cpp supplies the import
// slots the compiler calls through, one table per DLL. Each slot first points
// to a small thunk that loads the DLL, looks the function up, stores its
// address in the slot and goes on into it, so that every later call goes
// straight there. A DLL or function that cannot be bound is an internal error
// of "sfxbind.c": line 10 + the DLL's number when the DLL does not load, 20 +
// its number when a function is missing.
#pragma once

enum SfxBindDll {
    kSfxBindUser32 = 1,
    kSfxBindShell32 = 2,
    kSfxBindComctl32 = 3,
    kSfxBindShlwapi = 4,
};

enum SfxBindLine {
    kSfxBindLineLoad = 10,     // + the DLL's number
    kSfxBindLineLookup = 20,   // + the DLL's number
};

// True when the DLL is loaded or loads now; the crash report asks before it
// uses the shell, so that a missing SHELL32 does not end the report itself.
bool sfx_bind_available(SfxBindDll dll);
