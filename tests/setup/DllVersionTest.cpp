// The version override text of a module.
#include <gtest/gtest.h>

#include "builder/setup/QlDllVer.h"

namespace {

TEST(DllVersionOverride, Texts)
{
    struct Case {
        const QlChar* text;
        bool ok;
        uint32_t ms, ls;
    } cases[] = {
        {QL("4.0"), true, 0x00040000, 0},
        {QL("6"), true, 0x00060000, 0},
        {QL("5.82.2900.6028"), true, 0x00050052, 0x0B54178C},
        {QL("1.2.3.4.5"), true, 0x00010002, 0x00030004},  // a fifth piece is not read
        {QL("6.x"), true, 0x00060000, 0},                  // no digits: 0
        {QL(""), false, 0, 0},
    };
    for (const Case& c : cases) {
        uint32_t ms = 0, ls = 0;
        EXPECT_EQ(parse_version_override(QlStr(c.text), ms, ls), c.ok);
        EXPECT_EQ(ms, c.ms);
        EXPECT_EQ(ls, c.ls);
    }
}

}  // namespace
