// QlByteOrderMark: which Unicode encoding a text file's byte-order mark
// announces, so that the text reader knows how to convert the file.
//
// Classify is pure code; ReadFileHead reads the file (QlBOMWin.cpp).
#pragma once

#include <cstdint>

#include "common/QlString.h"

class QlByteOrderMark {
public:
    enum Code {
        kUndetermined = -1,  // unreadable, or a head that starts like a mark but is none
        kNoMark = 0,
        kUtf8 = 1,     // EF BB BF
        kUtf16Le = 2,  // FF FE
        kUtf16Be = 3,  // FE FF
        kUtf32Le = 4,  // FF FE 00 00
        kUtf32Be = 5,  // 00 00 FE FF
    };

    QlByteOrderMark() : m_code(kUndetermined) {}
#ifdef _WIN32
    explicit QlByteOrderMark(const QlStr& fileName) : m_code(kUndetermined)
    {
        ReadFileHead(fileName);
    }
    // Reads up to 4 bytes from the start of an existing file and classifies
    // them; false (code -1) when the file cannot be opened or read.
    bool ReadFileHead(const QlStr& fileName);
#endif

    // Classifies the first `count` bytes of a file; false (code -1) for a
    // head that begins like a mark without being one.
    bool Classify(const uint8_t* bytes, int count);
    int GetCode() const { return m_code; }
    // Bytes of the mark: 0 without one, -1 when undetermined.
    int Length() const;

private:
    int m_code;
};
