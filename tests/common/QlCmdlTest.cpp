#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/QlCmdl.h"
#include "tests/support/RecordingHooks.h"

namespace {

std::u16string u16(const QlStr& s)
{
    return s.Text() ? std::u16string(reinterpret_cast<const char16_t*>(s.Text()), s.Length())
                    : std::u16string();
}

std::vector<std::u16string> tokens_of(const QlChar* line)
{
    std::vector<std::u16string> tokens;
    QlCmdLine cmd{QlStr(line)};
    if (cmd.GetToken().HasText()) {
        tokens.push_back(u16(cmd.GetToken()));
        QlStr arg;
        while (cmd.NextArg(arg))
            tokens.push_back(u16(arg));
    }
    return tokens;
}

struct TokenCase {
    const QlChar* line;
    std::vector<std::u16string> tokens;
    const char* why;
};

}  // namespace

TEST(QlCmdLine, SplitsLinesIntoTokens)
{
    const TokenCase cases[] = {
        {QL(""), {}, "empty line"},
        {QL("    "), {}, "blanks only"},
        {QL("a  b"), {u"a", u"b"}, "two blanks give no empty token"},
        {QL("  lead trail  "), {u"lead", u"trail"}, "blanks trimmed at both ends"},
        {QL("a\tb c"), {u"a\tb", u"c"}, "a tab does not split"},
        {QL("\"C:\\Program Files\\x.exe\" -y"), {u"\"C:\\Program Files\\x.exe\"", u"-y"},
         "quotes are kept"},
        {QL("\"\" x"), {u"\"\"", u"x"}, "empty quoted token"},
        {QL("\\\\my server\\my share\\dir\\f.zip next"),
         {u"\\\\my server\\my share\\dir\\f.zip", u"next"},
         "UNC name with blanks in server and share"},
        {QL("\\\\srv\\share name/dir x"), {u"\\\\srv\\share name/dir", u"x"},
         "share name ends at a forward slash too"},
        {QL("\\\\server only"), {u"\\\\server only"}, "UNC name without a share"},
        {QL("\\x y"), {u"\\x", u"y"}, "one backslash is no UNC name"},
    };
    for (const TokenCase& c : cases)
        EXPECT_EQ(tokens_of(c.line), c.tokens) << c.why;
    EXPECT_TRUE(qlTakeHookReports().empty());
}

TEST(QlCmdLine, OpenQuoteThrows998)
{
    EXPECT_THROW(
        {
            try {
                QlCmdLine cmd{QlStr(QL("\"C:\\open"))};
            } catch (int code) {
                EXPECT_EQ(code, 998);
                throw;
            }
        },
        int);

    QlCmdLine later{QlStr(QL("x \"open"))};
    EXPECT_EQ(u16(later.GetToken()), u"x");
    QlStr arg;
    EXPECT_THROW(later.NextArg(arg), int);
}

TEST(QlCmdLine, RestAndStateQueries)
{
    QlCmdLine cmd{QlStr(QL("-s  file.zip"))};
    EXPECT_FALSE(cmd.IsDone());
    EXPECT_TRUE(cmd.HasMore());
    EXPECT_EQ(u16(cmd.GetRest()), u"-s  file.zip");

    QlStr arg;
    EXPECT_TRUE(cmd.NextArg(arg));
    EXPECT_EQ(u16(arg), u"file.zip");
    EXPECT_EQ(u16(cmd.GetRest()), u"file.zip");
    EXPECT_FALSE(cmd.HasMore());

    EXPECT_FALSE(cmd.NextArg(arg));
    EXPECT_TRUE(cmd.IsDone());
    EXPECT_FALSE(arg.HasText());

    cmd.Reset(QlStr(QL("again")));
    EXPECT_EQ(u16(cmd.GetToken()), u"again");
    cmd.Clear();
    EXPECT_TRUE(cmd.IsDone());
    EXPECT_FALSE(cmd.GetToken().HasText());
}

TEST(QlCmdLine, ArgAfterTakesTheValueGluedToASwitch)
{
    // "-d" is a one-character prefix and a keyword of length 1: offset 2.
    QlCmdLine cmd{QlStr(QL("-dC:\\Out -y"))};
    QlStr value;
    EXPECT_TRUE(cmd.ArgAfter(2, value));
    EXPECT_EQ(u16(value), u"C:\\Out");
    EXPECT_TRUE(cmd.NextArg(value));
    EXPECT_EQ(u16(value), u"-y");

    // Nothing glued: no value (the caller takes the next argument instead).
    QlCmdLine apart{QlStr(QL("-d C:\\Out"))};
    EXPECT_FALSE(apart.ArgAfter(2, value));

    // An offset past the end leaves nothing, and reads nothing beyond it.
    QlCmdLine shortLine{QlStr(QL("-d"))};
    EXPECT_FALSE(shortLine.ArgAfter(10, value));
    EXPECT_TRUE(shortLine.IsDone());
    EXPECT_TRUE(qlTakeHookReports().empty());
}
