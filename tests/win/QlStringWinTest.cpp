// The Win32 side of QlStr: the native stand-in's code pages against Windows'
// own conversions, msvcrt formatting and the program's string table
// (tests/win/QlStringTest.rc).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/QlString.h"
#include "tests/support/RecordingHooks.h"
#include "tests/support/TextShow.h"

namespace {

const int kChainFirst = 4101;
const int kChainLast = 4103;
const int kAfterChain = 4104;
const int kBrokenChain = 4110;
const int kMissing = 4199;

// The tables of the native stand-in give what Windows gives, both ways, for
// every byte; units a code page lacks become '?'.
TEST(QlStrWin, CodePageTablesMatchWindows)
{
    ASSERT_EQ(GetACP(), 1252u);
    ASSERT_EQ(GetOEMCP(), 437u);
    struct Table {
        UINT codePage;
        const uint16_t* units;
    } tables[] = {{437, kQlCodePage437}, {1252, kQlCodePage1252}};
    for (const Table& table : tables) {
        for (int byte = 0; byte < 256; ++byte) {
            SCOPED_TRACE(std::to_string(table.codePage) + " byte " + std::to_string(byte));
            char narrow = static_cast<char>(byte);
            WCHAR wide = 0;
            ASSERT_EQ(MultiByteToWideChar(table.codePage, MB_PRECOMPOSED, &narrow, 1, &wide, 1), 1);
            EXPECT_EQ(wide, table.units[byte]);
            char back = 0;
            ASSERT_EQ(WideCharToMultiByte(table.codePage, WC_NO_BEST_FIT_CHARS, &wide, 1, &back, 1,
                                          nullptr, nullptr),
                      1);
            EXPECT_EQ(static_cast<unsigned char>(back), byte);
            EXPECT_EQ(qlGutzSingleByteOf(table.units, wide), byte);
        }
        for (WCHAR missing : {0x0100, 0x2302, 0x263A, 0xFFFD}) {
            if (qlGutzSingleByteOf(table.units, missing) >= 0)
                continue;
            char back = 0;
            WideCharToMultiByte(table.codePage, WC_NO_BEST_FIT_CHARS, &missing, 1, &back, 1,
                                nullptr, nullptr);
            EXPECT_EQ(back, '?') << table.codePage << " " << missing;
        }
    }
}

// The stand-in's UTF-8 codec replaces invalid input exactly as Windows does.
TEST(QlStrWin, Utf8CodecMatchesWindows)
{
    const char* narrow[] = {
        "plain", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\x80", "a\xC3", "\xED\xA0\x80",
        "\xED\xBF\xBF", "\xC0\xAF", "\xC1\xBF", "\xE2\x82", "\xF4\x8F\xBF\xBF", "\xF4\x90\x80\x80",
        "\xF5\x80\x80\x80", "\xE0\x80\xAF", "\xE0\xA0\x80", "\xF0\x80\x80\x80", "\xF0\x8F\xBF\xBF",
        "\xF8\x88\x80\x80\x80", "\xFE\xFF", "\xE2\x82" "a", "\xF0\x9F\x98" "a", "\xC3\xC3\xA9",
        "\xEF\xBB\xBF" "bom",
    };
    for (const char* bytes : narrow) {
        SCOPED_TRACE(qlShowText(QlStr(bytes, 1)));
        WCHAR windows[32], ours[32];
        bool shortBuffer = false;
        int windowsUnits = MultiByteToWideChar(CP_UTF8, 0, bytes, -1, windows, 32);
        int ourUnits = qlGutzUtf8ToWide(bytes, -1, ours, 32, &shortBuffer);
        EXPECT_EQ(qlShowText(ours, ourUnits), qlShowText(windows, windowsUnits));
        EXPECT_EQ(qlGutzUtf8ToWide(bytes, -1, nullptr, 0, &shortBuffer), windowsUnits);
    }
    const WCHAR* wide[] = {L"plain", L"\u00E9\u20AC\U0001F600", L"\xD800", L"\xDC00" L"a",
                           L"a\xD800\xD800\xDC00", L"\xDBFF\xDFFF", L"\xDFFF\xDBFF"};
    for (const WCHAR* units : wide) {
        SCOPED_TRACE(qlShowText(QlStr(units)));
        char windows[32], ours[32];
        bool shortBuffer = false;
        int windowsBytes = WideCharToMultiByte(CP_UTF8, 0, units, -1, windows, 32, nullptr, nullptr);
        int ourBytes = qlGutzWideToUtf8(units, -1, ours, 32, &shortBuffer);
        EXPECT_EQ(std::string(ours, ourBytes), std::string(windows, windowsBytes));
    }
    // Both refuse a short target the same way.
    WCHAR small[2];
    bool shortBuffer = false;
    EXPECT_EQ(qlGutzUtf8ToWide("abc", -1, small, 2, &shortBuffer), 0);
    EXPECT_TRUE(shortBuffer);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, small, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

// msvcrt rules beyond Latin-1, where the native stand-in knows no letters.
TEST(QlStrWin, CaseRulesAreMsvcrts)
{
    EXPECT_FALSE(QlStr(L"\u4E00").IsAllUpper());  // a letter without case
    EXPECT_TRUE(QlStr(L"\u0391\u0392").IsAllUpper());
    EXPECT_EQ(qlShowText(QlStr(L"ab\u03B1").MakeUpper()), "AB\\u03B1");
    EXPECT_EQ(qlStrCompareNoCase(QlStr(L"\u0391"), QlStr(L"\u03B1")), -1);
}

TEST(QlStrWin, FormatFollowsMsvcrt)
{
    qlShowReports();
    QlStr s;
    EXPECT_EQ(qlShowText(s.Format(L"%s %d %08lx %%", L"wide", -5, 0xABCDUL)), "wide -5 0000abcd %");
    EXPECT_EQ(qlShowText(s.Format(L"%s", L"")), "");
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_EQ(qlShowText(s.Format(L"%d", 7)), "7");
    EXPECT_TRUE(s.Body()->IsInline());
    EXPECT_EQ(qlShowText(s.Format(L"[%-20s]", L"left")), "[left                ]");
    EXPECT_FALSE(s.Body()->IsInline());
    // The string's own text as an argument: written into a temporary first.
    EXPECT_EQ(qlShowText(s.Format(L"%s+%s", s.Text(), s.Text())),
              "[left                ]+[left                ]");
    // A narrow format, converted from ANSI; "%s" still takes wide text.
    EXPECT_EQ(qlShowText(s.FormatAnsi("\xE9: %s %u", L"x", 3u)), "\\u00E9: x 3");
    EXPECT_EQ(qlShowReports(), "");

    QlStr kept(L"kept");
    kept.Format(nullptr);
    EXPECT_EQ(qlShowText(kept), "kept");
    EXPECT_EQ(qlShowReports(), "assert QlGutz:" + std::to_string(kGutzFormatNull) + ";");
}

TEST(QlStrWin, StringTableChainsAndMissingEntries)
{
    qlShowReports();
    EXPECT_EQ(qlShowText(QlStr::CtorResource(kChainFirst)),
              "The first part, the second part and the end.");
    EXPECT_EQ(qlShowText(QlStr::CtorResource(kChainFirst + 1)), "the second part and the end.");
    EXPECT_EQ(qlShowText(QlStr::CtorResource(kChainLast)), "and the end.");
    EXPECT_EQ(qlShowText(QlStr::CtorResource(kAfterChain)), "Not part of the chain.");
    EXPECT_EQ(qlShowReports(), "");

    // windows.h names it LoadStringW; both names reach the member.
    QlStr loaded(L"old");
    loaded.LoadString(kChainLast);
    EXPECT_EQ(qlShowText(loaded), "and the end.");

    const std::string missing = "win32 QlGutz:" + std::to_string(kGutzResourceMissing) + ";";
    QlStr absent = QlStr::CtorResource(kMissing);
    EXPECT_TRUE(absent.IsEmpty());
    EXPECT_EQ(qlShowReports(), missing);
    EXPECT_EQ(qlShowText(QlStr::CtorResource(kBrokenChain)), "A chain that breaks ");
    EXPECT_EQ(qlShowReports(), missing);

    EXPECT_TRUE(loaded.LoadString(-1).IsEmpty());
    EXPECT_EQ(qlShowReports(), "assert QlGutz:" + std::to_string(kGutzResourceId) + ";");
}

}  // namespace
