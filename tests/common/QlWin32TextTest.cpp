// The portable part of the registry and profile code: struct strings, the
// product "file" and the accepted-types mask.
#include <gtest/gtest.h>

#include <string>

#include "common/QlWin32.h"
#include "tests/support/TextShow.h"

namespace {

TEST(QlWin32Text, StructStrings)
{
    const uint8_t bytes[] = {0x01, 0x02, 0xFF};
    EXPECT_EQ(qlShowText(qlWin32EncodeStruct(bytes, 3)), "0102FF02");
    EXPECT_EQ(qlShowText(qlWin32EncodeStruct(bytes, 0)), "00");

    const struct {
        const char* what;
        const QlChar* text;
        bool ok;
        const char* bytes;  // the struct afterwards, as hex; "-" untouched
    } cases[] = {
        {"round trip", QL("0102FF02"), true, "0102FF"},
        {"lower-case digits", QL("0102ff02"), true, "0102FF"},
        {"wrong checksum, bytes still written", QL("0102FF03"), false, "0102FF"},
        {"text after the checksum", QL("0102FF0200"), false, "0102FF"},
        {"non-hex pair decodes as 0", QL("01G2FF00"), true, "0100FF"},
        {"too short", QL("0102FF0"), false, "-"},
        {"empty", QL(""), false, "-"},
    };
    for (const auto& c : cases) {
        uint8_t out[3] = {0xAA, 0xAA, 0xAA};
        EXPECT_EQ(qlWin32DecodeStruct(QlStr(c.text), out, 3), c.ok) << c.what;
        std::string shown = out[0] == 0xAA ? "-" : qlShowText(qlWin32EncodeStruct(out, 3)).substr(0, 6);
        EXPECT_EQ(shown, c.bytes) << c.what;
    }
    uint8_t none = 0;
    EXPECT_FALSE(qlWin32DecodeStruct(QlStr::CtorNull(), &none, 1));
}

TEST(QlWin32Text, ProductFileNames)
{
    const struct {
        const QlChar* file;
        bool product;
    } cases[] = {
        {QL("QUOLLA.INI"), true},
        {QL("quolla32.ini"), true},
        {QL("QuOlLa"), true},
        {QL("Quoll.ini"), false},
        {QL("xquolla.ini"), false},
        {QL("win.ini"), false},
        {QL(""), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qlWin32IsProductFile(QlStr(c.file)), c.product) << qlShowText(c.file, 20);
    EXPECT_FALSE(qlWin32IsProductFile(QlStr::CtorNull()));
}

TEST(QlWin32Text, TypeBits)
{
    const struct {
        uint32_t type;
        uint32_t bit;
    } cases[] = {
        {1, 0x10000}, {2, 0x20000}, {7, 0x40000}, {4, 0x80000},
        {3, 0x100000}, {0, 0x200000}, {11, 0x400000}, {5, 0x400000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qlWin32RegTypeBit(c.type), c.bit) << "type " << c.type;
}

}  // namespace
