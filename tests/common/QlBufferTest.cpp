// QlBuf: sizing, copies and the text, multi-string and number forms.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/QlBuffer.h"
#include "tests/support/RecordingHooks.h"
#include "tests/support/TextShow.h"

namespace {

// A buffer holding exactly these bytes.
QlBuf BufOf(const std::vector<uint8_t>& bytes)
{
    QlBuf buf(uint32_t(bytes.size()));
    for (size_t i = 0; i < bytes.size(); ++i)
        buf.Data()[i] = bytes[i];
    return buf;
}

// UTF-16LE bytes of ASCII units; '0' stands for a NUL unit.
std::vector<uint8_t> Units(const char* units)
{
    std::vector<uint8_t> bytes;
    for (const char* u = units; *u != 0; ++u) {
        bytes.push_back(*u == '0' ? 0 : uint8_t(*u));
        bytes.push_back(0);
    }
    return bytes;
}

std::vector<uint8_t> BytesOf(const QlBuf& buf)
{
    return std::vector<uint8_t>(buf.Data(), buf.Data() + buf.Size());
}

std::string ListOf(const QlStringList& list)
{
    std::string shown;
    for (const QlListNode* node = list.Head(); node != nullptr; node = node->Next())
        shown += "[" + qlShowText(node->Text()) + "]";
    return shown;
}

TEST(QlBuf, ResizeKeepsWipesOrStartsFresh)
{
    QlBuf buf = BufOf({1, 2, 3, 4});
    const uint8_t* block = buf.Data();
    ASSERT_TRUE(buf.Resize(2, QlBuf::kKeep));
    EXPECT_EQ(buf.Data(), block) << "smaller: no new block";
    EXPECT_EQ(buf.Capacity(), 4u);
    EXPECT_EQ(BytesOf(buf), (std::vector<uint8_t>{1, 2}));

    ASSERT_TRUE(buf.Resize(6, QlBuf::kKeep));
    EXPECT_EQ(buf.Capacity(), 6u);
    EXPECT_EQ(BytesOf(buf)[0], 1);
    EXPECT_EQ(BytesOf(buf)[1], 2);

    ASSERT_TRUE(buf.Resize(3, QlBuf::kWipe));
    EXPECT_EQ(BytesOf(buf), (std::vector<uint8_t>{0, 0, 0}));
    ASSERT_TRUE(buf.Resize(8, QlBuf::kWipe));
    EXPECT_EQ(BytesOf(buf), std::vector<uint8_t>(8, 0));
    EXPECT_TRUE(buf.Resize(9, QlBuf::kFresh));
    EXPECT_EQ(buf.Size(), 9u);

    qlTakeHookReports();
    EXPECT_FALSE(buf.Resize(20, 3));
    EXPECT_EQ(qlShowReports(), "assert QlBuffer:169;");
    EXPECT_EQ(buf.Size(), 9u) << "a refused resize changes nothing";

    QlBuf empty;
    EXPECT_EQ(empty.Data(), nullptr);
    EXPECT_TRUE(empty.Resize(0, QlBuf::kKeep));
    EXPECT_EQ(empty.Data(), nullptr);
}

TEST(QlBuf, CopiesOwnTheirBytes)
{
    QlBuf source = BufOf({7, 8, 9});
    source.Resize(2, QlBuf::kKeep);
    QlBuf copy(source);
    EXPECT_NE(copy.Data(), source.Data());
    EXPECT_EQ(BytesOf(copy), (std::vector<uint8_t>{7, 8}));
    EXPECT_EQ(copy.Capacity(), 3u);
    copy.Data()[0] = 1;
    EXPECT_EQ(source.Data()[0], 7);

    copy = copy;
    EXPECT_EQ(BytesOf(copy), (std::vector<uint8_t>{1, 8}));
    copy = QlBuf();
    EXPECT_EQ(copy.Data(), nullptr);
    EXPECT_EQ(copy.Size(), 0u);
}

TEST(QlBuf, TextForms)
{
    QlBuf buf;
    ASSERT_TRUE(buf.SetText(QL("ab\u00E9")));
    EXPECT_EQ(BytesOf(buf), (std::vector<uint8_t>{'a', 0, 'b', 0, 0xE9, 0, 0, 0}));
    QlStr text;
    ASSERT_TRUE(buf.GetText(text));
    EXPECT_EQ(text, QlStr(QL("ab\u00E9")));
    ASSERT_TRUE(buf.AssignText(QlStr()));
    EXPECT_EQ(buf.Size(), 2u);

    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        bool ok;
        const char* text;
    } cases[] = {
        {"one text", Units("ab0"), true, "ab"},
        {"empty text", Units("0"), true, ""},
        {"a second NUL after the text", Units("ab00"), false, "old"},
        {"no NUL", Units("ab"), false, "old"},
        {"an odd byte after the NUL is ignored", {'a', 0, 0, 0, 'x'}, true, "a"},
        {"a single byte", {0}, false, "old"},
        {"nothing", {}, false, "old"},
    };
    for (const auto& c : cases) {
        QlStr out(QL("old"));
        EXPECT_EQ(BufOf(c.bytes).ToText(out), c.ok) << c.what;
        EXPECT_EQ(qlShowText(out), c.text) << c.what;
    }
}

TEST(QlBuf, MultiTextForms)
{
    QlStringList list;
    list.AddTail(QL("one"));
    list.AddTail(QL(""));
    list.AddTail(QL("two"));
    QlBuf buf;
    ASSERT_TRUE(buf.SetMultiText(list));
    EXPECT_EQ(BytesOf(buf), Units("one00two00"));
    QlStringList back;
    ASSERT_TRUE(buf.GetMultiText(back));
    EXPECT_EQ(ListOf(back), "[one][][two]");

    QlStringList none;
    ASSERT_TRUE(buf.SetMultiText(none));
    EXPECT_EQ(BytesOf(buf), Units("0"));

    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        bool ok;
        const char* list;
    } cases[] = {
        {"two texts", Units("a0b00"), true, "[a][b]"},
        {"a single NUL: empty list", Units("0"), true, ""},
        {"one text", Units("a00"), true, "[a]"},
        {"no final NUL", Units("a0b0"), false, "[a][b]"},
        {"no NUL at all", Units("ab"), false, ""},
        {"a unit after the final NUL", Units("a00x"), false, "[a][]"},
        {"a single other unit", Units("x"), false, ""},
        {"nothing", {}, false, ""},
    };
    for (const auto& c : cases) {
        QlStringList out;
        out.AddTail(QL("stale"));
        EXPECT_EQ(BufOf(c.bytes).GetMultiText(out), c.ok) << c.what;
        EXPECT_EQ(ListOf(out), c.list) << c.what;
    }
}

TEST(QlBuf, DwordForm)
{
    QlBuf buf;
    ASSERT_TRUE(buf.SetDword(0x11223344u));
    EXPECT_EQ(BytesOf(buf), (std::vector<uint8_t>{0x44, 0x33, 0x22, 0x11}));
    uint32_t value = 0;
    ASSERT_TRUE(buf.GetDword(value));
    EXPECT_EQ(value, 0x11223344u);

    for (size_t size : {0, 3, 5}) {
        uint32_t out = 7;
        EXPECT_FALSE(BufOf(std::vector<uint8_t>(size, 1)).GetDword(out)) << size << " bytes";
        EXPECT_EQ(out, 7u);
    }
}

}  // namespace
