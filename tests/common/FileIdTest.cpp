// QlFileId: splits, checks, joins and the path-part functions of QlStr.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "common/fileid.h"
#include "tests/support/RecordingHooks.h"
#include "tests/support/TextShow.h"

namespace {

std::string Show(const QlStr& s)
{
    return qlShowText(s);
}

// A path of `length` units (at least 133): "D:\", a folder of 128 units, "\"
// and a name of 'a's.
QlStr PathOfLength(int length)
{
    QlStr path(QL("D:\\"));
    while (path.Length() < 131)
        path.AppendChar(QL('d'));
    path.AppendChar(QL('\\'));
    while (path.Length() < length)
        path.AppendChar(QL('a'));
    return path;
}

std::string Parts(const QlFileId& id)
{
    return Show(id.GetDrive()) + "|" + Show(id.GetDirectory()) + "|" + Show(id.GetName()) + "|" +
           Show(id.GetExt()) + "|" + (id.HasDot() ? "dot" : "-");
}

TEST(QlFileId, SplitsIntoParts)
{
    const struct {
        const QlChar* path;
        const char* parts;  // drive|directory|name|ext|dot, or "" when it does not parse
    } cases[] = {
        {QL("D:\\dir\\sub\\file.txt"), "D:|\\dir\\sub|file|txt|dot"},
        {QL("D:\\file"), "D:|\\|file||-"},
        {QL("D:"), "D:||||-"},
        {QL("d:file"), "d:||file||-"},
        {QL("D:\\dir\\"), "D:|\\dir|||-"},
        {QL("x\\"), "|x|||-"},
        {QL("\\"), "|\\|||-"},
        {QL(""), "||||-"},
        {QL(".txt"), "|||txt|dot"},
        {QL("name."), "||name||dot"},
        {QL("a.b\\c"), "|a.b|c||-"},
        {QL("file.tar.gz"), "||file.tar|gz|dot"},
        {QL("dir\\.."), "|dir|.||dot"},
        {QL("dir\\\\file"), "|dir\\\\|file||-"},
        {QL("D:/dir/f.c"), "D:|/dir|f|c|dot"},
        {QL("\\\\srv\\share\\a.txt"), "\\\\srv\\share|\\|a|txt|dot"},
        {QL("\\\\srv\\share"), "\\\\srv\\share||||-"},
        {QL("\\\\srv\\share/x"), "\\\\srv\\share|/|x||-"},
        // devices: the part of name.ext before its first dot, as Windows opens it
        {QL("dir\\con1.txt"), "|dir|con1|txt|dot"},
        {QL("dir\\cons.tar.gz"), "|dir|cons.tar|gz|dot"},
        {QL("C:\\lpt0.txt"), "C:|\\|lpt0|txt|dot"},
        {QL("\\console\\x"), "|\\console|x||-"},
        {QL("\\.\\..\\x"), "|\\.\\..|x||-"},
        // refused
        {QL("\\\\srv"), ""},
        {QL("\\\\srv\\"), ""},
        {QL("\\\\"), ""},
        {QL("1:\\x"), ""},
        {QL("ab:c"), ""},
        {QL("dir\\con.txt"), ""},
        {QL("dir\\con.tar.gz"), ""},
        {QL("C:\\out\\nul.backup.exe"), ""},
        {QL("\\x\\aux.d\\y.txt"), ""},
        {QL("dir\\com1.txt"), ""},
        {QL("AUX"), ""},
        {QL("Nul."), ""},
        {QL("con\\x"), ""},
        {QL("\\x\\Prn.log\\y"), ""},
    };
    qlTakeHookReports();
    for (const auto& c : cases) {
        QlFileId id(c.path);
        std::string expected = c.parts;
        bool parses = !expected.empty();
        EXPECT_EQ(id.IsSet(), parses) << qlShowText(QlStr(c.path));
        EXPECT_EQ(QlStr(c.path).IsValidPath(), parses) << qlShowText(QlStr(c.path));
        if (parses) {
            EXPECT_EQ(Parts(id), expected) << qlShowText(QlStr(c.path));
            EXPECT_EQ(id.GetPath(), QlStr(c.path)) << "the full path keeps the text as given";
        } else {
            EXPECT_EQ(Parts(id), "<null>|<null>|<null>|<null>|-") << qlShowText(QlStr(c.path));
        }
    }
    EXPECT_EQ(qlShowReports(), "");
}

TEST(QlFileId, LengthLimits)
{
    EXPECT_TRUE(QlFileId(PathOfLength(260)).IsSet());
    EXPECT_FALSE(QlFileId(PathOfLength(261)).IsSet());

    QlStr longName(QL("\\"));
    for (int i = 0; i < 257; ++i)
        longName.AppendChar(QL('n'));
    EXPECT_FALSE(QlFileId(longName).IsSet()) << "a name of 257 units";
    EXPECT_TRUE(QlFileId(longName.Left(257)).IsSet()) << "a name of 256 units";

    // 256 units + ".ab" is 259: "abc" fits, "abcd" would make 261.
    QlFileId id(PathOfLength(256).ConcatText(QL(".ab")));
    ASSERT_TRUE(id.IsSet());
    ASSERT_EQ(id.GetPath().Length(), 259);
    EXPECT_TRUE(id.SetExtension(QL("abc")));
    EXPECT_EQ(id.GetPath().Length(), 260);
    EXPECT_FALSE(id.SetExtension(QL("abcd")));
    EXPECT_EQ(Show(id.GetExt()), "abc");
    EXPECT_EQ(id.GetPath().Length(), 260);
}

struct ChangeCase {
    const char* what;
    const QlChar* start;
    std::function<bool(QlFileId&)> change;
    bool accepted;
    const char* path;  // the full path afterwards
};

TEST(QlFileId, ChangesJoinOrLeaveAllAsItWas)
{
    const ChangeCase cases[] = {
        {"name behind a bare drive", QL("D:"), [](QlFileId& f) { return f.SetFileName(QL("x")); },
         true, "D:x"},
        {"name behind a root", QL("D:\\"), [](QlFileId& f) { return f.SetFileName(QL("x")); },
         true, "D:\\x"},
        {"name behind a share", QL("\\\\srv\\share"),
         [](QlFileId& f) { return f.SetFileName(QL("a.txt")); }, true, "\\\\srv\\share\\a.txt"},
        {"name of a path text", QL("D:\\d\\a.txt"),
         [](QlFileId& f) { return f.SetFileName(QL("sub\\b.c")); }, true, "D:\\d\\b.c"},
        {"dotted folder in the name text", QL("D:\\d\\a.txt"),
         [](QlFileId& f) { return f.SetFileName(QL("x.d\\b")); }, true, "D:\\d\\b"},
        {"name with its dot", QL("D:\\a"), [](QlFileId& f) { return f.SetFileName(QL("b.")); },
         true, "D:\\b."},
        {"device name refused", QL("D:\\d\\a.txt"),
         [](QlFileId& f) { return f.SetFileName(QL("con.txt")); }, false, "D:\\d\\a.txt"},
        {"unparsable name refused", QL("D:\\a"),
         [](QlFileId& f) { return f.SetFileName(QL("\\\\srv")); }, false, "D:\\a"},
        {"extension replaced", QL("D:\\dir\\a.txt"),
         [](QlFileId& f) { return f.SetExtension(QL("log")); }, true, "D:\\dir\\a.log"},
        {"extension added", QL("D:\\a"), [](QlFileId& f) { return f.SetExtension(QL("c")); },
         true, "D:\\a.c"},
        {"empty extension keeps the dot", QL("D:\\a.txt"),
         [](QlFileId& f) { return f.SetExtension(QL("")); }, true, "D:\\a."},
        {"extension with a dot", QL("D:\\a.txt"),
         [](QlFileId& f) { return f.SetExtension(QL("a.b")); }, false, "D:\\a.txt"},
        {"extension with a colon", QL("D:\\a.txt"),
         [](QlFileId& f) { return f.SetExtension(QL("a:")); }, false, "D:\\a.txt"},
        {"null extension", QL("D:\\a.txt"),
         [](QlFileId& f) { return f.SetExtension(QlStr::CtorNull()); }, false, "D:\\a.txt"},
        {"drive letter", QL("D:\\x"), [](QlFileId& f) { return f.SetDrive(QL("e:")); }, true,
         "e:\\x"},
        {"share for a letter", QL("D:\\x"),
         [](QlFileId& f) { return f.SetDrive(QL("\\\\s\\h")); }, true, "\\\\s\\h\\x"},
        {"share before a relative folder", QL("D:dir\\a"),
         [](QlFileId& f) { return f.SetDrive(QL("\\\\s\\h")); }, true, "\\\\s\\h\\dir\\a"},
        {"share before a bare name", QL("D:a.txt"),
         [](QlFileId& f) { return f.SetDrive(QL("\\\\s\\h")); }, true, "\\\\s\\h\\a.txt"},
        {"drive removed", QL("D:\\x"), [](QlFileId& f) { return f.SetDrive(QL("")); }, true,
         "\\x"},
        {"bad drive", QL("D:\\x"), [](QlFileId& f) { return f.SetDriveText(QL("D")); }, false,
         "D:\\x"},
        {"narrow extension", QL("D:\\a"),
         [](QlFileId& f) { return f.SetExtensionNarrow("\xE9t", 1); }, true, "D:\\a.\\u00E9t"},
        {"path replaced", QL("D:\\a"), [](QlFileId& f) { return f.SetPath(QL("E:\\b\\c")); },
         true, "E:\\b\\c"},
        {"bad path leaves the old", QL("D:\\a"),
         [](QlFileId& f) { return f.SetPath(QL("D:\\aux")); }, false, "D:\\a"},
        {"null path refused", QL("D:\\a"),
         [](QlFileId& f) { return f.SetPath(QlStr::CtorNull()); }, false, "D:\\a"},
        {"too long a path", QL("D:\\a"), [](QlFileId& f) { return f.SetPath(PathOfLength(261)); },
         false, "D:\\a"},
        {"unparsed object refuses a drive", QL("\\\\srv"),
         [](QlFileId& f) { return f.SetDrive(QL("D:")); }, false, "<null>"},
        {"unparsed object takes a path", QL("\\\\srv"),
         [](QlFileId& f) { return f.SetPath(QL("D:\\a")); }, true, "D:\\a"},
    };
    qlTakeHookReports();
    for (const ChangeCase& c : cases) {
        QlFileId id(c.start);
        std::string before = Parts(id);
        EXPECT_EQ(c.change(id), c.accepted) << c.what;
        EXPECT_EQ(Show(id.GetPath()), c.path) << c.what;
        if (!c.accepted)
            EXPECT_EQ(Parts(id), before) << c.what;
        else
            EXPECT_EQ(Show(QlFileId(id.GetPath()).GetFileName()), Show(id.GetFileName()))
                << c.what << ": the joined path parses back";
    }
    EXPECT_EQ(qlShowReports(), "");
}

TEST(QlFileId, EmptyPathEmptiesTheParts)
{
    QlFileId id(QL("D:\\dir\\a.txt"));
    ASSERT_TRUE(id.SetPath(QL("")));
    EXPECT_EQ(Parts(id), "||||-");
    ASSERT_TRUE(id.SetFileName(QL("b")));
    EXPECT_EQ(Show(id.GetPath()), "b") << "no part of the earlier path comes back";
}

TEST(QlFileId, CopiesAndFileNames)
{
    QlFileId id(QL("\\\\srv\\share\\dir\\a.txt"));
    QlFileId copy(id);
    copy = copy;
    EXPECT_EQ(Parts(copy), Parts(id));
    EXPECT_EQ(Show(copy.GetPath()), Show(id.GetPath()));
    EXPECT_EQ(Show(id.GetFileName()), "a.txt");
    EXPECT_EQ(Show(id.GetFolder()), "\\\\srv\\share\\dir");
    EXPECT_TRUE(id.HasDir());
    EXPECT_EQ(Show(QlFileId(QL("a.")).GetFileName()), "a.");
    EXPECT_EQ(Show(QlFileId(QL("a")).GetFileName()), "a");
    EXPECT_FALSE(QlFileId(QL("a")).HasDir());

    QlFileId empty;
    EXPECT_TRUE(empty.IsSet());
    EXPECT_EQ(Parts(empty), "||||-");
    QlFileId unparsed(QL("\\\\srv"));
    EXPECT_FALSE(unparsed.IsSet());
    EXPECT_EQ(Show(unparsed.GetFileName()), "<null>");
    empty = unparsed;
    EXPECT_FALSE(empty.IsSet());
}

TEST(QlFileId, Checks)
{
    QlStr dir257(QL("\\"));
    for (int i = 0; i < 256; ++i)
        dir257.AppendChar(QL('d'));
    const QlStr null = QlStr::CtorNull();
    const struct {
        const char* what;
        bool (*check)(const QlStr&);
        QlStr text;
        bool expected;
    } cases[] = {
        {"drive null", qlFileIdIsValidDrive, null, false},
        {"drive empty", qlFileIdIsValidDrive, QL(""), true},
        {"drive letter", qlFileIdIsValidDrive, QL("z:"), true},
        {"drive upper", qlFileIdIsValidDrive, QL("Z:"), true},
        {"drive digit", qlFileIdIsValidDrive, QL("1:"), false},
        {"drive one unit", qlFileIdIsValidDrive, QL("c"), false},
        {"drive no colon", qlFileIdIsValidDrive, QL("cd"), false},
        {"drive share", qlFileIdIsValidDrive, QL("\\\\s\\h"), true},
        {"drive server only", qlFileIdIsValidDrive, QL("\\\\s"), false},
        {"drive share empty", qlFileIdIsValidDrive, QL("\\\\s\\"), false},
        {"dir null", qlFileIdIsValidDir, null, false},
        {"dir empty", qlFileIdIsValidDir, QL(""), true},
        {"dir plain", qlFileIdIsValidDir, QL("\\a\\b"), true},
        {"dir colon", qlFileIdIsValidDir, QL("a:b"), false},
        {"dir 256 units", qlFileIdIsValidDir, dir257.Left(256), true},
        {"dir 257 units", qlFileIdIsValidDir, dir257, false},
        {"dir device element", qlFileIdIsValidDir, QL("\\x\\COM9"), false},
        {"dir device with ext", qlFileIdIsValidDir, QL("/nul.x/y"), false},
        {"dir com0", qlFileIdIsValidDir, QL("\\com0"), true},
        {"dir device word inside", qlFileIdIsValidDir, QL("\\consoles\\aux1"), true},
        {"dir separators only", qlFileIdIsValidDir, QL("\\\\\\"), true},
        {"name null", qlFileIdIsValidName, null, false},
        {"name empty", qlFileIdIsValidName, QL(""), true},
        {"name dotted", qlFileIdIsValidName, QL("a.b"), true},
        {"name slash", qlFileIdIsValidName, QL("a/b"), false},
        {"name device", qlFileIdIsValidName, QL("prn"), false},
        {"ext null", qlFileIdIsValidExt, null, false},
        {"ext empty", qlFileIdIsValidExt, QL(""), true},
        {"ext dot", qlFileIdIsValidExt, QL("a.b"), false},
        {"ext backslash", qlFileIdIsValidExt, QL("a\\"), false},
        {"length null", qlFileIdIsValidLength, null, false},
        {"length 260", qlFileIdIsValidLength, PathOfLength(260), true},
        {"length 261", qlFileIdIsValidLength, PathOfLength(261), false},
        {"device con", qlFileIdIsDeviceName, QL("con"), true},
        {"device CON.txt", qlFileIdIsDeviceName, QL("CON.txt"), true},
        {"device com1.log", qlFileIdIsDeviceName, QL("com1.log"), true},
        {"device Lpt9", qlFileIdIsDeviceName, QL("Lpt9"), true},
        {"device console", qlFileIdIsDeviceName, QL("console"), false},
        {"device con.tar.gz", qlFileIdIsDeviceName, QL("con.tar.gz"), true},
        {"device blank before the dot", qlFileIdIsDeviceName, QL("prn .txt"), true},
        {"device conout$", qlFileIdIsDeviceName, QL("CONOUT$"), true},
        {"device name behind a dot", qlFileIdIsDeviceName, QL("x.con"), false},
        {"device com10", qlFileIdIsDeviceName, QL("com10"), false},
        {"device lpt0", qlFileIdIsDeviceName, QL("lpt0"), false},
        {"device empty", qlFileIdIsDeviceName, QL(""), false},
        {"device null", qlFileIdIsDeviceName, null, false},
        {"word inside", qlFileIdHasDeviceWord, QL("xCony"), true},
        {"word lpt", qlFileIdHasDeviceWord, QL("LPT"), true},
        {"word short", qlFileIdHasDeviceWord, QL("co"), false},
        {"word none", qlFileIdHasDeviceWord, QL("\\dir\\file"), false},
        {"parent alone", qlFileIdHasParentElement, QL(".."), true},
        {"parent inside", qlFileIdHasParentElement, QL("a\\..\\b"), true},
        {"parent at the end", qlFileIdHasParentElement, QL("a/.."), true},
        {"parent first", qlFileIdHasParentElement, QL("../a"), true},
        {"parent with trailing blank", qlFileIdHasParentElement, QL("a\\.. \\b"), true},
        {"parent with trailing dots", qlFileIdHasParentElement, QL("a\\...\\b"), true},
        {"parent behind a drive", qlFileIdHasParentElement, QL("\\\\s\\h\\.."), true},
        {"dots inside a name", qlFileIdHasParentElement, QL("a..b\\c"), false},
        {"dots before a name", qlFileIdHasParentElement, QL("..a"), false},
        {"current folder", qlFileIdHasParentElement, QL("a\\.\\b"), false},
        {"no parent in empty", qlFileIdHasParentElement, QL(""), false},
        {"no parent in null", qlFileIdHasParentElement, null, false},
    };
    qlTakeHookReports();
    for (const auto& c : cases)
        EXPECT_EQ(c.check(c.text), c.expected) << c.what;
    EXPECT_EQ(qlShowReports(), "");
}

TEST(QlFileId, PathPartsOfText)
{
    const struct {
        const QlChar* text;
        QlStr (QlStr::*part)() const;
        const char* expected;
    } cases[] = {
        {QL("D:\\dir\\f.txt"), &QlStr::PathDrive, "D:"},
        {QL("D:\\dir\\f.txt"), &QlStr::PathDriveDir, "D:\\dir"},
        {QL("D:\\dir\\f.txt"), &QlStr::PathFolder, "D:\\dir\\"},
        {QL("D:\\dir\\f.txt"), &QlStr::PathName, "f"},
        {QL("D:\\dir\\f.txt"), &QlStr::PathExtension, "txt"},
        {QL("D:\\dir\\f.txt"), &QlStr::PathFileName, "f.txt"},
        {QL("D:\\dir\\f.txt"), &QlStr::PathRoot, "D:\\"},
        {QL("D:f.txt"), &QlStr::PathFolder, "D:"},
        {QL("D:\\f"), &QlStr::PathFolder, "D:\\"},
        {QL("dir\\\\f"), &QlStr::PathFolder, "dir\\\\"},
        {QL("f.txt"), &QlStr::PathFolder, ""},
        {QL("\\\\s\\h\\x\\y"), &QlStr::PathRoot, "\\\\s\\h\\"},
        {QL("\\\\s\\h\\x\\y"), &QlStr::PathDriveDir, "\\\\s\\h\\x"},
        {QL("dir\\f"), &QlStr::PathRoot, "\\"},
        {QL("dir\\con"), &QlStr::PathDrive, ""},
        {QL("dir\\con"), &QlStr::PathFileName, ""},
        {QL("dir\\con"), &QlStr::PathRoot, ""},
    };
    qlTakeHookReports();
    for (const auto& c : cases)
        EXPECT_EQ(Show((QlStr(c.text).*c.part)()), c.expected) << qlShowText(c.text, 40);
    EXPECT_EQ(qlShowReports(), "");
}

TEST(QlFileId, StripTrailingSlashKeepsRoots)
{
    const struct {
        const QlChar* text;
        const char* expected;
    } cases[] = {
        {QL("C:\\"), "C:\\"},
        {QL("c:/"), "c:/"},
        {QL("\\"), "\\"},
        {QL("\\\\s\\h\\"), "\\\\s\\h\\"},
        {QL("C:\\dir\\"), "C:\\dir"},
        {QL("dir/"), "dir"},
        {QL("C:\\dir\\\\"), "C:\\dir\\"},
        {QL("con\\"), "con"},
        {QL("C:\\dir"), "C:\\dir"},
        {QL(""), ""},
    };
    for (const auto& c : cases) {
        QlStr s(c.text);
        EXPECT_EQ(Show(s.StripTrailingSlash()), c.expected) << qlShowText(c.text, 40);
    }
}

}  // namespace
