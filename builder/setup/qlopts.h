// The main archiver's location and settings. The archiver has kept its
// settings in four places over its history; the generation installed here is
// decided once per process and every read and write of an archiver setting
// goes to its store. Failures are silent: nothing found reads as an empty
// text, a write with no store does nothing.
#pragma once

#include "common/QlString.h"

enum ArchiverGeneration {
    kArchiverNone = 1,      // no store
    kArchiver16Bit = 2,     // "quolla.ini" in the Windows folder
    kArchiver32Ini = 3,     // "quolla32.ini" in the Windows folder
    kArchiverRegistry = 4,  // HKCU "SOFTWARE\Ostrel Zivevevoz\Quolla", a subkey per section
};

// Section flag of the setting functions.
enum ArchiverStore {
    kArchiverWinIni = 0,  // a WIN.INI-style setting ("winini" in the registry generation)
    kArchiverOwn = 1,     // a setting of the archiver's own store
};

// 1 to 4, computed on the first call and kept: an archiver installed while
// the builder runs is not noticed.
int get_archiver_generation();
// The text is emptied when nothing is found, except in the registry
// generation, where a missing key or value leaves it as it was.
void read_archiver_setting(const QlStr& section, const QlStr& key, QlStr& out, int store);
// A null text removes the key from an ini file; the registry generation
// writes an empty value instead.
void write_archiver_setting(const QlStr& section, const QlStr& key, const QlStr& text, int store);
// The archiver's version text ("version" for the 16-bit archiver,
// "win32_version" otherwise); its length.
int get_archiver_version(QlStr& out);
// `programs` / `zip2exe`: the program the archiver runs for "Make .Exe File".
QlStr get_archiver_zip2exe();
void set_archiver_zip2exe(const QlStr& path);
bool have_32bit_archiver();
// The archiver's recorded version is 5.6 or later: one that knows the
// self-extractor of that version.
bool archiver_version_at_least_5_6();

// The archiver's shell-open command (HKCR "quolla\shell\open\command");
// false when none is registered.
bool read_archiver_shell_command(QlStr& command);
// The generation a shell-open command names: 3 for "quolla32.exe", 2 for
// "quolla.exe" (contained, without case, '\' equal to '/'), else 0.
int archiver_generation_of_command(const QlStr& command);
// "major.minor" at the start of a version text, as major * 100 + minor
// (minor taken as its first two digits: "5.6" is 506, "5.10" 510); -1 when
// the text does not begin with a number.
int archiver_version_number(const QlStr& text);
