// The check of an entry name of a Zip archive before anything is written for
// it: the stub refuses such entries, and the builder's scan refuses archives
// that hold them, by the same rules.
//
// An entry name must stay below the folder it is extracted to, name nothing
// that Windows treats specially, and fit a Windows path. Either separator
// counts; a name that ends in one is a folder entry.
// Pure code: no Windows headers.
#pragma once

#include "common/QlString.h"
#include "common/QlTypes.h"

enum QlZipNameFault {
    kQlZipNameOk = 0,
    kQlZipNameEmpty,       // no name, or only a separator
    kQlZipNameParent,      // an element ".." (or dots and blanks that Windows trims to it)
    kQlZipNameDots,        // an element "." or of dots and blanks only
    kQlZipNameAbsolute,    // begins with a separator (root or UNC)
    kQlZipNameDrive,       // begins with a drive letter and a colon
    kQlZipNameStream,      // any other ':' (an alternate data stream)
    kQlZipNameDevice,      // an element that Windows opens as a device ("con.tar.gz")
    kQlZipNameReserved,    // < > " | ? * or a control character
    kQlZipNameTooLong,     // an element over 255 units, or the name over 259
};

// The longest element and the longest name that Windows paths take.
const int kQlZipNameMaxElement = 255;
const int kQlZipNameMaxLength = 259;

// The first fault of the name's `length` units, or kQlZipNameOk.
QlZipNameFault qlZipNameCheck(const QlChar* name, int length);

// The element is a reserved device name: the part before its first dot,
// blanks at its end dropped, is "aux", "con", "prn", "nul", "conin$",
// "conout$", or "com"/"lpt" and a digit 1-9 (or a superscript 1-3).
bool qlZipNameIsDevice(const QlChar* element, int length);

// The name of an entry as the stub takes it from its stored bytes, for the
// stub and for every check that must judge the name the stub will write:
// with general-purpose bit 11 the bytes are UTF-8; otherwise a copy of them
// is first put through `oem_name_to_ansi` and then read in the ANSI code
// page. The stored bytes stay as they are: a Unicode path field belongs to
// them by its CRC. An empty name, or one that does not convert, is empty.
QlStr qlZipNameDecode(const char* stored, int length, bool utf8);

// Names written by DOS tools are in the OEM code page: the stored bytes are
// converted to the ANSI code page in place when the name only becomes plain
// that way (every character below 128, alphanumeric or the euro sign) and
// nothing but letters and digits changes on the way.
void oem_name_to_ansi(char* name, int length);
