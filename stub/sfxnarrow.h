// The narrow-character build of the stub (inst-aes-en, which also runs on the
// 9x family): what it has of its own beside the wide build. Its main module
// is sfxhead.cpp; its Windows calls are the "A" forms (sfxansi.cpp).
#pragma once

#include <cstddef>

// Message texts, each in the next of five buffers used in rotation, so that
// up to five texts loaded one after the other can be used at once (a sixth
// load reuses the oldest buffer). A text that begins with "!" goes on with
// the next id's text. A missing or too long text is said in a plain error
// box; the buffer holds what was loaded so far.
const char* load_string_narrow(int id);

// The narrow build's CommandLineToArgvW: blanks, tabs, CR and LF separate
// arguments outside quotes; a double quote opens or closes a quoted stretch
// (also inside an argument) and is dropped; no escapes. One global block
// holds the pointer array (ended by a null pointer) and the characters, and
// is replaced by the next call. Null when the block cannot be had.
char** split_command_line_narrow(const char* line, int* count);

// Schedules a file for deletion at the next restart: MoveFileExA where the
// system has it, else a "NUL=<path>" line in the [Rename] section of the
// Windows folder's wininit.ini (the 9x family).
void delete_at_restart_narrow(const char* path);

// The 9x family's delete at restart: a "NUL=<path>" line in the [Rename]
// section of wininit.ini in the Windows folder, made when missing (sfxtemp.cpp;
// the wide build takes it on that family too).
void schedule_in_wininit(const char* path);

// Puts `line` behind "[Rename]\r\n" in the text (size bytes in a buffer of
// capacity bytes), or appends the section and the line at its end; the new
// size, or 0 when the buffer is too small.
size_t add_rename_line(char* text, size_t size, size_t capacity, const char* line);
