// The spanned set's volume labels (see disklabel.h).
#include "common/disklabel.h"

namespace {

bool is_digit(QlChar c) { return c >= '0' && c <= '9'; }

}  // namespace

int qlSpanDiskFromLabel(const QlChar* label)
{
    static const char kPrefix[] = "PKBACK#";
    if (label == nullptr)
        return -1;
    int i = 0;
    for (; kPrefix[i] != 0; ++i) {
        if (label[i] != static_cast<QlChar>(kPrefix[i]))
            return -1;
    }
    while (label[i] != 0 && label[i] != '.' && label[i] != ' ')
        ++i;
    if (label[i] == 0)
        return -1;
    while (label[i] != 0 && !is_digit(label[i]))
        ++i;
    if (label[i] == 0)
        return -1;
    long number = 0;
    for (; is_digit(label[i]); ++i) {
        number = number * 10 + (label[i] - '0');
        if (number >= 0xFFFF)
            return -1;
    }
    return static_cast<int>(number);
}

bool qlSpanDiskLabel(int disk, QlChar label[12])
{
    static const char kPrefix[] = "PKBACK# ";
    if (disk < 1 || disk > 999)
        return false;
    int i = 0;
    for (; kPrefix[i] != 0; ++i)
        label[i] = static_cast<QlChar>(kPrefix[i]);
    label[i++] = static_cast<QlChar>('0' + disk / 100);
    label[i++] = static_cast<QlChar>('0' + disk / 10 % 10);
    label[i++] = static_cast<QlChar>('0' + disk % 10);
    label[i] = 0;
    return true;
}
