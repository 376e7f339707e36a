// Text utilities of QlStr: path-aware comparison, search, tests, in-place
// changes and parts. Case rules are msvcrt's in the C locale (only A-Z and
// a-z change case), natively and under Wine alike.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "common/QlString.h"
#include "tests/support/RecordingHooks.h"
#include "tests/support/TextShow.h"

namespace {

struct IntCase {
    const char* name;
    std::function<int()> run;
    int expected;
};

void RunIntCases(const IntCase* cases, size_t count)
{
    qlTakeHookReports();
    for (size_t i = 0; i < count; ++i) {
        EXPECT_EQ(cases[i].run(), cases[i].expected) << cases[i].name;
        EXPECT_TRUE(qlTakeHookReports().empty()) << cases[i].name;
    }
}

QlStr S(const QlChar* text)
{
    return QlStr(text);
}

const QlStr kNull = QlStr::CtorNull();

TEST(QlStrText, ComparisonAndEquality)
{
    const IntCase cases[] = {
        {"compare: two nulls", [] { return qlStrCompare(kNull, kNull); }, 0},
        {"compare: null before empty", [] { return qlStrCompare(kNull, S(QL(""))); }, -1},
        {"compare: empty after null", [] { return qlStrCompare(S(QL("")), kNull); }, 1},
        {"compare: prefix first", [] { return qlStrCompare(S(QL("ab")), S(QL("abc"))); }, -1},
        {"compare: by unsigned unit", [] { return qlStrCompare(S(QL("\u00E9")), S(QL("z"))); }, 1},
        {"compare: high unit", [] { return qlStrCompare(S(QL("\uFFFF")), S(QL("a"))); }, 1},
        {"compare: case counts", [] { return qlStrCompare(S(QL("A")), S(QL("a"))); }, -1},
        {"compare: equal", [] { return qlStrCompare(S(QL("abc")), S(QL("abc"))); }, 0},
        {"no case: equal", [] { return qlStrCompareNoCase(S(QL("ABC")), S(QL("abc"))); }, 0},
        {"no case: order", [] { return qlStrCompareNoCase(S(QL("a")), S(QL("B"))); }, -1},
        {"no case: lower forms", [] { return qlStrCompareNoCase(S(QL("_")), S(QL("A"))); }, -1},
        {"no case: Latin-1 keeps case",
         [] { return qlStrCompareNoCase(S(QL("\u00C9")), S(QL("\u00E9"))); }, -1},
        {"no case: null first", [] { return qlStrCompareNoCase(kNull, S(QL("a"))); }, -1},
        {"no case, 3 units", [] { return qlStrCompareNoCaseN(S(QL("abcX")), S(QL("ABCy")), 3); },
         0},
        {"no case, 4 units", [] { return qlStrCompareNoCaseN(S(QL("abcX")), S(QL("ABCy")), 4); },
         -1},
        {"path-aware: slashes and case",
         [] { return qlGutzCompareNoCaseSlash(QL("C:\\Dir/File"), QL("c:/dir\\FILE")); }, 0},
        {"path-aware: difference of lower forms",
         [] { return qlGutzCompareNoCaseSlash(QL("ab"), QL("a")); }, 'b'},
        {"path-aware: separator against another unit",
         [] { return qlGutzCompareNoCaseSlash(QL("a\\"), QL("a_")); }, '\\' - '_'},
        {"path-aware, 3 units",
         [] { return qlGutzCompareNoCaseSlashN(QL("abcX"), QL("ABCy"), 3); }, 0},
        {"path-aware, 0 units", [] { return qlGutzCompareNoCaseSlashN(QL("a"), QL("b"), 0); }, 0},
        {"path-aware, past both ends",
         [] { return qlGutzCompareNoCaseSlashN(QL("ab"), QL("AB"), 9); }, 0},
        {"path-aware strings: null first",
         [] { return qlGutzCompareStrNoCaseSlashN(kNull, S(QL("a")), 1); }, -1},
        {"equal no case: path",
         [] { return qlStrEqualNoCase(S(QL("c:\\dir\\file")), S(QL("C:/DIR/FILE"))); }, 1},
        {"equal no case: lengths differ",
         [] { return qlStrEqualNoCase(S(QL("abc")), S(QL("ABCD"))); }, 0},
        {"equal no case: two nulls", [] { return qlStrEqualNoCase(kNull, kNull); }, 1},
        {"equal no case: null and empty", [] { return qlStrEqualNoCase(kNull, S(QL(""))); }, 0},
        {"not equal no case", [] { return qlStrNotEqualNoCase(S(QL("a/")), S(QL("A\\"))); }, 0},
        {"exact: null and empty", [] { return qlStrNotEqual(kNull, S(QL(""))); }, 1},
        {"exact: same units", [] { return S(QL("abc")) == QL("abc"); }, 1},
        {"exact: null and null pointer", [] { return kNull == static_cast<const QlChar*>(nullptr); },
         1},
        {"EqualsNoCase text", [] { return S(QL("ABC/d")).EqualsNoCase(QL("abc\\D")); }, 1},
        {"EqualsNoCase two nulls", [] { return kNull.EqualsNoCase(nullptr); }, 1},
        {"EqualsNoCase null text", [] { return S(QL("")).EqualsNoCase(nullptr); }, 0},
        {"equal to ANSI text", [] { return S(QL("Caf\u00E9")).EqualsNoCaseAnsi("CAF\xE9"); }, 1},
        {"match: ends with, last unit / for \\",
         [] { return S(QL("C:\\dir\\sub\\")).MatchNoCase(S(QL("SUB/")), 1); }, 1},
        {"match: starts with", [] { return S(QL("C:\\dir")).MatchNoCase(S(QL("c:/")), 0); }, 1},
        {"match: contains", [] { return S(QL("C:\\dir\\x")).MatchNoCase(S(QL("DIR/")), 2); }, 1},
        {"match: contains, absent", [] { return S(QL("C:\\dir")).MatchNoCase(S(QL("dirt")), 2); },
         0},
        {"match: shorter than other", [] { return S(QL("ab")).MatchNoCase(S(QL("abc")), 0); }, 0},
        {"match: null other", [] { return kNull.MatchNoCase(kNull, 1); }, 1},
        {"match: null this", [] { return kNull.MatchNoCase(S(QL("")), 0); }, 0},
        {"match: empty other", [] { return S(QL("abc")).MatchNoCase(S(QL("")), 2); }, 1},
        {"find no case", [] { return qlGutzFindNoCase(QL("C:\\Dir\\File"), QL("dir/f")); }, 3},
        {"find no case, empty pattern", [] { return qlGutzFindNoCase(QL("abc"), QL("")); }, 0},
        {"find no case, absent", [] { return qlGutzFindNoCase(QL("abc"), QL("bd")); }, -1},
    };
    RunIntCases(cases, sizeof cases / sizeof cases[0]);
}

TEST(QlStrText, SearchAndTests)
{
    const IntCase cases[] = {
        {"find", [] { return S(QL("abcabc")).Find(QL("bc")); }, 1},
        {"find from 2", [] { return S(QL("abcabc")).Find(QL("bc"), 2); }, 4},
        {"find, pattern longer", [] { return S(QL("abc")).Find(QL("abcd")); }, -1},
        {"find, start past the end", [] { return S(QL("abc")).Find(QL("c"), 5); }, -1},
        {"find empty pattern inside", [] { return S(QL("abc")).Find(QL(""), 1); }, 1},
        {"find null pattern at the end", [] { return S(QL("abc")).Find(nullptr, 3); }, -1},
        {"find in null", [] { return kNull.Find(QL("a")); }, -1},
        {"find narrow", [] { return S(QL("un caf\u00E9")).FindNarrow("caf\xE9", 0, 1); }, 3},
        {"find last char, position clamped",
         [] { return S(QL("a\\b\\c")).FindLastChar(QL('\\'), 99); }, 3},
        {"find last char at or before 2", [] { return S(QL("a\\b\\c")).FindLastChar(QL('\\'), 2); },
         1},
        {"find last char, absent before", [] { return S(QL("a\\b\\c")).FindLastChar(QL('\\'), 0); },
         -1},
        {"find last char in empty", [] { return S(QL("")).FindLastChar(QL('a'), 0); }, -1},
        {"contains char", [] { return S(QL("abc")).ContainsChar(QL('c')); }, 1},
        {"contains NUL", [] { return S(QL("abc")).ContainsChar(0); }, 0},
        {"contains any of", [] { return S(QL("a*b")).ContainsAnyOf(QL("?*")); }, 1},
        {"contains none of", [] { return S(QL("ab")).ContainsAnyOf(QL("?*")); }, 0},
        {"contains any of, null", [] { return kNull.ContainsAnyOf(QL("?*")); }, 0},
        {"has blank", [] { return S(QL("a b")).HasBlank(); }, 1},
        {"tab is no blank", [] { return S(QL("a\tb")).HasBlank(); }, 0},
        {"all upper", [] { return S(QL("ABC 1")).IsAllUpper(); }, 1},
        {"not all upper", [] { return S(QL("ABc")).IsAllUpper(); }, 0},
        {"all upper: no letters", [] { return S(QL("123")).IsAllUpper(); }, 1},
        {"all upper: empty", [] { return S(QL("")).IsAllUpper(); }, 0},
        {"all upper: Latin-1", [] { return S(QL("\u00C9COLE")).IsAllUpper(); }, 1},
        {"all upper: sharp s is lower", [] { return S(QL("STRA\u00DFE")).IsAllUpper(); }, 0},
        {"dot entry .", [] { return S(QL(".")).IsDotEntry(); }, 1},
        {"dot entry ..", [] { return S(QL("..")).IsDotEntry(); }, 1},
        {"dot entry ...", [] { return S(QL("...")).IsDotEntry(); }, 0},
        {"slash /", [] { return S(QL("/")).IsSlash(); }, 1},
        {"slash \\", [] { return S(QL("\\")).IsSlash(); }, 1},
        {"slash //", [] { return S(QL("//")).IsSlash(); }, 0},
        {"drive c:", [] { return S(QL("c:")).IsDriveSpec(); }, 1},
        {"drive Z:", [] { return S(QL("Z:")).IsDriveSpec(); }, 1},
        {"drive 1:", [] { return S(QL("1:")).IsDriveSpec(); }, 0},
        {"drive c:\\", [] { return S(QL("c:\\")).IsDriveSpec(); }, 0},
        {"drive with a Latin-1 letter", [] { return S(QL("\u00E9:")).IsDriveSpec(); }, 0},
        {"UNC root", [] { return S(QL("\\\\server\\share")).IsUncRoot(); }, 1},
        {"UNC root, short", [] { return S(QL("\\\\s\\x")).IsUncRoot(); }, 1},
        {"UNC root with a trailing slash", [] { return S(QL("\\\\server\\share\\")).IsUncRoot(); },
         0},
        {"UNC server only", [] { return S(QL("\\\\server")).IsUncRoot(); }, 0},
        {"UNC folder", [] { return S(QL("\\\\server\\share\\dir")).IsUncRoot(); }, 0},
        {"UNC with a forward slash", [] { return S(QL("\\\\server/share")).IsUncRoot(); }, 0},
        {"quoted", [] { return S(QL("\"a\"")).IsQuoted(); }, 1},
        {"quoted within blanks", [] { return S(QL("  \"a b\"  ")).IsQuoted(); }, 1},
        {"two quotes", [] { return S(QL("\"\"")).IsQuoted(); }, 1},
        {"one quote", [] { return S(QL(" \" ")).IsQuoted(); }, 0},
        {"quote at the end only", [] { return S(QL("a\"")).IsQuoted(); }, 0},
    };
    RunIntCases(cases, sizeof cases / sizeof cases[0]);
}

struct ChangeCase {
    const char* name;
    const QlChar* input;
    std::function<void(QlStr&)> change;
    const char* expected;
};

// Each change runs on one of two copies: the other copy keeps the old text,
// and a change that finds nothing to do leaves the text shared.
TEST(QlStrText, InPlaceChangesCopyOnlyWhatChanges)
{
    qlTakeHookReports();
    const ChangeCase cases[] = {
        {"upper", QL("path\\to\\file.txt"), [](QlStr& s) { s.MakeUpper(); }, "PATH\\TO\\FILE.TXT"},
        {"upper, nothing to do", QL("ALREADY UPPER 1"), [](QlStr& s) { s.MakeUpper(); },
         "ALREADY UPPER 1"},
        {"upper leaves Latin-1", QL("caf\u00E9 au lait"), [](QlStr& s) { s.MakeUpper(); },
         "CAF\\u00E9 AU LAIT"},
        {"lower", QL("MIXED Case TEXT"), [](QlStr& s) { s.MakeLower(); }, "mixed case text"},
        {"lower, nothing to do", QL("already lower 1"), [](QlStr& s) { s.MakeLower(); },
         "already lower 1"},
        {"fix case, keep first", QL("README.TXT FILE"),
         [](QlStr& s) { s.FixCase(true, true, true); }, "Readme.txt file"},
        {"fix case, all", QL("README.TXT FILE"), [](QlStr& s) { s.FixCase(true, true, false); },
         "readme.txt file"},
        {"fix case, not all upper", QL("Mixed Case Name"),
         [](QlStr& s) { s.FixCase(true, true, true); }, "Mixed Case Name"},
        {"fix case, disabled", QL("README.TXT FILE"),
         [](QlStr& s) { s.FixCase(false, false, false); }, "README.TXT FILE"},
        {"fix case, always", QL("Mixed Case Name"), [](QlStr& s) { s.FixCase(true, false, false); },
         "mixed case name"},
        {"fix case, Latin-1 first", QL("\u00C9COLE NORMALE"),
         [](QlStr& s) { s.FixCase(true, true, false); }, "\\u00C9cole normale"},
        {"trim left", QL("   leading blanks"), [](QlStr& s) { s.TrimLeft(); }, "leading blanks"},
        {"trim left, a tab is no blank", QL("\tno blank to trim"), [](QlStr& s) { s.TrimLeft(); },
         "\\u0009no blank to trim"},
        {"trim right", QL("trailing blanks   "), [](QlStr& s) { s.TrimRight(); },
         "trailing blanks"},
        {"trim right, blanks only", QL("   "), [](QlStr& s) { s.TrimRight(); }, ""},
        {"drop first", QL("xabcdefghijklm"), [](QlStr& s) { s.DropFirst(); }, "abcdefghijklm"},
        {"drop last", QL("abcdefghijklmx"), [](QlStr& s) { s.DropLast(); }, "abcdefghijklm"},
        {"keep all", QL("abcdefghijklmn"), [](QlStr& s) { s.KeepRange(0, 14); }, "abcdefghijklmn"},
        {"keep none", QL("abcdefghijklmn"), [](QlStr& s) { s.KeepRange(2, 0); }, ""},
        {"add trailing slash", QL("C:\\some\\folder"), [](QlStr& s) { s.AddTrailingSlash(); },
         "C:\\some\\folder\\"},
        {"add trailing slash, has one", QL("C:\\some\\folder/"),
         [](QlStr& s) { s.AddTrailingSlash(); }, "C:\\some\\folder/"},
        {"add trailing slash to empty", QL(""), [](QlStr& s) { s.AddTrailingSlash(); }, "\\"},
        {"add trailing slash to null", nullptr, [](QlStr& s) { s.AddTrailingSlash(); }, "\\"},
        {"strip trailing slash", QL("C:\\some\\folder\\"),
         [](QlStr& s) { s.StripTrailingSlash(); }, "C:\\some\\folder"},
        {"strip, the root stays", QL("C:\\"), [](QlStr& s) { s.StripTrailingSlash(QL("c:/")); },
         "C:\\"},
        {"strip below the root", QL("C:\\dir\\"),
         [](QlStr& s) { s.StripTrailingSlash(QL("C:\\")); }, "C:\\dir"},
        {"strip, none there", QL("C:\\dir"), [](QlStr& s) { s.StripTrailingSlash(); }, "C:\\dir"},
        {"quote", QL("a b"), [](QlStr& s) { s.Quote(); }, "\"a b\""},
        {"quote empty", QL(""), [](QlStr& s) { s.Quote(); }, "\"\""},
        {"quote null", nullptr, [](QlStr& s) { s.Quote(); }, "\"\""},
        {"quote, already quoted", QL("  \"quoted already\" "), [](QlStr& s) { s.Quote(); },
         "  \"quoted already\" "},
        {"unquote", QL("  \"some quoted text\"  "), [](QlStr& s) { s.Unquote(); },
         "some quoted text"},
        {"unquote, not quoted", QL("  not quoted at all"), [](QlStr& s) { s.Unquote(); },
         "  not quoted at all"},
        {"replace", QL("a/b/c/d/e/f/g/h"), [](QlStr& s) { s.ReplaceChar(QL('/'), QL('-')); },
         "a-b-c-d-e-f-g-h"},
        {"replace, none there", QL("abcdefghijklmn"),
         [](QlStr& s) { s.ReplaceChar(QL('/'), QL('-')); }, "abcdefghijklmn"},
        {"translate, pairs in order", QL("aabbcc aabbcc"),
         [](QlStr& s) { s.TranslateChars(QL("ab"), QL("bc")); }, "cccccc cccccc"},
        {"to backslashes", QL("C:/dir/file.txt"), [](QlStr& s) { s.ToBackslashes(); },
         "C:\\dir\\file.txt"},
    };
    for (const ChangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        QlStr s(c.input);
        const QlStr other(s);
        const std::string before = qlShowText(other);
        c.change(s);
        EXPECT_EQ(qlShowText(s), c.expected);
        EXPECT_EQ(qlShowText(other), before);
        if (before == c.expected && other.Body()->IsHeap()) {
            EXPECT_EQ(s.Text(), other.Text());
        }
        EXPECT_TRUE(qlTakeHookReports().empty());
    }

    QlStr blanks(QL("   "));
    blanks.TrimRight();
    EXPECT_TRUE(blanks.IsEmpty());
}

struct PartCase {
    const char* name;
    std::function<std::string()> run;
    const char* expected;
};

std::string Split(const QlChar* text, QlChar unit, int mode)
{
    QlStr first(text), second(QL("old"));
    bool split = first.SplitAt(second, unit, mode);
    return std::string(split ? "yes " : "no ") + qlShowText(first) + " | " + qlShowText(second);
}

std::string Pop(const QlStr& path)
{
    QlStr rest(path), element(QL("old"));
    bool popped = rest.PopPathElement(element);
    return std::string(popped ? "yes " : "no ") + qlShowText(element) + " | " + qlShowText(rest);
}

TEST(QlStrText, PartsLeaveTheSourceAlone)
{
    qlTakeHookReports();
    const QlStr abc(QL("abc"));
    const PartCase cases[] = {
        {"left", [=] { return qlShowText(abc.Left(2)); }, "ab"},
        {"left, padded", [=] { return qlShowText(abc.Left(5, QL('*'))); }, "abc**"},
        {"left 0", [=] { return qlShowText(abc.Left(0)); }, ""},
        {"left of null, padded", [] { return qlShowText(kNull.Left(2, QL('-'))); }, "--"},
        {"mid past the end, padded", [=] { return qlShowText(abc.Mid(1, 5, '*')); }, "bc***"},
        {"mid, whole", [=] { return qlShowText(abc.Mid(0, 3)); }, "abc"},
        {"mid inside", [=] { return qlShowText(abc.Mid(1, 1)); }, "b"},
        {"mid at the end, none", [=] { return qlShowText(abc.Mid(3, 0)); }, ""},
        {"mid past the end, none", [=] { return qlShowText(abc.Mid(4, 0)); }, "<null>"},
        {"mid at the end, fill", [=] { return qlShowText(abc.Mid(3, 2, '-')); }, "--"},
        {"mid past the end, fill", [=] { return qlShowText(abc.Mid(9, 2, '-')); }, "--"},
        {"mid, OEM fill", [=] { return qlShowText(abc.Mid(3, 1, '\x82', 0)); }, "\\u00E9"},
        {"mid, ANSI fill", [=] { return qlShowText(abc.Mid(3, 1, '\xE9', 1)); }, "\\u00E9"},
        {"mid from 0", [=] { return qlShowText(abc.MidFrom(0)); }, "abc"},
        {"mid from 1", [=] { return qlShowText(abc.MidFrom(1)); }, "bc"},
        {"mid from the end", [=] { return qlShowText(abc.MidFrom(3)); }, ""},
        {"mid from past the end", [=] { return qlShowText(abc.MidFrom(9)); }, ""},
        {"split, mode 0", [] { return Split(QL("key=value"), QL('='), 0); }, "yes key | =value"},
        {"split, mode 1", [] { return Split(QL("key=value"), QL('='), 1); }, "yes key= | value"},
        {"split, mode 2", [] { return Split(QL("key=value"), QL('='), 2); }, "yes key | value"},
        {"split, unit first", [] { return Split(QL("=value"), QL('='), 2); }, "yes  | value"},
        {"split, unit last", [] { return Split(QL("key="), QL('='), 2); }, "yes key | "},
        {"split, no unit", [] { return Split(QL("novalue"), QL('='), 2); }, "no novalue | "},
        {"split, empty", [] { return Split(QL(""), QL('='), 0); }, "no  | "},
        {"pop a leading separator", [] { return Pop(S(QL("\\dir\\file"))); },
         "yes \\ | dir\\file"},
        {"pop a leading /", [] { return Pop(S(QL("/dir"))); }, "yes \\ | dir"},
        {"pop an element", [] { return Pop(S(QL("dir/sub\\file"))); }, "yes dir | sub\\file"},
        {"pop the last element", [] { return Pop(S(QL("file"))); }, "yes file | "},
        {"pop from empty", [] { return Pop(S(QL(""))); }, "no  | "},
        {"pop from null", [] { return Pop(kNull); }, "no  | <null>"},
    };
    for (const PartCase& c : cases) {
        EXPECT_EQ(c.run(), c.expected) << c.name;
        EXPECT_TRUE(qlTakeHookReports().empty()) << c.name;
    }
    EXPECT_EQ(qlShowText(abc), "abc");
}

}  // namespace
