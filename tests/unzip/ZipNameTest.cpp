// The entry-name check that the stub and the builder's scan share.
#include <gtest/gtest.h>

#include <string>

#include "common/zipname.h"

namespace {

typedef std::basic_string<QlChar> Text;

QlZipNameFault check(const Text& name)
{
    return qlZipNameCheck(name.data(), static_cast<int>(name.size()));
}

TEST(ZipName, TableOfNames)
{
    struct Case {
        Text name;
        QlZipNameFault fault;
    } cases[] = {
        {QL("a.txt"), kQlZipNameOk},
        {QL("dir/sub\\file.tar.gz"), kQlZipNameOk},
        {QL("dir/"), kQlZipNameOk},
        {QL("a//b"), kQlZipNameOk},
        {QL("..a/b.."), kQlZipNameOk},
        {QL("console.txt"), kQlZipNameOk},
        {QL("com0"), kQlZipNameOk},
        {QL("lpt10.txt"), kQlZipNameOk},
        {QL("caf\u00e9 \u20ac.txt"), kQlZipNameOk},
        {QL(""), kQlZipNameEmpty},
        {QL("/"), kQlZipNameEmpty},
        {QL(".."), kQlZipNameParent},
        {QL("../x"), kQlZipNameParent},
        {QL("a/../x"), kQlZipNameParent},
        {QL("a\\..\\x"), kQlZipNameParent},
        {QL("a/.."), kQlZipNameParent},
        {QL("a/.. /x"), kQlZipNameParent},
        {QL("./x"), kQlZipNameDots},
        {QL("a/.../x"), kQlZipNameDots},
        {QL("/x"), kQlZipNameAbsolute},
        {QL("\\\\srv\\share\\x"), kQlZipNameAbsolute},
        {QL("C:x"), kQlZipNameDrive},
        {QL("c:\\x"), kQlZipNameDrive},
        {QL("x:y"), kQlZipNameDrive},
        {QL("ab:c"), kQlZipNameStream},
        {QL("x.txt::$DATA"), kQlZipNameStream},
        {QL("con"), kQlZipNameDevice},
        {QL("CON.txt"), kQlZipNameDevice},
        {QL("con.tar.gz"), kQlZipNameDevice},
        {QL("dir/Nul"), kQlZipNameDevice},
        {QL("aux /x"), kQlZipNameDevice},
        {QL("com1"), kQlZipNameDevice},
        {QL("LPT9.log"), kQlZipNameDevice},
        {QL("com\u00b9"), kQlZipNameDevice},
        {QL("CONIN$"), kQlZipNameDevice},
        {QL("a<b"), kQlZipNameReserved},
        {QL("a>b"), kQlZipNameReserved},
        {QL("a\"b"), kQlZipNameReserved},
        {QL("a|b"), kQlZipNameReserved},
        {QL("a?b"), kQlZipNameReserved},
        {QL("a*b"), kQlZipNameReserved},
        {Text(QL("a\0b"), 3), kQlZipNameReserved},
        {QL("a\x1f"), kQlZipNameReserved},
        {Text(255, QL('e')), kQlZipNameOk},
        {Text(256, QL('e')), kQlZipNameTooLong},
        {Text(200, QL('e')) + QL("/") + Text(58, QL('e')), kQlZipNameOk},
        {Text(200, QL('e')) + QL("/") + Text(59, QL('e')), kQlZipNameTooLong},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(check(c.name), c.fault) << std::string(c.name.begin(), c.name.end()).c_str();
    }
}

}  // namespace
