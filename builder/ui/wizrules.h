// The wizard's rules that need no window: which page follows which in either
// mode, what each page does to the Finish button, the checks of the values a
// page collects and the texts built from them.
//
// Pure code: no Windows headers, built in both trees.
#pragma once

#include "common/QlString.h"

enum class WizPage {
    Welcome,
    Panel1,
    SpannCheck,
    Spann,
    GetFile,
    GetDiz,
    GetDir,
    Command,
    ProMisc,
    ProCmd,
    Profiles,
    GetAbout,
    GetIco,
    Misc,
    Generic,
    Build,
    Test,
    Done,
};
const int kWizPageCount = 18;

// What decides the way through the pages.
struct WizRoute {
    bool installation = false;
    bool spanning = false;
    bool nt_family = false;  // the icon page is shown on the NT family only
};

// The page Next and Back lead to. Back from the summary, the test page and
// the last page, and the failed build, are the pages' own business (the
// summary of the mode, the test page, the summary).
WizPage wiz_next_page(WizPage page, const WizRoute& route);
WizPage wiz_back_page(WizPage page, const WizRoute& route);

// The dialog template of a page ("WIZ_WELCOME" ...), its help id and the
// string id of its heading (0: none).
const char* wiz_template_name(WizPage page);
int wiz_help_id(WizPage page);
int wiz_heading_id(WizPage page, bool installation);

// What a page does to Finish when it is shown.
enum class WizFinish { Leave, Enable, Disable };
WizFinish wiz_finish_on_entry(WizPage page, bool installation);

// A Zip name without an extension gets ".zip".
QlStr wiz_with_zip_extension(const QlStr& name);
// The extension of the last path element, without the dot (empty: none).
QlStr wiz_extension_of(const QlStr& path);
// The last path element without its extension.
QlStr wiz_base_name_of(const QlStr& path);
// The path without the extension of its last element (and without the dot).
QlStr wiz_without_extension(const QlStr& path);

// The names a use-file or save-file button offers when no file was chosen:
// "<zip name>.message.txt", "<zip name>.about.txt" (the Zip's name without
// folder and extension, then a dot and the string) and "<zip path without
// extension>dialog.txt".
enum class WizTextFile { Greeting, About, DialogText };
QlStr wiz_default_text_file(const QlStr& zip_path, WizTextFile kind, const QlStr& suffix);

// The check of a command against the Zip and the mode.
enum class WizCommandVerdict {
    Ok,
    SameAsZip,           // 5090: the self-extractor would run itself
    NotInstallCommand,   // 6210: installation mode takes exe, com, pif, bat, inf or none
    AskAssociation,      // standard mode: the extension must be associated (6220 when not)
};
struct WizCommandCheck {
    WizCommandVerdict verdict = WizCommandVerdict::Ok;
    bool inf = false;   // the program's extension is "inf"
    QlStr extension;    // the program's extension, for the association lookup
};
// The program is the first token of the command (unquoted); a command whose
// quote is not closed is checked by its whole text.
WizCommandCheck wiz_check_command_text(const QlStr& command, const QlStr& zip_name, bool installation);

// The 'Wait for' value: at most 8 characters and no dot.
bool wiz_wait_for_valid(const QlStr& text);

// The summary's command: 32 characters or more become the first 29 and "...".
QlStr wiz_shorten_command(const QlStr& command);

// The main archiver's open command with the Zip named: the registered
// command is cut before its first blank, quote and "%1"; a non-empty name
// (".zip" added when it has none) follows in quotes.
QlStr wiz_archiver_command(const QlStr& registered, const QlStr& zip_text);

// A file name in double quotes, unless it is quoted already.
QlStr wiz_quoted(const QlStr& name);
