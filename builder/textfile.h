// The builder's text files: dialog text, about text, greeting, response files
// and comments, read by their byte-order mark, and written back.
#pragma once

#include <cstdint>

#include <windows.h>

#include "common/QlString.h"

// Results of the readers.
enum TextFileResult {
    kTextRead = 0,
    kTextBufferTooSmall = 1,
    kTextShortRead = 2,
    kTextMissing = 3,
    kTextOverLimit = 4,
    kTextUnsupportedMark = 5,
};

// Reads a whole text file into buffer (UTF-16, not terminated). size: in the
// buffer's size in bytes, out the bytes stored. limit: the most characters
// taken. With neither buffer nor size the call only checks the file.
int read_text_file(const QlStr& path, QlChar* buffer, int* size, int limit);
// The same for a text file read into a string.
int read_text_file(const QlStr& path, int limit, QlStr& text);
// Raw bytes; count: in the buffer's size, out the bytes read.
int read_binary_file(const QlStr& path, uint8_t* buffer, int* count, int limit);
// Shows the message of a reader's result; returns 0.
int report_text_file_error(const QlStr& path, int code, int limit);

// The dialog-text and about-text files of the option record (256 characters).
int load_setup_dialog_text();
int load_about_text();
// The greeting: from the greeting file, or "quollase.diz" beside the Zip.
bool load_message_text(const QlStr& zip_path, bool in_wizard);

// Writes ANSI when the text survives the ANSI code page, else UTF-16LE with
// its mark. False (message 1070) when the file cannot be made.
bool write_text_file(const QlStr& path, const QlStr& text);
bool save_message_text();
bool save_about_text();
bool save_setup_dialog_text();

// Size of a file opened read-only, -1 when it cannot be opened.
int64_t file_size(const QlStr& path);
bool qlFileExists(const QlStr& path);

// The folder of a path with its trailing separator (empty without one), and
// the name behind it.
QlStr folder_of(const QlStr& path);
QlStr name_of(const QlStr& path);

// Error boxes with the builder's caption.
void show_error(const QlStr& text);
void show_error_narrow(const char* text);
