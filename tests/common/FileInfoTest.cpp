// QlFileInfo: roots and mode bits.
#include <gtest/gtest.h>

#include "common/fileinfo.h"
#include "tests/support/TextShow.h"

namespace {

TEST(QlFileInfo, Roots)
{
    const struct {
        const QlChar* path;
        bool root;
    } cases[] = {
        {QL("C:\\"), true},
        {QL("c:/"), true},
        {QL("\\"), true},
        {QL("\\\\srv\\share"), true},
        {QL("\\\\srv\\share\\"), true},
        {QL("C:"), false},
        {QL("C:\\dir"), false},
        {QL("C:\\dir\\"), false},
        {QL("C:\\a.txt"), false},
        {QL("\\\\srv"), false},
        {QL(""), false},
        {QL("C:\\\\"), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qlFileInfoIsRoot(QlStr(c.path)), c.root) << qlShowText(c.path, 20);
}

TEST(QlFileInfo, ModeBits)
{
    const uint32_t readOnly = 0x01, directory = 0x10, archive = 0x20;
    const struct {
        const QlChar* path;
        uint32_t attributes;
        unsigned mode;
    } cases[] = {
        {QL("C:\\tools\\run.exe"), archive, 0x81FF},
        {QL("C:\\tools\\RUN.Bat"), archive, 0x81FF},
        {QL("C:\\tools\\x.cmd"), readOnly, 0x816D},
        {QL("C:\\a.txt"), archive, 0x81B6},
        {QL("C:\\a.txt"), readOnly, 0x8124},
        {QL("C:\\exe"), 0, 0x81B6},
        {QL("C:\\folder"), directory | readOnly, 0x416D},
        {QL("C:\\folder"), directory, 0x41FF},
        {QL("C:\\"), 0, 0x41FF},
        {QL("C:"), 0, 0x41FF},
        {QL("\\\\srv\\share"), 0, 0x41FF},
        {QL(""), 0, 0x41FF},
        {QL("C:\\tools.com"), directory, 0x41FF},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(qlFileInfoMode(QlStr(c.path), c.attributes), c.mode)
            << qlShowText(c.path, 30) << " attributes " << c.attributes;
    }
}

}  // namespace
