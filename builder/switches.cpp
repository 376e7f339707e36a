// Switches and '@' response files.
#include "builder/switches.h"

#include <cwctype>

#include <windows.h>

#include "builder/seams.h"
#include "builder/sfxoptions.h"
#include "builder/textfile.h"
#include "builder/ui/msgsink.h"
#include "common/QlCmdl.h"

namespace {

const int kMsgAbout = 1005;
const int kMsgUsage = 1007;
const int kMsgInvalidOption = 1008;
const int kMsgCommentMissing = 1009;
const int kMsgFolderMissing = 1010;
const int kMsgFolderTooLong = 1011;
const int kMsgCommandMissing = 1012;
const int kMsgFileNotFound = 1013;
const int kMsgNotSupported = 1015;
const int kMsgSecondZip = 1016;
const int kMsgBadZipName = 1073;
const int kMsgBadResponseFile = 1074;
const int kMsgDumping = 1081;
const int kMsgFileSwitch = 4290;
const int kMsgWaitMissing = 4700;
const int kMsgWaitTooLong = 4710;
const int kMsgCommandTooLong = 4890;
const int kMsgCommandHoldsSwitch = 4900;
const int kMsgSpanNotRemovable = 6090;
const int kMsgSpanNoDrive = 6100;
const int kMsgTitleTooLong = 6300;
const int kMsgNo16Bit = 6311;
const int kMsgValidation = 6324;

bool g_refused = false;

QlStr unquoted(QlStr value)
{
    value.TrimLeft();
    value.TrimRight();
    value.Unquote();
    return value;
}

bool starts_with_no_case(const QlStr& text, const QlChar* keyword)
{
    return text.MatchNoCase(QlStr(keyword), 0);
}

// One parse: the tokenizer, the current switch and the result so far.
class SwitchParser {
public:
    int Run(const QlStr& line);

private:
    enum Outcome { kNext, kStop, kDone };

    Outcome Switch();
    Outcome PlainToken();
    Outcome Stop(int id) { show_error_id(id); return kStop; }
    Outcome StopFormat(int id, const QlChar* arg)
    {
        show_error_format(id, arg);
        return kStop;
    }
    // The value of a switch whose keyword has keywordLength characters: the
    // next token when the switch is the bare keyword, else the glued text.
    QlStr Value(int keywordLength);
    // The same, but a next token that begins with '-' is left to be parsed.
    QlStr ValueNotSwitch(int keywordLength);
    QlStr Typed() const { return token_.Left(2); }
    Outcome Spanning(int keywordLength, bool behindStub);
    Outcome Title();
    Outcome Wait();
    Outcome TextFile(QlStr& file, QlStr& text, int limit);
    Outcome Greeting();
    Outcome Folder();
    Outcome Command();
    Outcome Stub();
    Outcome ResponseFile();

    QlCmdLine line_;
    QlStr token_;  // the whole token, its leading '-' or '/' kept
    QlStr word_;   // the switch without it
    int result_ = kSwitchesWizard;
    int responseFiles_ = 0;
    bool advanced_ = false;      // the tokenizer already stands on the next token
};

QlStr SwitchParser::Value(int keywordLength)
{
    if (word_.Length() == keywordLength) {
        QlStr next;
        line_.NextArg(next);
        return next;
    }
    return word_.MidFrom(keywordLength);
}

QlStr SwitchParser::ValueNotSwitch(int keywordLength)
{
    if (word_.Length() == keywordLength) {
        QlCmdLine peek = line_;
        QlStr next;
        peek.NextArg(next);
        if (!next.HasText() || next.FirstChar() == QL('-'))
            return QlStr();
        line_.NextArg(next);
        return next;
    }
    return word_.MidFrom(keywordLength);
}

SwitchParser::Outcome SwitchParser::Spanning(int keywordLength, bool behindStub)
{
    g_options.spanning = true;
    g_options.zip_behind_stub = behindStub;
    QlStr drive = Value(keywordLength);
    if (drive.HasText() && drive.Length() < 2)
        drive.AppendChar(QL(':'));
    if (drive.Length() != 2 || drive.CharAt(1) != QL(':') || !IsCharAlphaW(drive.CharAt(0)))
        return Stop(kMsgSpanNoDrive);
    drive.MakeUpper();
    QlStr root = drive + QL("\\");
    if (GetDriveTypeW(root.Text()) != DRIVE_REMOVABLE)
        return Stop(kMsgSpanNotRemovable);
    g_options.spanning_drive = drive.CharAt(0);
    return kNext;
}

SwitchParser::Outcome SwitchParser::Title()
{
    int keywordLength = 2;
    if (word_.Length() >= 3 && (word_.CharAt(2) == QL('a') || word_.CharAt(2) == QL('A'))) {
        g_options.title_on_setup_button = true;
        keywordLength = 3;
    }
    QlStr title = unquoted(Value(keywordLength));
    if (!title.HasText())
        return kNext;
    if (title.Length() > kSfxMaxTitle)
        return Stop(kMsgTitleTooLong);
    g_options.title = title;
    g_options.title_given = true;
    return kNext;
}

SwitchParser::Outcome SwitchParser::Wait()
{
    g_settings.wait_on = true;
    g_options.wait_name.Clear();
    QlStr name = unquoted(Value(4));
    if (!name.HasText())
        return Stop(kMsgWaitMissing);
    if (name.Length() > kSfxMaxWaitName)
        return Stop(kMsgWaitTooLong);
    g_options.wait_name = name;
    return kNext;
}

// -t and -a: the file is read at once; a file that cannot be read stops the
// parse with its message (a silently empty dialog text would be built).
SwitchParser::Outcome SwitchParser::TextFile(QlStr& file, QlStr& text, int limit)
{
    QlStr typed = Typed();
    QlStr name = unquoted(Value(1));
    if (!name.HasText())
        return StopFormat(kMsgFileSwitch, typed.Text());
    file = name;
    int code = read_text_file(file, limit, text);
    if (code != kTextRead) {
        text.Clear();
        report_text_file_error(file, code, limit);
        return kStop;
    }
    return kNext;
}

SwitchParser::Outcome SwitchParser::Greeting()
{
    int keywordLength = 1;
    if (starts_with_no_case(word_, QL("myesno"))) {
        keywordLength = 6;
        g_options.greeting_buttons = true;
        g_options.greeting_ok_cancel = false;
    } else if (starts_with_no_case(word_, QL("mokcancel"))) {
        keywordLength = 9;
        g_options.greeting_buttons = true;
        g_options.greeting_ok_cancel = true;
    } else if (starts_with_no_case(word_, QL("mok"))) {
        keywordLength = 3;
    }
    g_settings.greeting_wanted = true;
    QlStr value = ValueNotSwitch(keywordLength);
    if (value.HasText() && value.FirstChar() != QL('-'))
        g_options.greeting_file = unquoted(value);
    else
        g_options.greeting_file.Clear();
    result_ = kSwitchesBuild;
    return kNext;
}

SwitchParser::Outcome SwitchParser::Folder()
{
    QlStr value = Value(1);
    if (!value.HasText() || value.FirstChar() == QL('-'))
        return StopFormat(kMsgFolderMissing, QL("-d"));
    QlStr folder = unquoted(value);
    if (folder.Length() > kSfxMaxDefaultFolder) {
        show_error_format(kMsgFolderTooLong, kSfxMaxDefaultFolder);
        return kStop;
    }
    g_options.default_folder = folder;
    result_ = kSwitchesBuild;
    return kNext;
}

// The command is the rest of the line, so it must come last; a command that
// holds a switch is refused unless -o said that is meant.
SwitchParser::Outcome SwitchParser::Command()
{
    QlStr command;
    if (word_.Length() == 1) {
        line_.DropToken();
        command = line_.GetRest();
    } else {
        command = line_.GetRest().MidFrom(2);
    }
    command.TrimLeft();
    command.TrimRight();
    if (!command.HasText())
        return StopFormat(kMsgCommandMissing, QL("-c"));
    if (command.Length() > kSfxMaxCommand)
        return Stop(kMsgCommandTooLong);
    if (!g_settings.allow_switches_in_command &&
        (command.Find(QL(" -")) >= 0 || command.Find(QL(" /")) >= 0)) {
        QlStr text = format_message(kMsgCommandHoldsSwitch, command.Text());
        message_box_id(kMsgCommandHoldsSwitch, text, MB_OK | MB_ICONERROR);
        return kStop;
    }
    g_options.command = command;
    result_ = kSwitchesBuild;
    return kDone;
}

SwitchParser::Outcome SwitchParser::Stub()
{
    QlStr name = unquoted(Value(1));
    QlStr full;
    int64_t size = name.HasText() && full_file_path(name, full) ? file_size(full) : -1;
    if (size < 0 || size > 0x7FFFFFFF)
        return StopFormat(kMsgFileNotFound, name.Text() ? name.Text() : QL(""));
    g_settings.custom_stub = true;
    g_settings.custom_stub_path = full;
    g_settings.custom_stub_size = static_cast<int32_t>(size);
    g_settings.prompts_off = true;
    return kNext;
}

SwitchParser::Outcome SwitchParser::ResponseFile()
{
    QlStr name = unquoted(token_);
    name.DropFirst();
    name = unquoted(name);
    QlStr full;
    if (!name.HasText() || !full_file_path(name, full) || !qlFileExists(full)) {
        show_error_id(kMsgBadResponseFile);
        return kNext;
    }
    if (++responseFiles_ > kMaxResponseFiles)
        return Stop(kMsgBadResponseFile);
    QlStr text;
    int code = read_text_file(full, kResponseFileLimit, text);
    if (code != kTextRead) {
        report_text_file_error(full, code, kResponseFileLimit);
        return kStop;
    }
    text.TranslateChars(QL("\r\n\t"), QL("   "));
    // The response file replaces the rest of the command line.
    line_.Reset(text);
    advanced_ = true;
    return kNext;
}

SwitchParser::Outcome SwitchParser::PlainToken()
{
    if (token_.FirstChar() == QL('@') ||
        (token_.Length() > 1 && token_.CharAt(0) == QL('"') && token_.CharAt(1) == QL('@')))
        return ResponseFile();
    if (g_options.zip_name.HasText()) {
        show_error_format(kMsgSecondZip, token_.Text());
        return kNext;
    }
    QlStr full;
    if (!full_file_path(unquoted(token_), full)) {
        show_error_id(kMsgBadZipName);
        return kNext;
    }
    g_options.zip_name = full;
    return kNext;
}

SwitchParser::Outcome SwitchParser::Switch()
{
    // Tested in this order: the first match wins, so a whole word stands
    // before the one-letter switch that would take it as a value.
    const QlStr& w = word_;
    auto is = [&](const QlChar* keyword) { return w.EqualsNoCase(keyword); };
    auto starts = [&](const QlChar* keyword) { return starts_with_no_case(w, keyword); };
    const QlChar first = static_cast<QlChar>(towlower(w.HasText() ? w.FirstChar() : 0));

    if (is(QL("oem"))) { g_settings.oem = true; return kNext; }
    if (starts(QL("spanexe"))) return Spanning(7, true);
    if (starts(QL("spanzip"))) return Spanning(7, false);
    if (is(QL("wipedisk"))) { g_options.wipe_disks = true; return kNext; }
    if (is(QL("noabout"))) { g_settings.no_about_button = true; return kNext; }
    if (is(QL("argv0"))) { g_options.argv0 = true; return kNext; }
    if (is(QL("dump"))) {
        message_box_id(kMsgDumping, load_message(kMsgDumping), MB_OK);
        write_settings_report();
        result_ = kSwitchesStop;
        return kDone;
    }
    if (first == QL('l')) {
        QlChar letter = w.Length() > 1 ? w.CharAt(1) : 0;
        g_options.language = (letter == QL('g') || letter == QL('G')) ? 1 : 0;
        return kNext;
    }
    if (is(QL("standard"))) return Stop(kMsgNo16Bit);
    if (is(QL("WIN32"))) { g_options.format = 0; g_settings.win32_given = true; return kNext; }
    if (is(QL("compact"))) return Stop(kMsgNo16Bit);
    if (is(QL("DOS"))) return Stop(kMsgNo16Bit);
    if (is(QL("nocrc"))) { g_options.no_crc = true; return kNext; }
    if (is(QL("silent"))) { g_options.silent = true; return kNext; }
    if (is(QL("auto"))) { g_options.auto_unzip = true; return kNext; }
    if (is(QL("SETUP"))) {
        g_options.installation_mode = true;
        g_settings.prompts_off = true;
        if (g_os.nt_family)
            g_options.run_as_admin = true;
        result_ = kSwitchesBuild;
        return kNext;
    }
    if (is(QL("runasuser"))) { g_options.run_as_admin = false; return kNext; }
    if (is(QL("runasadmin"))) { g_options.run_as_admin = g_os.nt_family; return kNext; }
    if (is(QL("noac"))) { g_options.pe_section = false; return kNext; }
    if (starts(QL("st"))) return Title();
    if (is(QL("nooverwrite"))) { g_options.overwrite = false; return kNext; }
    if (is(QL("overwrite"))) { g_options.overwrite = true; return kNext; }
    if (is(QL("ISHIELD3"))) {
        g_options.installation_mode = true;
        g_settings.prompts_off = true;
        g_options.command = QL("setup");
        g_settings.wait_on = true;
        g_options.wait_name.Clear();
        result_ = kSwitchesBuild;
        return kNext;
    }
    if (starts(QL("WAIT"))) return Wait();
    if (is(QL("Manual_WAIT"))) { g_settings.manual_wait = true; return kNext; }
    switch (first) {
    case QL('t'):
        return TextFile(g_options.dialog_text_file, g_options.dialog_text, kSfxMaxDialogText);
    case QL('a'):
        return TextFile(g_options.about_text_file, g_options.about_text, kSfxMaxAboutText);
    case QL('i'): {
        QlStr typed = Typed();
        QlStr icon = unquoted(Value(1));
        if (!icon.HasText())
            return StopFormat(kMsgFileSwitch, typed.Text());
        if (g_os.nt_family)
            g_options.icon_file = icon;
        return kNext;
    }
    case QL('v'):
        g_settings.build_log = true;
        return kNext;
    case QL('z'): {
        QlStr typed = Typed();
        QlStr comment = unquoted(Value(1));
        if (!comment.HasText())
            return StopFormat(kMsgCommentMissing, typed.Text());
        g_settings.comment_file = comment;
        g_settings.comment_on = true;
        return kNext;
    }
    case QL('?'):
        result_ = show_usage();
        return kDone;
    case QL('y'):
        g_settings.prompts_off = true;
        result_ = kSwitchesBuild;
        return kNext;
    case QL('e'):
        show_error_format(kMsgInvalidOption, Typed().Text());
        return kNext;
    case QL('3'):
        g_options.option_3 = true;
        result_ = kSwitchesBuild;
        return kNext;
    case QL('k'):
        g_options.option_k = true;
        return kNext;
    case QL('m'):
        return Greeting();
    case QL('r'):
        g_settings.post_install = true;
        result_ = run_post_install(false);
        return kDone;
    default:
        break;
    }
    if (starts(QL("nor"))) {
        g_settings.post_install = true;
        result_ = run_post_install(true);
        return kDone;
    }
    switch (first) {
    case QL('d'): return Folder();
    case QL('o'): g_settings.allow_switches_in_command = true; return kNext;
    case QL('c'): return Command();
    case QL('f'): return Stub();
    default: break;
    }
    show_error_format(kMsgNotSupported, Typed().Text());
    return kNext;
}

int SwitchParser::Run(const QlStr& line)
{
    g_refused = false;
    if (!line_.Reset(line))
        return kSwitchesNone;
    while (!line_.IsDone()) {
        token_ = line_.GetToken();
        if (!token_.HasText())
            break;
        advanced_ = false;
        const QlChar lead = token_.FirstChar();
        Outcome outcome;
        if (lead == QL('-') || lead == QL('/')) {
            word_ = token_.MidFrom(1);
            outcome = Switch();
        } else {
            outcome = PlainToken();
        }
        if (outcome == kStop) {
            g_refused = true;
            return kSwitchesStop;
        }
        if (outcome == kDone)
            break;
        if (!advanced_) {
            QlStr next;
            line_.NextArg(next);
        }
    }
    if (result_ == kSwitchesBuild && !g_settings.win32_given)
        g_options.format = 0;
    return result_;
}

}  // namespace

int parse_builder_switches(const QlStr& command_line)
{
    SwitchParser parser;
    return parser.Run(command_line);
}

int parse_builder_switches_guarded(const QlStr& command_line)
{
    try {
        return parse_builder_switches(command_line);
    } catch (...) {
        show_error_id(kMsgValidation);
        return kSwitchesNone;
    }
}

bool switches_refused()
{
    return g_refused;
}

int show_usage()
{
    QlStr about = format_message(kMsgAbout, QL("4.0"), QL("12218"));
    sink_message_box(kMsgAbout, nullptr, about, load_message(kMsgCaption), MB_OK | MB_ICONINFORMATION);
    sink_message_box(kMsgUsage, nullptr, load_message(kMsgUsage), load_message(kMsgCaption),
                     MB_OK | MB_ICONINFORMATION);
    return kSwitchesStop;
}

bool is_dos_name(const QlStr& path)
{
    int n = 0;
    for (int i = 0; i < path.Length(); ++i) {
        QlChar c = path.CharAt(i);
        if (c == QL('/') || c == QL('\\')) {
            n = 0;
        } else if (c == QL('.')) {
            if (n > 8)
                return false;
            n = 9;
        } else {
            if (n > 11 || n == 8)
                return false;
            static const QlChar kRefused[] = QL(" +,;<=>[]|");
            for (const QlChar* r = kRefused; *r; ++r)
                if (c == *r)
                    return false;
            ++n;
        }
    }
    return true;
}

bool full_file_path(const QlStr& token, QlStr& full)
{
    full.Clear();
    if (!token.HasText() || token.ContainsAnyOf(QL("*?<>|\"")))
        return false;
    QlChar last = token.LastChar();
    if (last == QL('\\') || last == QL('/') || last == QL(':'))
        return false;
    // Judged before Windows turns a device name ("con.tar.zip") into the
    // device's own path.
    if (!token.IsValidPath())
        return false;
    wchar_t buffer[2048];
    DWORD n = GetFullPathNameW(token.Text(), 2048, buffer, nullptr);
    if (n == 0 || n >= 2048)
        return false;
    full = QlStr(buffer, static_cast<int>(n));
    return true;
}
