// QlStr storage, copy on write, the body pool, conversions and numbers.
// Natively these run under ASan/UBSan over the native stand-ins; under Wine
// over Windows' own conversions (ANSI 1252, OEM 437): the answers are the same.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/QlString.h"
#include "tests/support/RecordingHooks.h"
#include "tests/support/TextShow.h"

namespace {

std::string Assert(const char* source, int line)
{
    return std::string("assert ") + source + ":" + std::to_string(line) + ";";
}

const QlChar* const k12 = QL("abcdefghijkl");
const QlChar* const k13 = QL("abcdefghijklm");
const QlChar* const k20 = QL("abcdefghijklmnopqrst");

// ---------------------------------------------------------------------------

struct StateCase {
    const char* name;
    const QlChar* text;
    bool notNull, empty, hasText, inlineText;
    int sharesAfterTwoCopies;
};

TEST(QlStr, CopyOnWriteValueSemantics)
{
    qlShowReports();
    const StateCase cases[] = {
        {"null", nullptr, false, false, false, false, 0},
        {"empty", QL(""), true, true, false, true, 1},
        {"12 units stay inline", k12, true, false, true, true, 1},
        {"13 units take a heap block", k13, true, false, true, false, 3},
    };
    for (const StateCase& c : cases) {
        SCOPED_TRACE(c.name);
        QlStr s(c.text);
        EXPECT_EQ(s.IsNotNull(), c.notNull);
        EXPECT_EQ(s.IsEmpty(), c.empty);
        EXPECT_EQ(s.HasText(), c.hasText);
        EXPECT_EQ(s.Body()->IsInline(), c.inlineText);

        QlStr copied(s);
        QlStr assigned;
        assigned = s;
        EXPECT_EQ(s.Body()->ShareCount(), c.sharesAfterTwoCopies);
        EXPECT_TRUE(copied == s && assigned == s);
        // Heap text is shared by pointer; inline text is copied.
        bool heap = c.notNull && !c.inlineText;
        EXPECT_EQ(copied.Text() == s.Text(), heap || !c.notNull);
        EXPECT_EQ(assigned.Text() == s.Text(), heap || !c.notNull);

        // Changing one copy leaves the others sharing the old text.
        const QlChar* before = s.Text();
        copied.AppendChar(QL('+'));
        EXPECT_EQ(qlShowText(copied), (c.notNull ? qlShowText(QlStr(c.text)) : "") + "+");
        EXPECT_EQ(qlShowText(s), qlShowText(QlStr(c.text)));
        EXPECT_EQ(s.Text(), before);
        EXPECT_EQ(assigned.Text() == s.Text(), heap || !c.notNull);
        EXPECT_EQ(s.Body()->ShareCount(), heap ? 2 : c.sharesAfterTwoCopies);
        EXPECT_EQ(copied.Body()->ShareCount(), 1);
    }

    // The inline boundary both ways.
    QlStr grown(k12);
    grown.AppendChar(QL('m'));
    EXPECT_FALSE(grown.Body()->IsInline());
    grown.DropLast();
    EXPECT_TRUE(grown.Body()->IsInline());
    EXPECT_EQ(qlShowText(grown), "abcdefghijkl");
    QlStr shortened(k20);
    shortened.SetLength(12);
    EXPECT_TRUE(shortened.Body()->IsInline());
    EXPECT_EQ(qlShowText(shortened), "abcdefghijkl");

    // Moves hand the body over and leave a usable null string behind.
    QlStr source(k20);
    const QlChar* text = source.Text();
    QlStr moved(std::move(source));
    EXPECT_EQ(moved.Text(), text);
    EXPECT_TRUE(source.IsNull());
    source = QL("again");
    EXPECT_EQ(qlShowText(source), "again");
    EXPECT_EQ(qlShowReports(), "");
}

TEST(QlStr, ShareCountStopsAt7FFF)
{
    qlShowReports();
    QlStr original(k20);
    std::vector<QlStr> copies(kQlStrShareMax - 1, original);
    EXPECT_EQ(original.Body()->ShareCount(), kQlStrShareMax);
    EXPECT_EQ(copies.back().Text(), original.Text());

    // At the limit, copies and assignments get their own text.
    QlStr copied(original);
    QlStr assigned;
    assigned = original;
    EXPECT_NE(copied.Text(), original.Text());
    EXPECT_NE(assigned.Text(), original.Text());
    EXPECT_TRUE(copied == original && assigned == original);
    EXPECT_EQ(copied.Body()->ShareCount(), 1);
    EXPECT_EQ(original.Body()->ShareCount(), kQlStrShareMax);

    copies.clear();
    EXPECT_EQ(original.Body()->ShareCount(), 1);
    EXPECT_EQ(qlShowReports(), "");
}

TEST(QlStr, PoolReusesBodyBlocksOldestFirst)
{
    bool wasOn = qlGutzEnablePool();
    qlGutzFreePool();
    EXPECT_TRUE(qlGutzEnablePool());

    const QlStrBody* first;
    const QlStrBody* second;
    {
        auto a = std::make_unique<QlStr>(QL("a"));
        auto b = std::make_unique<QlStr>(k20);
        first = a->Body();
        second = b->Body();
        a.reset();
        b.reset();
        EXPECT_EQ(qlGutzPoolCount(), 2);
    }
    QlStr reusedFirst(QL("x"));
    QlStr reusedSecond(QL("y"));
    EXPECT_EQ(reusedFirst.Body(), first);
    EXPECT_EQ(reusedSecond.Body(), second);
    EXPECT_EQ(qlGutzPoolCount(), 0);

    // Switched off, the pool neither takes nor gives blocks.
    EXPECT_TRUE(qlGutzDisablePool());
    EXPECT_FALSE(qlGutzDisablePool());
    { QlStr goesToHeap(QL("z")); }
    EXPECT_EQ(qlGutzPoolCount(), 0);

    qlGutzEnablePool();
    { QlStr pooled(QL("z")); }
    EXPECT_EQ(qlGutzPoolCount(), 1);
    qlGutzFreePool();
    EXPECT_EQ(qlGutzPoolCount(), 0);
    if (!wasOn)
        qlGutzDisablePool();
}

// ---------------------------------------------------------------------------

struct BuildCase {
    const char* name;
    std::function<QlStr()> build;
    const char* expected;
};

TEST(QlStr, ConstructionAppendingAndConcatenation)
{
    qlShowReports();
    const QlChar* const noText = nullptr;
    const BuildCase cases[] = {
        {"default is empty", [] { return QlStr(); }, ""},
        {"CtorNull", [] { return QlStr::CtorNull(); }, "<null>"},
        {"CtorText of null", [=] { return QlStr::CtorText(noText); }, "<null>"},
        {"counted", [] { return QlStr(QL("abc"), 2); }, "ab"},
        {"counted from null", [=] { return QlStr(noText, 3); }, "<null>"},
        {"CtorCopyOrEmpty of null", [] { return QlStr::CtorCopyOrEmpty(QlStr::CtorNull()); }, ""},
        {"CtorRepeat 0", [] { return QlStr::CtorRepeat(QL('*'), 0); }, "<null>"},
        {"CtorRepeat 14", [] { return QlStr::CtorRepeat(QL('*'), 14); }, "**************"},
        {"CtorRepeatNarrow ANSI", [] { return QlStr::CtorRepeatNarrow('\xE9', 2, 1); },
         "\\u00E9\\u00E9"},
        {"CtorRepeatNarrow OEM", [] { return QlStr::CtorRepeatNarrow('\x82', 1, 0); }, "\\u00E9"},
        {"CtorNarrow", [] { return QlStr::CtorNarrow("abc", 1); }, "abc"},
        {"CtorNarrow empty", [] { return QlStr::CtorNarrow("", 1); }, ""},
        {"CtorNarrow null", [] { return QlStr::CtorNarrow(nullptr, 1); }, "<null>"},
        {"counted narrow", [] { return QlStr("abcdef", 3, 1); }, "abc"},
        {"counted narrow keeps a NUL", [] { return QlStr("a\0b", 3, 1); }, "a\\u0000b"},
        {"counted narrow, 0 bytes", [] { return QlStr("abc", 0, 1); }, ""},
        {"append to null", [] { return QlStr::CtorNull().AppendText(QL("x")); }, "x"},
        {"append null to null", [] { return QlStr::CtorNull().Append(QlStr::CtorNull()); },
         "<null>"},
        {"append null to empty", [] { return QlStr().Append(QlStr::CtorNull()); }, ""},
        {"append empty to null", [] { return QlStr::CtorNull().AppendText(QL("")); }, ""},
        {"append char, 12 to 13", [=] { return QlStr(k12).AppendChar(QL('m')); },
         "abcdefghijklm"},
        {"AddNarrow UTF-8", [] { return QlStr(QL("x")).AddNarrow("\xE2\x82\xAC", 3); },
         "x\\u20AC"},
        {"AppendAnsi", [] { return QlStr(QL("x")).AppendAnsi("\x80"); }, "x\\u20AC"},
        {"+=", [] { QlStr s(QL("a")); s += QL("b"); s += QL('c'); s += QlStr(QL("d")); return s; },
         "abcd"},
        {"concat empty first", [] { return qlStrConcat(QlStr(), QlStr(QL("b"))); }, "b"},
        {"concat empty first, null second", [] { return qlStrConcat(QlStr(), QlStr::CtorNull()); },
         "<null>"},
        {"concat null second", [] { return qlStrConcat(QlStr(QL("a")), QlStr::CtorNull()); }, "a"},
        {"concat", [=] { return qlStrConcat(QlStr(k12), QlStr(QL("m"))); }, "abcdefghijklm"},
        {"ConcatText", [] { return QlStr(QL("a")).ConcatText(QL("bc")); }, "abc"},
        {"ConcatText null", [=] { return QlStr(QL("a")).ConcatText(noText); }, "a"},
        {"ConcatChar on null", [] { return QlStr::CtorNull().ConcatChar(QL('z')); }, "z"},
        {"operator+", [] { return QL("<") + QlStr(QL("a")) + QL('>') + QL("!"); }, "<a>!"},
        {"AssignAnsi", [] { return QlStr(QL("old")).AssignAnsi("\xE9t\xE9"); },
         "\\u00E9t\\u00E9"},
        {"AssignAnsi null", [] { return QlStr(QL("old")).AssignAnsi(nullptr); }, "<null>"},
        {"SetNull", [] { return QlStr(QL("old")).SetNull(); }, "<null>"},
        {"Clear", [] { return QlStr::CtorNull().Clear(); }, ""},
        {"SetLength grows with NULs", [] { return QlStr(QL("ab")).SetLength(4); },
         "ab\\u0000\\u0000"},
        {"join", [] { return qlGutzJoin(QL("abc"), 2, QL("xyz"), 1); }, "abx"},
        {"join of nothing", [] { return qlGutzJoin(nullptr, 0, nullptr, 0); }, ""},
    };
    for (const BuildCase& c : cases) {
        EXPECT_EQ(qlShowText(c.build()), c.expected) << c.name;
        EXPECT_EQ(qlShowReports(), "") << c.name;
    }

    // An empty operand gives a copy, which shares the other's heap text.
    QlStr heap(k20);
    EXPECT_EQ(qlStrConcat(QlStr(), heap).Text(), heap.Text());
    EXPECT_EQ(qlStrConcat(heap, QlStr()).Text(), heap.Text());

    // Queries on the three states.
    QlStr abc(QL("abc"));
    EXPECT_EQ(abc.CharAt(0), QL('a'));
    EXPECT_EQ(abc.CharAt(3), 0);
    EXPECT_EQ(abc.FirstChar(), QL('a'));
    EXPECT_EQ(abc.LastChar(), QL('c'));
    EXPECT_EQ(abc.ByteLength(), 6);
    EXPECT_EQ(QlStr::CtorNull().LastChar(), 0);
    EXPECT_FALSE(abc.HasNonAscii());
    EXPECT_TRUE(QlStr(QL("a\u0080")).HasNonAscii());
    EXPECT_EQ(qlShowReports(), "");
}

// ---------------------------------------------------------------------------

struct AliasCase {
    const char* name;
    const QlChar* initial;
    std::function<void(QlStr&)> change;
    const char* expected;
};

// Sources that lie inside the string's own storage must be read before the
// old storage goes. Each case runs on an unshared and on a shared text.
TEST(QlStr, OwnTextAsSourceIsSafe)
{
    qlShowReports();
    const AliasCase cases[] = {
        {"assign own suffix, heap to heap", k20, [](QlStr& s) { s.AssignText(s.Text() + 2); },
         "cdefghijklmnopqrst"},
        {"assign own suffix, heap to inline", k20, [](QlStr& s) { s.AssignText(s.Text() + 10); },
         "klmnopqrst"},
        {"assign own suffix, inline", QL("abcdef"), [](QlStr& s) { s.AssignText(s.Text() + 2); },
         "cdef"},
        {"assign own text", k20, [](QlStr& s) { s.AssignText(s.Text()); }, "abcdefghijklmnopqrst"},
        {"append own text, inline to heap", QL("abcdefgh"),
         [](QlStr& s) { s.AppendText(s.Text()); }, "abcdefghabcdefgh"},
        {"append own text, inline", QL("abc"), [](QlStr& s) { s.AppendText(s.Text()); },
         "abcabc"},
        {"append own text, heap", k13, [](QlStr& s) { s.AppendText(s.Text()); },
         "abcdefghijklmabcdefghijklm"},
        {"append own tail", k20, [](QlStr& s) { s.AppendText(s.Text() + 17); },
         "abcdefghijklmnopqrstrst"},
        {"append itself", k13, [](QlStr& s) { s.Append(s); }, "abcdefghijklmabcdefghijklm"},
        {"assign itself", k20, [](QlStr& s) { s.Assign(s); }, "abcdefghijklmnopqrst"},
        {"trim left, heap to inline", QL("          abcdef"), [](QlStr& s) { s.TrimLeft(); },
         "abcdef"},
        {"trim left, heap to heap", QL("  abcdefghijklmnop"), [](QlStr& s) { s.TrimLeft(); },
         "abcdefghijklmnop"},
        {"trim right, heap to inline", QL("abc              "), [](QlStr& s) { s.TrimRight(); },
         "abc"},
        {"unquote", QL(" \"abcdefghijklmnop\" "), [](QlStr& s) { s.Unquote(); },
         "abcdefghijklmnop"},
        {"keep a middle range", k20, [](QlStr& s) { s.KeepRange(3, 14); }, "defghijklmnopq"},
        {"drop first", k13, [](QlStr& s) { s.DropFirst(); }, "bcdefghijklm"},
        {"split into itself", QL("abcdefghij\\klmnopq"),
         [](QlStr& s) { s.SplitAt(s, QL('\\'), 2); }, "abcdefghij"},
        {"pop a path element into itself", QL("abcdefghijklmn\\op"),
         [](QlStr& s) { s.PopPathElement(s); }, "op"},
        {"quote", k20, [](QlStr& s) { s.Quote(); }, "\"abcdefghijklmnopqrst\""},
        {"count of own units", k20, [](QlStr& s) { s = QlStr(s.Text() + 5, 13); },
         "fghijklmnopqr"},
    };
    for (const AliasCase& c : cases) {
        for (bool shared : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (shared ? ", shared" : ""));
            QlStr s(c.initial);
            std::unique_ptr<QlStr> other;
            if (shared)
                other = std::make_unique<QlStr>(s);
            c.change(s);
            EXPECT_EQ(qlShowText(s), c.expected);
            if (other) {
                EXPECT_EQ(qlShowText(*other), qlShowText(QlStr(c.initial)));
            }
            EXPECT_EQ(qlShowReports(), "");
        }
    }
}

// ---------------------------------------------------------------------------

struct ReportCase {
    const char* name;
    std::function<std::string()> run;
    const char* expected;
    const char* source;
    int line;
};

// After the report, nothing is read or written out of bounds and the result
// is the string unchanged or an empty one.
TEST(QlStr, InvalidArgumentsAreReportedAndHarmless)
{
    qlShowReports();
    const QlStr abc(QL("abc"));
    const QlStr long5001 = QlStr::CtorRepeat(QL('x'), 5001);
    const QlStr euro2000 = QlStr::CtorRepeat(QL('\u20AC'), 2000);  // 6000 bytes of UTF-8
    const ReportCase cases[] = {
        {"negative length", [] { return qlShowText(QlStr(QL("abc")).SetLength(-1)); }, "abc", "QlGutz",
         kGutzNegativeLength},
        {"negative count", [] { return qlShowText(QlStr(QL("abc"), -3)); }, "<null>", "QlGutz",
         kGutzNegativeLength},
        {"narrow count below -1", [] { return qlShowText(QlStr("abc", -2, 1)); }, "<null>", "QlGutz",
         kGutzNarrowCount},
        {"CharAt before the start", [=] { return std::to_string(abc.CharAt(-1)); }, "0",
         "QlString", kStringCharAt},
        {"CharAt past the end", [=] { return std::to_string(abc.CharAt(4)); }, "0", "QlString",
         kStringCharAt},
        {"CharAt of null", [] { return std::to_string(QlStr::CtorNull().CharAt(0)); }, "0",
         "QlString", kStringCharAt},
        {"KeepRange past the end", [] { return qlShowText(QlStr(k20).KeepRange(10, 11)); },
         "abcdefghijklmnopqrst", "QlGutz", kGutzKeepRange},
        {"KeepRange count above length", [] { return qlShowText(QlStr(QL("abc")).KeepRange(0, 4)); },
         "abc", "QlGutz", kGutzKeepRange},
        {"KeepRange negative start", [] { return qlShowText(QlStr(QL("abc")).KeepRange(-1, 1)); },
         "abc", "QlGutz", kGutzKeepRange},
        {"unequal translation sets",
         [] { return qlShowText(QlStr(QL("abc")).TranslateChars(QL("ab"), QL("x"))); }, "abc",
         "QlGutz", kGutzTranslateSets},
        {"Left negative", [=] { return qlShowText(abc.Left(-1)); }, "", "QlGutz", kGutzLeftCount},
        {"Mid negative start", [=] { return qlShowText(abc.Mid(-1, 2)); }, "", "QlGutz", kGutzMidRange},
        {"Mid negative count", [=] { return qlShowText(abc.Mid(1, -2)); }, "", "QlGutz", kGutzMidRange},
        {"MidFrom negative", [=] { return qlShowText(abc.MidFrom(-1)); }, "", "QlGutz",
         kGutzMidFromStart},
        {"Find negative start", [=] { return std::to_string(abc.Find(QL("a"), -1)); }, "-1",
         "QlGutz", kGutzFindStart},
        {"FindLastChar negative", [=] { return std::to_string(abc.FindLastChar(QL('a'), -1)); },
         "-1", "QlGutz", kGutzFindLastPosition},
        {"match mode 3", [=] { return std::to_string(abc.MatchNoCase(abc, 3)); }, "0", "QlGutz",
         kGutzMatchMode},
        {"split mode 3",
         [] {
             QlStr s(QL("a\\b")), second(QL("old"));
             bool split = s.SplitAt(second, QL('\\'), 3);
             return std::to_string(split) + qlShowText(s) + "|" + qlShowText(second);
         },
         "0a\\b|", "QlGutz", kGutzSplitMode},
        {"append null text", [] { return qlShowText(QlStr(QL("a")).AppendText(nullptr)); }, "a",
         "QlString", kStringAppendNull},
        {"AddNarrow null text", [] { return qlShowText(QlStr(QL("a")).AddNarrow(nullptr, 1)); }, "a",
         "QlString", kStringAppendNull},
        {"selector 2 is taken as ANSI", [] { return qlShowText(QlStr("\x80", 2)); }, "\\u20AC",
         "QlGutz", kGutzBadSelector},
        {"QlStrNarrow selector 5 is empty",
         [=] {
             QlStrNarrow narrow(abc, 5);
             return qlShowBytes(narrow.Text()) + "/" + std::to_string(narrow.Length());
         },
         "/0", "QlGutz", kGutzNarrowSelector},
        {"first narrow char, selector 3", [=] { return std::to_string(abc.FirstNarrowChar(3)); },
         "0", "QlGutz", kGutzCharSelector},
        {"radix 1", [] { return qlShowText(QlStr(int32_t(5), 1)); }, "", "QlGutz", kGutzRadix},
        {"radix 37", [] { return qlShowText(QlStr(uint32_t(5), 37)); }, "", "QlGutz", kGutzRadix},
        {"join with a negative count", [] { return qlShowText(qlGutzJoin(QL("a"), -1, QL("b"), 1)); },
         "", "QlGutz", kGutzJoinCount},
        {"compare a null text",
         [] { return std::to_string(qlGutzCompareNoCaseSlash(nullptr, QL("a"))); }, "-1",
         "QlGutz", kGutzCompareNull},
        {"find in a null text", [] { return std::to_string(qlGutzFindNoCase(nullptr, QL("a"))); },
         "-1", "QlGutz", kGutzFindNull},
        {"ANSI view of 5001 units", [=] { return qlShowBytes(long5001.ToAnsi()); }, "", "QlGutz",
         kGutzViewTooLong},
        {"UTF-8 view past 5000 bytes", [=] { return qlShowBytes(euro2000.ToUtf8Static()); }, "",
         "QlGutz", kGutzViewResult},
        {"counted copy past its target",
         [] {
             QlChar target[3] = {QL('x'), QL('x'), QL('x')};
             bool copied = qlGutzCopyUnits(target, 2, QL("abc"), 3);
             return std::to_string(copied) + qlShowText(target, 3);
         },
         "0\\u0000\\u0000x", "QlGutz", kGutzCopyUnits},
    };
    for (const ReportCase& c : cases) {
        EXPECT_EQ(c.run(), c.expected) << c.name;
        EXPECT_EQ(qlShowReports(), Assert(c.source, c.line)) << c.name;
    }
}

// ---------------------------------------------------------------------------

struct ToIntCase {
    const QlChar* text;
    int32_t expected;
};

struct NumberTextCase {
    int64_t value;  // a negative value is signed, else unsigned
    bool isSigned;
    int radix;
    const char* expected;
};

TEST(QlStr, NumbersBothWays)
{
    qlShowReports();
    const ToIntCase toInt[] = {
        {QL("123456789"), 123456789},
        {QL("-5"), -5},
        {QL("+"), 0},  // a lone sign passes the check and reads as 0
        {QL("-"), 0},
        {QL("7"), 7},
        {QL("+12"), 12},
        {QL("-123456789"), -123456789},
        {QL("000000009"), 9},
        {QL(""), INT32_MIN},
        {nullptr, INT32_MIN},
        {QL("12a"), INT32_MIN},
        {QL("1234567890"), INT32_MIN},  // ten digits
        {QL("a"), INT32_MIN},
        {QL(" 5"), INT32_MIN},
        {QL("5-"), INT32_MIN},
        {QL("++5"), INT32_MIN},
    };
    for (const ToIntCase& c : toInt) {
        SCOPED_TRACE(qlShowText(QlStr(c.text)));
        EXPECT_EQ(QlStr(c.text).ToInt(), c.expected);
        EXPECT_EQ(qlGutzIsNumber(c.text), c.expected != INT32_MIN);
    }

    const NumberTextCase toText[] = {
        {0, true, 10, "0"},
        {-5, true, 10, "-5"},
        {INT32_MIN, true, 10, "-2147483648"},
        {INT32_MAX, true, 10, "2147483647"},
        {-1, true, 16, "ffffffff"},  // only radix 10 shows a sign
        {-2, true, 2, "11111111111111111111111111111110"},
        {255, false, 2, "11111111"},
        {0xFFFFFFFFu, false, 10, "4294967295"},
        {35, false, 36, "z"},
        {0xABCDEF, false, 16, "abcdef"},
    };
    for (const NumberTextCase& c : toText) {
        QlStr text = c.isSigned ? QlStr(static_cast<int32_t>(c.value), c.radix)
                                : QlStr(static_cast<uint32_t>(c.value), c.radix);
        EXPECT_EQ(qlShowText(text), c.expected);
    }
    EXPECT_EQ(qlShowReports(), "");
}

// ---------------------------------------------------------------------------

struct ToWideCase {
    int selector;
    const char* bytes;
    const char* expected;
};

struct ToNarrowCase {
    int selector;
    const QlChar* text;
    const char* expected;
    int narrowLength;
};

TEST(QlStr, NarrowConversionsThroughSelectors)
{
    qlShowReports();
    const ToWideCase toWide[] = {
        {1, "caf\xE9", "caf\\u00E9"},
        {1, "\x80\x81\x9F", "\\u20AC\\u0081\\u0178"},
        {7, "\x80", "\\u20AC"},  // unknown selectors are ANSI
        {0, "\x82\x9B\xE1\xFE", "\\u00E9\\u00A2\\u00DF\\u25A0"},
        {0, "\x01\x7F", "\\u0001\\u007F"},  // control bytes stay controls
        {3, "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\\u00E9\\u20AC\\uD83D\\uDE00"},
        // Invalid UTF-8: one U+FFFD per rejected piece, as Windows does.
        {3, "\x80", "\\uFFFD"},
        {3, "a\xC3", "a\\uFFFD"},
        {3, "\xED\xA0\x80", "\\uFFFD\\uFFFD"},
        {3, "\xC0\xAF", "\\uFFFD\\uFFFD"},
        {3, "\xE2\x82", "\\uFFFD"},
        {3, "\xF4\x90\x80\x80", "\\uFFFD\\uFFFD\\uFFFD"},
        {3, "\xE0\x80\xAF", "\\uFFFD\\uFFFD"},
        {3, "\xF8\x88\x80\x80\x80", "\\uFFFD\\uFFFD\\uFFFD\\uFFFD\\uFFFD"},
        {3, "\xE2\x82" "a", "\\uFFFDa"},
        {3, "\xF0\x9F\x98" "a", "\\uFFFDa"},
    };
    for (const ToWideCase& c : toWide) {
        SCOPED_TRACE(qlShowBytes(c.bytes));
        EXPECT_EQ(qlShowText(QlStr(c.bytes, c.selector)), c.expected);
        QlStrWide wide(c.bytes, c.selector);
        EXPECT_EQ(qlShowText(wide.Text(), wide.Length()), c.expected);
    }

    const ToNarrowCase toNarrow[] = {
        {1, QL("caf\u00E9"), "caf\\xE9", 4},
        {1, QL("\u20AC\u0100\u0081"), "\\x80?\\x81", 3},  // no best fit: U+0100 is '?'
        {0, QL("\u00E9\u20AC\u25A0"), "\\x82?\\xFE", 3},
        {3, QL("\u00E9\u20AC\U0001F600"), "\\xC3\\xA9\\xE2\\x82\\xAC\\xF0\\x9F\\x98\\x80", 9},
        {3, QL("\xD800" "a"), "\\xEF\\xBF\\xBDa", 4},  // a lone surrogate
        {3, QL("a\xDC00"), "a\\xEF\\xBF\\xBD", 4},
    };
    for (const ToNarrowCase& c : toNarrow) {
        QlStr text(c.text);
        SCOPED_TRACE(qlShowText(text));
        QlStrNarrow narrow(text, c.selector);
        EXPECT_EQ(qlShowBytes(narrow.Text()), c.expected);
        EXPECT_EQ(narrow.Length(), c.narrowLength);
        int measured = c.selector == 0 ? text.OemLength()
                       : c.selector == 1 ? text.AnsiLength() : text.Utf8Length();
        EXPECT_EQ(measured, c.narrowLength);
        if (c.selector == 1) {
            EXPECT_EQ(qlShowBytes(text.ToAnsi()), c.expected);
        }
        if (c.selector == 3) {
            EXPECT_EQ(qlShowBytes(text.ToUtf8Static()), c.expected);
        }
    }

    // Null stays null, views of null are "".
    QlStr null = QlStr::CtorNull();
    EXPECT_EQ(QlStrNarrow(null, 1).Text(), nullptr);
    EXPECT_EQ(QlStrWide(nullptr, 1).Text(), nullptr);
    EXPECT_STREQ(null.ToAnsi(), "");
    EXPECT_EQ(null.AnsiLength(), 0);
    EXPECT_EQ(qlShowBytes(QlStrNarrow(QlStr(), 3).Text()), "");

    // One unit at a time.
    QlStr eAcute(QL("\u00E9"));
    EXPECT_EQ(static_cast<unsigned char>(eAcute.FirstNarrowChar(0)), 0x82);
    EXPECT_EQ(static_cast<unsigned char>(eAcute.FirstNarrowChar(1)), 0xE9);
    EXPECT_EQ(QlStr().FirstNarrowChar(1), 0);
    EXPECT_EQ(qlGutzCharToWide('\x9B', 0), QL('\u00A2'));
    EXPECT_EQ(qlGutzCharToNarrow(QL('\u0100'), 1), '?');
    EXPECT_EQ(qlShowReports(), "");
}

TEST(QlStr, NarrowViewsRotateThroughSixBuffers)
{
    qlShowReports();
    QlStr first(QL("first"));
    const char* views[7];
    views[0] = first.ToAnsi();
    // The UTF-8 view advances the same index.
    for (int i = 1; i < 6; ++i)
        views[i] = i % 2 ? QlStr(QL("utf8")).ToUtf8Static() : QlStr(QL("ansi")).ToAnsi();
    EXPECT_STREQ(views[0], "first");
    views[6] = QlStr(QL("seventh")).ToAnsi();
    EXPECT_EQ(views[6], views[0]);
    EXPECT_STREQ(views[0], "seventh");
    for (int i = 0; i < 6; ++i) {
        for (int j = i + 1; j < 6; ++j)
            EXPECT_NE(views[i], views[j]);
    }
    EXPECT_STREQ(views[1], "utf8");
    EXPECT_EQ(qlShowReports(), "");
}

}  // namespace
