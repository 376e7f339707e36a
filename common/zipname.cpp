// The check of an entry name of a Zip archive.
#include "common/zipname.h"

#include <cstring>
#include <vector>

#include "common/QlGutz.h"

namespace {

bool isSeparator(QlChar c)
{
    return c == QL('\\') || c == QL('/');
}

QlChar lower(QlChar c)
{
    return c >= QL('A') && c <= QL('Z') ? static_cast<QlChar>(c - QL('A') + QL('a')) : c;
}

bool equalsNoCase(const QlChar* text, int length, const char* word)
{
    int i = 0;
    for (; i < length && word[i] != 0; ++i)
        if (lower(text[i]) != static_cast<QlChar>(word[i]))
            return false;
    return i == length && word[i] == 0;
}

// Windows drops dots and blanks at the end of an element, so an element of
// nothing else names the folder itself or its parent.
QlZipNameFault checkDots(const QlChar* element, int length)
{
    int dots = 0;
    for (int i = 0; i < length; ++i) {
        if (element[i] == QL('.'))
            ++dots;
        else if (element[i] != QL(' '))
            return kQlZipNameOk;
    }
    if (dots == 0)
        return kQlZipNameOk;  // blanks only: an odd but plain name
    return dots == 2 && element[0] == QL('.') && element[1] == QL('.') ? kQlZipNameParent
                                                                      : kQlZipNameDots;
}

QlZipNameFault checkElement(const QlChar* element, int length)
{
    if (length > kQlZipNameMaxElement)
        return kQlZipNameTooLong;
    QlZipNameFault dots = checkDots(element, length);
    if (dots != kQlZipNameOk)
        return dots;
    return qlZipNameIsDevice(element, length) ? kQlZipNameDevice : kQlZipNameOk;
}

bool isPlainUnit(QlChar c)
{
    return c < 128 || c == 0x20AC || qlGutzPlatformIsAlpha(c) || (c >= QL('0') && c <= QL('9'));
}

bool isPlain(const QlStr& text)
{
    for (int i = 0; i < text.Length(); ++i)
        if (!isPlainUnit(text.Text()[i]))
            return false;
    return true;
}

}  // namespace

bool qlZipNameIsDevice(const QlChar* element, int length)
{
    int base = 0;
    while (base < length && element[base] != QL('.'))
        ++base;
    while (base > 0 && element[base - 1] == QL(' '))
        --base;
    static const char* const kWords[] = {"aux", "con", "prn", "nul", "conin$", "conout$"};
    for (const char* word : kWords)
        if (equalsNoCase(element, base, word))
            return true;
    if (base != 4 || !(equalsNoCase(element, 3, "com") || equalsNoCase(element, 3, "lpt")))
        return false;
    const QlChar digit = element[3];
    return (digit >= QL('1') && digit <= QL('9')) || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
}

QlZipNameFault qlZipNameCheck(const QlChar* name, int length)
{
    if (name == nullptr || length <= 0 || (length == 1 && isSeparator(name[0])))
        return kQlZipNameEmpty;
    if (isSeparator(name[0]))
        return kQlZipNameAbsolute;
    if (length >= 2 && name[1] == QL(':'))
        return kQlZipNameDrive;

    QlZipNameFault found = kQlZipNameOk;
    int start = 0;
    for (int i = 0; i <= length && found == kQlZipNameOk; ++i) {
        if (i == length || isSeparator(name[i])) {
            // Separators in a row give empty elements, which Windows joins.
            if (i > start)
                found = checkElement(name + start, i - start);
            start = i + 1;
            continue;
        }
        const QlChar c = name[i];
        if (c == QL(':'))
            found = kQlZipNameStream;
        else if (c < 0x20 || c == QL('<') || c == QL('>') || c == QL('"') || c == QL('|') || c == QL('?') ||
                 c == QL('*'))
            found = kQlZipNameReserved;
    }
    if (found == kQlZipNameOk && length > kQlZipNameMaxLength)
        found = kQlZipNameTooLong;
    return found;
}

void oem_name_to_ansi(char* name, int length)
{
    const QlStr stored(name, length, 1);
    if (isPlain(stored))
        return;
    const QlStr oem(name, length, 0);
    const QlStrNarrow copy(oem, 1);
    if (copy.Text() == nullptr || copy.Length() != length)
        return;
    const QlStr converted(copy.Text(), length, 1);
    if (converted.Length() != stored.Length() || !isPlain(converted))
        return;
    for (int i = 0; i < converted.Length(); ++i) {
        const QlChar c = converted.Text()[i];
        if (c != stored.Text()[i] && c != 0x20AC && !qlGutzPlatformIsAlpha(c) && !(c >= QL('0') && c <= QL('9')))
            return;
    }
    memcpy(name, copy.Text(), length);
}

QlStr qlZipNameDecode(const char* stored, int length, bool utf8)
{
    QlStr name;
    if (utf8) {
        name = QlStr(stored, length, 3);
    } else {
        std::vector<char> converted(stored, stored + length);
        converted.push_back(0);
        oem_name_to_ansi(converted.data(), length);
        name = QlStr(converted.data(), length, 1);
    }
    return name.IsNull() ? QlStr() : name;
}
