// QlByteOrderMark: classification of a file head.
#include "common/QlBOM.h"

#include <cstring>

namespace {

bool StartsWith(const uint8_t* bytes, int count, const char* mark, int length)
{
    return count >= length && std::memcmp(bytes, mark, static_cast<size_t>(length)) == 0;
}

}  // namespace

// UTF-32LE is tested before UTF-16LE: FF FE 00 00 is always taken as UTF-32LE.
bool QlByteOrderMark::Classify(const uint8_t* bytes, int count)
{
    m_code = kUndetermined;
    if (count <= 0 || bytes == nullptr) {
        m_code = kNoMark;
        return true;
    }
    int code = kNoMark;
    switch (bytes[0]) {
    case 0x00:
        code = StartsWith(bytes, count, "\x00\x00\xFE\xFF", 4) ? kUtf32Be : kUndetermined;
        break;
    case 0xEF:
        code = StartsWith(bytes, count, "\xEF\xBB\xBF", 3) ? kUtf8 : kUndetermined;
        break;
    case 0xFE:
        code = StartsWith(bytes, count, "\xFE\xFF", 2) ? kUtf16Be : kUndetermined;
        break;
    case 0xFF:
        if (StartsWith(bytes, count, "\xFF\xFE\x00\x00", 4))
            code = kUtf32Le;
        else
            code = StartsWith(bytes, count, "\xFF\xFE", 2) ? kUtf16Le : kUndetermined;
        break;
    }
    m_code = code;
    return code != kUndetermined;
}

int QlByteOrderMark::Length() const
{
    static const int kLengths[] = {-1, 0, 3, 2, 2, 4, 4};
    return (m_code >= kUndetermined && m_code <= kUtf32Be) ? kLengths[m_code + 1] : -1;
}
