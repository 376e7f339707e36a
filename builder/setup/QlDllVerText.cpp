// The version override text (pure code).
#include "builder/setup/QlDllVer.h"

bool parse_version_override(const QlStr& text, uint32_t& ms, uint32_t& ls)
{
    if (!text.HasText())
        return false;
    uint32_t part[4] = {0, 0, 0, 0};
    int n = 0;
    int i = 0;
    const int length = text.Length();
    while (n < 4 && i <= length) {
        // Each piece as a decimal integer: leading digits, the rest ignored.
        int j = i;
        while (j < length && text.CharAt(j) == QL(' '))
            ++j;
        uint32_t value = 0;
        while (j < length && text.CharAt(j) >= QL('0') && text.CharAt(j) <= QL('9'))
            value = value * 10 + uint32_t(text.CharAt(j++) - QL('0'));
        part[n++] = value;
        while (j < length && text.CharAt(j) != QL('.'))
            ++j;
        i = j + 1;
        if (j >= length)
            break;
    }
    ms = part[0] << 16 | (part[1] & 0xFFFF);
    ls = part[2] << 16 | (part[3] & 0xFFFF);
    return true;
}
