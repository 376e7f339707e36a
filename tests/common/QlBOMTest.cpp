// QlByteOrderMark: classification of a file head.
#include <gtest/gtest.h>

#include <string>

#include "common/QlBOM.h"

namespace {

TEST(QlByteOrderMark, ClassifiesTheHead)
{
    const struct {
        const char* what;
        std::string head;
        bool ok;
        int code;
        int length;
    } cases[] = {
        {"empty", "", true, 0, 0},
        {"plain text", "abc", true, 0, 0},
        {"UTF-8", "\xEF\xBB\xBFx", true, 1, 3},
        {"UTF-8 cut short", "\xEF\xBB", false, -1, -1},
        {"UTF-8 wrong", "\xEF\xBB\xBE", false, -1, -1},
        {"UTF-16LE alone", "\xFF\xFE", true, 2, 2},
        {"UTF-16LE text", std::string("\xFF\xFE" "a\0", 4), true, 2, 2},
        {"UTF-16LE first unit NUL", std::string("\xFF\xFE\0\0", 4), true, 4, 4},
        {"UTF-16BE", "\xFE\xFF", true, 3, 2},
        {"FE alone", "\xFE", false, -1, -1},
        {"FF then other", "\xFF\x41", false, -1, -1},
        {"UTF-32BE", std::string("\0\0\xFE\xFF", 4), true, 5, 4},
        {"NUL then a letter", std::string("\0A", 2), false, -1, -1},
        {"UTF-32BE cut short", std::string("\0\0\xFE", 3), false, -1, -1},
    };
    for (const auto& c : cases) {
        QlByteOrderMark mark;
        EXPECT_EQ(mark.Classify(reinterpret_cast<const uint8_t*>(c.head.data()),
                                int(c.head.size())),
                  c.ok)
            << c.what;
        EXPECT_EQ(mark.GetCode(), c.code) << c.what;
        EXPECT_EQ(mark.Length(), c.length) << c.what;
    }
}

}  // namespace
