#include "stub/sfxfileid.h"

#include <cstring>

#include "stub/sfxstub.h"

namespace {

const char kFileIdSource[] = "fileid";
const char kFileIdHeader[] = "fileid.h";
const char kDateTimeSource[] = "datetime";
const int kLineBelowText = 426;
const int kLineBeyondText = 427;
const int kLineNarrowView = 214;
const int kLineInvalidTime = 569;
const int kNarrowViewBytes = 5001;

char g_narrow_view[kNarrowViewBytes];

wchar_t lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/' || c == L':'; }

// The device words in front of any extension.
bool is_device_name(const char* name)
{
    const char* dot = std::strrchr(name, '.');
    size_t stem = dot ? static_cast<size_t>(dot - name) : std::strlen(name);
    auto same = [&](const char* word) { return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, name, 3, word,
                                                              3) == CSTR_EQUAL; };
    if (stem == 3)
        return same("aux") || same("con") || same("prn") || same("nul");
    if (stem == 4 && name[3] >= '1' && name[3] <= '9')
        return same("lpt") || same("com");
    return false;
}

}  // namespace

SfxFileId& SfxFileId::operator=(const SfxFileId& other)
{
    if (this != &other)
        SetWide(other.Wide(), other.Length());
    return *this;
}

SfxFileId::~SfxFileId()
{
    delete[] m_heap;
}

bool SfxFileId::Replace(const wchar_t* text, int length, bool keep_prefix)
{
    const int prefix = keep_prefix ? m_length : 0;
    if (length < 0 || prefix + length > kMaxLength)
        return false;
    const int total = prefix + length;
    wchar_t* target = total <= kInPlace ? m_local : new wchar_t[total + 1];
    if (target != Wide())
        std::memcpy(target, Wide(), prefix * sizeof(wchar_t));
    std::memcpy(target + prefix, text, length * sizeof(wchar_t));
    target[total] = 0;
    if (target != m_heap) {
        delete[] m_heap;
        m_heap = target == m_local ? nullptr : target;
    }
    m_length = total;
    return true;
}

bool SfxFileId::SetWide(const wchar_t* text, int length)
{
    if (text == nullptr)
        return false;
    // A copy first: the text may be this path's own.
    SfxFileId copy;
    copy.m_length = 0;
    if (!copy.Replace(text, length, false))
        return false;
    return Replace(copy.Wide(), copy.Length(), false);
}

bool SfxFileId::AppendWide(const wchar_t* text, int length)
{
    if (text == nullptr)
        return false;
    SfxFileId copy;
    if (!copy.Replace(text, length, false))
        return false;
    return Replace(copy.Wide(), copy.Length(), true);
}

bool SfxFileId::SetNarrow(const char* narrow, bool oem)
{
    if (narrow == nullptr)
        return false;
    if (narrow[0] == 0)
        return SetWide(L"", 0);
    const UINT page = oem ? CP_OEMCP : CP_ACP;
    int units = MultiByteToWideChar(page, MB_PRECOMPOSED, narrow, -1, nullptr, 0);
    if (units <= 0 || units - 1 > kMaxLength)
        return false;
    wchar_t* wide = new wchar_t[units];
    bool ok = MultiByteToWideChar(page, MB_PRECOMPOSED, narrow, -1, wide, units) == units &&
              SetWide(wide, units - 1);
    delete[] wide;
    return ok;
}

bool SfxFileId::AppendNarrow(const char* narrow, bool oem)
{
    SfxFileId more;
    return more.SetNarrow(narrow, oem) && AppendWide(more.Wide(), more.Length());
}

bool SfxFileId::AddTrailingSlash()
{
    if (m_length > 0 && Wide()[m_length - 1] == L'\\')
        return true;
    return AppendWide(L"\\", 1);
}

wchar_t SfxFileId::CharAt(int index) const
{
    if (index < 0)
        internal_error(kFileIdHeader, kLineBelowText);
    if (index >= m_length)
        internal_error(kFileIdHeader, kLineBeyondText);
    return Wide()[index];
}

const char* SfxFileId::Narrow() const
{
    g_narrow_view[0] = 0;
    if (m_length == 0)
        return g_narrow_view;
    int bytes = WideCharToMultiByte(CP_ACP, 0, Wide(), m_length + 1, g_narrow_view, kNarrowViewBytes, nullptr,
                                    nullptr);
    if (bytes <= 0)
        internal_error(kFileIdSource, kLineNarrowView);
    return g_narrow_view;
}

int SfxFileId::FindLast(wchar_t unit) const
{
    for (int i = m_length - 1; i >= 0; --i)
        if (Wide()[i] == unit)
            return i;
    return -1;
}

SfxFileId SfxFileId::Folder() const
{
    SfxFileId folder;
    folder.SetWide(Wide(), FindLast(L'\\') + 1);
    return folder;
}

const wchar_t* SfxFileId::Name() const
{
    int i = m_length;
    while (i > 0 && !is_separator(Wide()[i - 1]))
        --i;
    return Wide() + i;
}

bool SfxFileId::IsDrive() const
{
    return m_length >= 2 && Wide()[1] == L':' && lower(Wide()[0]) >= L'a' && lower(Wide()[0]) <= L'z';
}

bool SfxFileId::IsUnc() const
{
    return m_length >= 2 && Wide()[0] == L'\\' && Wide()[1] == L'\\';
}

bool SfxFileId::IsDot() const
{
    return m_length == 1 && Wide()[0] == L'.';
}

bool SfxFileId::IsDotDot() const
{
    return m_length == 2 && Wide()[0] == L'.' && Wide()[1] == L'.';
}

bool SfxFileId::EqualsNoCase(const SfxFileId& other) const
{
    if (m_length != other.m_length)
        return false;
    for (int i = 0; i < m_length; ++i)
        if (lower(Wide()[i]) != lower(other.Wide()[i]))
            return false;
    return true;
}

bool sfx_valid_file_name_narrow(const char* name)
{
    if (name == nullptr || name[0] == 0 || std::strlen(name) > 256 || std::strpbrk(name, "\\/:") != nullptr)
        return false;
    return !is_device_name(name);
}

bool sfx_plain_name_narrow(const char* name)
{
    return name != nullptr && std::strpbrk(name, "\\/:.") == nullptr;
}

bool sfx_find_narrow(const SfxFileId& pattern, const DWORD* sets, int count, WIN32_FIND_DATAA* found)
{
    if (count > 6)
        count = 6;
    for (int set = 0; set < count; ++set) {
        HANDLE find = FindFirstFileA(pattern.Narrow(), found);
        if (find == INVALID_HANDLE_VALUE)
            return false;
        do {
            bool dots = std::strcmp(found->cFileName, ".") == 0 || std::strcmp(found->cFileName, "..") == 0;
            DWORD attributes = found->dwFileAttributes;
            bool match = sets[set] == 0 ? (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 : (attributes & sets[set]) != 0;
            if (!dots && match) {
                FindClose(find);
                return true;
            }
        } while (FindNextFileA(find, found));
        FindClose(find);
    }
    return false;
}

SfxDateTime::SfxDateTime(const SYSTEMTIME& time)
    : valid(false), year(time.wYear), month(time.wMonth), day(time.wDay), hour(time.wHour),
      minute(time.wMinute), second(time.wSecond), millisecond(time.wMilliseconds)
{
    valid = Check(year, month, day, hour, minute, second, millisecond);
    if (!valid)
        internal_error(kDateTimeSource, kLineInvalidTime);
}

SfxDateTime SfxDateTime::Local()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return SfxDateTime(now);
}

bool SfxDateTime::Check(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute, int32_t second,
                        int32_t millisecond)
{
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1)
        return false;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    int days = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    return day <= days && hour >= 0 && hour <= 23 && minute >= 0 && minute < 60 && second >= 0 && second < 60 &&
           millisecond >= 0 && millisecond < 1000;
}
