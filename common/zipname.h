// The check of an entry name of a Zip archive before anything is written for
// it: the stub refuses such entries, and the builder's scan refuses archives
// that hold them, by the same rules.
//
// An entry name must stay below the folder it is extracted to, name nothing
// that Windows treats specially, and fit a Windows path. Either separator
// counts; a name that ends in one is a folder entry.
// Pure code: no Windows headers.
#pragma once

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
