// The narrow build's own path object and date-time record (fileid and
// datetime of that build): the wide build has the library's, which rest on
// the library string.
#pragma once

#include <windows.h>

#include <cstdint>

// A path kept as wide text: up to 12 characters in place, longer texts in an
// allocation of their own, at most 32766. Narrow text comes in from the ANSI
// or the OEM code page; the narrow view is made into one static buffer of
// 5001 bytes, which the next view replaces.
class SfxFileId {
public:
    SfxFileId() = default;
    explicit SfxFileId(const char* narrow, bool oem = false) { SetNarrow(narrow, oem); }
    SfxFileId(const SfxFileId& other) { SetWide(other.Wide(), other.Length()); }
    SfxFileId& operator=(const SfxFileId& other);
    ~SfxFileId();

    // False (and the text unchanged) when the text does not convert or does
    // not fit.
    bool SetNarrow(const char* narrow, bool oem = false);
    bool SetWide(const wchar_t* text, int length);
    bool AppendNarrow(const char* narrow, bool oem = false);
    bool AppendWide(const wchar_t* text, int length);
    // A backslash at the end unless there is one.
    bool AddTrailingSlash();

    int Length() const { return m_length; }
    const wchar_t* Wide() const { return m_heap ? m_heap : m_local; }
    // Outside the text: an internal error.
    wchar_t CharAt(int index) const;
    const char* Narrow() const;

    // The text up to and with the last backslash; empty without one.
    SfxFileId Folder() const;
    // The text behind the last backslash, slash or colon.
    const wchar_t* Name() const;
    int FindLast(wchar_t unit) const;
    bool IsDrive() const;  // a letter and a colon at the start
    bool IsUnc() const;    // two backslashes at the start
    bool IsDot() const;
    bool IsDotDot() const;
    bool EqualsNoCase(const SfxFileId& other) const;

private:
    static const int kInPlace = 12;
    static const int kMaxLength = 32766;
    bool Replace(const wchar_t* text, int length, bool keep_prefix);

    wchar_t m_local[kInPlace + 1] = {0};
    wchar_t* m_heap = nullptr;
    int m_length = 0;
};

// A name that may stand for one file in a folder: not empty, at most 256
// characters, none of "\/:", and not a reserved device name ("aux", "con",
// "prn", "nul", or "lpt" or "com" with a digit 1 to 9, before any extension).
bool sfx_valid_file_name_narrow(const char* name);
// A name without any of "\/:.".
bool sfx_plain_name_narrow(const char* name);
// The first entry of the pattern whose attributes match the first of the
// attribute sets that any entry matches, the sets tried in turn (at most six):
// an entry matches a set when its attributes share a bit with it, or, for
// the set 0, when it is a plain file. The dot entries never match.
bool sfx_find_narrow(const SfxFileId& pattern, const DWORD* sets, int count, WIN32_FIND_DATAA* found);

// A calendar date and time: valid when the year is 1 to 9999, the month 1 to
// 12, the day within the month (29 in February of a leap year), the hour at
// most 23, minute and second below 60 and the millisecond below 1000. A
// record built invalid is an internal error.
struct SfxDateTime {
    explicit SfxDateTime(const SYSTEMTIME& time);
    static SfxDateTime Local();
    static bool Check(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute, int32_t second,
                      int32_t millisecond);

    bool valid;
    int32_t year, month, day, hour, minute, second, millisecond;
};
