// The portable part of QlWin32: the struct codec of profile strings, the
// product-name test and the accepted-types mask.
#include "common/QlWin32.h"

const QlChar kQlWin32ProductKey[] = QL("SOFTWARE\\Ostrel Zivevevoz\\Quolla");
const QlChar kQlWin32KeyClass[] = QL("Quolla Application Data");

namespace {

const char kProductWord[] = "quolla";
const char kHexDigits[] = "0123456789ABCDEF";

int HexValue(QlChar unit)
{
    if (unit >= '0' && unit <= '9')
        return unit - '0';
    if (unit >= 'A' && unit <= 'F')
        return unit - 'A' + 10;
    if (unit >= 'a' && unit <= 'f')
        return unit - 'a' + 10;
    return -1;
}

// A pair with a non-hex digit decodes as 0.
uint8_t PairAt(const QlChar* text)
{
    int high = HexValue(text[0]);
    int low = HexValue(text[1]);
    return (high < 0 || low < 0) ? 0 : static_cast<uint8_t>(high << 4 | low);
}

void AppendPair(QlStr& text, uint8_t byte)
{
    text.AppendChar(static_cast<QlChar>(kHexDigits[byte >> 4]));
    text.AppendChar(static_cast<QlChar>(kHexDigits[byte & 15]));
}

}  // namespace

uint32_t qlWin32RegTypeBit(uint32_t type)
{
    switch (type) {
    case 1: return kRegBitSz;        // REG_SZ
    case 2: return kRegBitExpandSz;  // REG_EXPAND_SZ
    case 7: return kRegBitMultiSz;   // REG_MULTI_SZ
    case 4: return kRegBitDword;     // REG_DWORD
    case 3: return kRegBitBinary;    // REG_BINARY
    case 0: return kRegBitNone;      // REG_NONE
    default: return kRegBitOther;
    }
}

bool qlWin32IsProductFile(const QlStr& file)
{
    if (file.Length() < 6)
        return false;
    for (int i = 0; i < 6; ++i) {
        QlChar unit = file.CharAt(i);
        if (unit >= 'A' && unit <= 'Z')
            unit = static_cast<QlChar>(unit + ('a' - 'A'));
        if (unit != static_cast<QlChar>(kProductWord[i]))
            return false;
    }
    return true;
}

QlStr qlWin32EncodeStruct(const void* data, uint32_t size)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    QlStr text;
    uint8_t sum = 0;
    for (uint32_t i = 0; i < size; ++i) {
        AppendPair(text, bytes[i]);
        sum = static_cast<uint8_t>(sum + bytes[i]);
    }
    AppendPair(text, sum);
    return text;
}

bool qlWin32DecodeStruct(const QlStr& text, void* data, uint32_t size)
{
    uint64_t needed = 2 * (static_cast<uint64_t>(size) + 1);
    if (!text.HasText() || static_cast<uint64_t>(text.Length()) < needed)
        return false;
    const QlChar* units = text.Text();
    uint8_t* bytes = static_cast<uint8_t*>(data);
    uint8_t sum = 0;
    for (uint32_t i = 0; i < size; ++i) {
        bytes[i] = PairAt(units + 2 * i);
        sum = static_cast<uint8_t>(sum + bytes[i]);
    }
    return PairAt(units + 2 * size) == sum && static_cast<uint64_t>(text.Length()) == needed;
}
