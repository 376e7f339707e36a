// The build sequence.
#include "builder/build.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <ctime>
#include <vector>

#include "builder/callbacks.h"
#include "builder/crc32.h"
#include "builder/openretry.h"
#include "builder/pe.h"
#include "builder/pehead.h"
#include "builder/qlse32api.h"
#include "builder/services.h"
#include "builder/sfxheader.h"
#include "builder/spandlg.h"
#include "builder/stubvariants.h"
#include "builder/switches.h"
#include "builder/textfile.h"
#include "builder/trace.h"
#include "builder/ui/dlg.h"
#include "builder/UpdateIcon.h"
#include "builder/UpdtManif.h"
#include "builder/ui/msgsink.h"
#include "builder/variants.h"
#include "builder/winsfx.h"
#include "builder/zipscan.h"
#include "common/QlCmdl.h"
#include "common/zipname.h"

namespace {

const uint32_t kWorkSize = 196608;
const int kThrowRefused = 2;

uint16_t g_featureMask = 0;

std::wstring wide(const QlStr& s) { return std::wstring(s.Text() ? s.Text() : L"", s.Length()); }

[[noreturn]] void refuse(int id)
{
    show_error_id(id);
    throw kThrowRefused;
}

[[noreturn]] void refuse_format(int id, const std::wstring& value)
{
    show_error_format(id, value.c_str());
    throw kThrowRefused;
}

std::wstring extension_of(const std::wstring& path)
{
    size_t slash = path.find_last_of(L"\\/");
    size_t dot = path.rfind(L'.');
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash))
        return std::wstring();
    return path.substr(dot + 1);
}

std::wstring with_extension(const std::wstring& path, const wchar_t* extension)
{
    size_t slash = path.find_last_of(L"\\/");
    size_t dot = path.rfind(L'.');
    std::wstring base = dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)
                            ? path
                            : path.substr(0, dot);
    return base + L"." + extension;
}

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class File {
public:
    explicit File(HANDLE h = INVALID_HANDLE_VALUE) : m_h(h) {}
    ~File() { close(); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    void reset(HANDLE h) { close(); m_h = h; }
    void close()
    {
        if (m_h != INVALID_HANDLE_VALUE)
            CloseHandle(m_h);
        m_h = INVALID_HANDLE_VALUE;
    }
    bool open() const { return m_h != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return m_h; }
    bool seek(uint64_t at)
    {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(at);
        return SetFilePointerEx(m_h, to, nullptr, FILE_BEGIN) != 0;
    }
    uint64_t size()
    {
        LARGE_INTEGER s;
        return GetFileSizeEx(m_h, &s) ? static_cast<uint64_t>(s.QuadPart) : 0;
    }
    bool read(void* buffer, uint32_t n)
    {
        DWORD got = 0;
        return ReadFile(m_h, buffer, n, &got, nullptr) && got == n;
    }
    bool write(const void* buffer, uint32_t n)
    {
        DWORD put = 0;
        return WriteFile(m_h, buffer, n, &put, nullptr) && put == n;
    }

private:
    HANDLE m_h;
};

class FileScanInput : public ZipScanInput {
public:
    explicit FileScanInput(File& f) : m_f(f) {}
    int32_t read(uint8_t* buffer, uint32_t count) override
    {
        DWORD got = 0;
        if (!ReadFile(m_f.get(), buffer, count, &got, nullptr))
            return -1;
        return static_cast<int32_t>(got);
    }
    bool seek(uint64_t position) override { return m_f.seek(position); }
    uint64_t position() override
    {
        LARGE_INTEGER zero = {}, at;
        return SetFilePointerEx(m_f.get(), zero, &at, FILE_CURRENT) ? static_cast<uint64_t>(at.QuadPart) : 0;
    }

private:
    File& m_f;
};

bool name_is_dos(const QlChar* name, int length) { return is_dos_name(QlStr(name, length)); }

// Runs the scan over an open file from its position; a refusal is shown and thrown.
ZipScanResult scan_open_file(File& file, const std::wstring& shown_name)
{
    std::vector<uint8_t> work(kWorkSize);
    ZipScanSettings settings;
    settings.no_questions = g_settings.prompts_off;
    settings.is_dos_name = name_is_dos;
    settings.work = work.data();
    settings.work_size = kWorkSize;
    settings.per_record = process_pending_messages;
    ZipScanResult result;
    FileScanInput input(file);
    ZipScanFault fault = scan_zip_archive(input, settings, &result);
    if (fault == kZipScanReadError)
        refuse_format(kMsgReadError, shown_name);
    if (fault != kZipScanOk)
        refuse(fault);
    return result;
}

ZipScanResult g_scan;
bool g_encryptionNoticeShown = false;
// The wizard's check of a Zip file is running: it fills in a default setup
// command and asks no InstallShield question.
bool g_quietCheck = false;
// The user agreed in the wizard to replace the existing output.
bool g_replaceConfirmed = false;

}  // namespace

bool is_file_locked(const std::wstring& path)
{
    if (!exists(path))
        return false;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return true;
    CloseHandle(h);
    return false;
}

void reset_scan_flags()
{
    g_scan.has_encrypted_entries = false;
    g_scan.has_long_names = false;
    g_scan.has_isdel_entry = false;
    g_scan.has_setup_ins_entry = false;
    g_replaceConfirmed = false;
    g_encryptionNoticeShown = false;
}

void clear_zip_and_exe_names()
{
    g_options.zip_name.Clear();
    g_options.output_name.Clear();
    g_scan = ZipScanResult();
    g_featureMask = 0;
    g_options.encrypted_entries = false;
    g_settings.names_not_83 = false;
    g_replaceConfirmed = false;
    g_encryptionNoticeShown = false;
}

bool zip_has_isdel_entry()
{
    return g_scan.has_isdel_entry;
}

// The name checks, the scan and the questions; true means "go on". The
// wizard asks interactively: an existing output is confirmed once and kept
// until the build, which deletes it.
bool check_zip_and_target(const std::wstring& zip_name, bool interactive)
{
    if (zip_name.empty() || !QlStr(zip_name.c_str()).IsValidPath())
        refuse(kMsgZipName);
    std::wstring zip = zip_name;
    std::wstring extension = extension_of(zip);
    if (extension.empty())
        zip += L".zip";
    else if (_wcsicmp(extension.c_str(), L"zip") != 0 && _wcsicmp(extension.c_str(), L"zipx") != 0)
        refuse(kMsgExtension);
    // A name typed in the wizard may be relative to the current folder.
    wchar_t full[1024];
    DWORD n = GetFullPathNameW(zip.c_str(), 1024, full, nullptr);
    if (n > 0 && n < 1024)
        zip.assign(full, n);
    if (!exists(zip)) {
        show_error_format(kMsgZipNotFound, zip.c_str());
        g_options.zip_name.Clear();
        throw kThrowRefused;
    }
    g_options.zip_name = QlStr(zip.c_str());
    g_options.output_name = QlStr(with_extension(zip, L"exe").c_str());
    if (g_options.spanning && g_options.spanning_drive != 0) {
        // Reading the Zip from the disks it is spanned over cannot work.
        if (zip.size() >= 2 && zip[1] == L':' && towupper(zip[0]) == towupper(g_options.spanning_drive))
            refuse(kMsgSameDriveAsSpan);
        g_options.output_name = QlStr(place_on_span_drive(zip, L".exe").c_str());
    }

    int part = 0;
    int complete = g_helper && g_helper->check_multi_volume ? g_helper->check_multi_volume(zip.c_str(), &part) : 1;
    if (complete == 0)
        refuse(kMsgIncomplete);
    if (part > 0)
        refuse(kMsgLastPart);

    File file(CreateFileW(zip.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.open())
        refuse(kMsgOpenZip);
    ZipScanResult scan = scan_open_file(file, zip);
    file.close();
    g_scan = scan;
    g_featureMask |= scan.feature_mask;
    g_options.encrypted_entries = scan.has_encrypted_entries;
    g_settings.names_not_83 = scan.has_long_names;
    if (g_quietCheck && !g_options.command.HasText() && scan.setup_entry[0] != 0)
        g_options.command = QlStr(QL(".\\")) + QlStr(scan.setup_entry);

    if (!g_quietCheck && g_options.installation_mode && scan.has_setup_ins_entry && !scan.has_isdel_entry &&
        message_box_id(kMsgInstallShield, load_message(kMsgInstallShield),
                       MB_YESNO | MB_DEFBUTTON2 | MB_ICONERROR) != IDYES)
        return false;
    if (scan.has_encrypted_entries && !g_settings.prompts_off && !g_encryptionNoticeShown) {
        g_encryptionNoticeShown = true;
        message_box_id(kMsgEncrypted, load_message(kMsgEncrypted), MB_OK | MB_ICONINFORMATION);
    }
    std::wstring output = wide(g_options.output_name);
    // A spanned output goes onto disks that are asked for (and may be
    // erased) during the build: the disk in the drive now is none of them.
    if (g_options.spanning)
        return true;
    if (exists(output) && (interactive || (!g_replaceConfirmed && !g_settings.prompts_off))) {
        if (interactive) {
            if (message_box_id(kMsgReplaceWizard, format_message(kMsgReplaceWizard, output.c_str()),
                               MB_YESNO | MB_ICONQUESTION) != IDYES)
                return false;
            if (is_file_locked(output)) {
                sink_message_box(kMsgOutputInUse, nullptr, format_message(kMsgOutputInUse, output.c_str()),
                                 QlStr(), MB_OK);
                return false;
            }
            g_replaceConfirmed = true;
            return true;
        }
        if (message_box_id(kMsgReplace, format_message(kMsgReplace, output.c_str()),
                           MB_YESNO | MB_ICONQUESTION) != IDYES)
            return false;
    }
    if (!delete_retrying(output)) {
        show_error_id(kMsgRemoveExe);
        return false;
    }
    return true;
}

bool validate_zip_quietly(const QlStr& zip_name)
{
    g_quietCheck = true;
    reset_scan_flags();
    bool ok = false;
    try {
        ok = check_zip_and_target(wide(zip_name), true);
    } catch (...) {
        clear_zip_and_exe_names();
        ok = false;
    }
    g_quietCheck = false;
    return ok;
}

namespace {

bool test_zip_with_helper(const std::wstring& zip)
{
    init_unzip_callbacks();
    QlseUnzipBlock block = {};
    block.test_mode = 1;
    block.quiet = 1;
    block.zip_name = zip.c_str();
    block.no_output = 1;
    g_nameFeatures = 0;
    int result = g_helper->unzip(&block);
    g_featureMask |= g_nameFeatures;
    return result == 0 || result == 1;
}

// --- the configuration block

std::wstring trimmed(const QlStr& s)
{
    std::wstring w = wide(s);
    size_t a = w.find_first_not_of(L" \t\r\n");
    if (a == std::wstring::npos)
        return std::wstring();
    size_t b = w.find_last_not_of(L" \t\r\n");
    return w.substr(a, b - a + 1);
}

std::wstring trim_command_end(const QlStr& s)
{
    std::wstring w = wide(s);
    size_t b = w.find_last_not_of(L" \t\r\n");
    return b == std::wstring::npos ? std::wstring() : w.substr(0, b + 1);
}

bool inf_program(const std::wstring& program)
{
    return _wcsicmp(extension_of(program).c_str(), L"inf") == 0;
}

// The first token of a command by the library's tokenizer (a quoted path,
// or a UNC path whose server and share names hold blanks, is one token),
// unquoted, and the rest of the line from the next token on. A command whose
// quote never closes names no program: the build stops.
void split_command(const std::wstring& command, std::wstring* program, std::wstring* arguments)
{
    program->clear();
    arguments->clear();
    QlCmdLine line;
    try {
        line.Reset(QlStr(command.c_str()));
    } catch (int) {
        refuse(kMsgValidation);
    }
    QlStr token = line.GetToken();
    token.Unquote();
    line.DropToken();
    *program = wide(token);
    *arguments = wide(line.GetRest());
}

SfxText to_text(const std::wstring& w) { return SfxText(w.begin(), w.end()); }

}  // namespace

std::wstring build_option_string(const SfxOptions& o, const SfxBuildSettings& s)
{
    std::wstring out;
    if (o.option_3)
        out += L"-3 ";
    if (s.custom_stub)
        out += L"-f " + wide(s.custom_stub_path) + L" ";
    else {
        out += L"-win32 ";
        if (!o.pe_section)
            out += L"-noac ";
    }
    if (o.installation_mode)
        out += L"-setup ";
    if (o.dialog_text.HasText())
        out += o.dialog_text_file.HasText() ? L"-t* " : L"-t ";
    if (o.about_text.HasText())
        out += o.about_text_file.HasText() ? L"-a* " : L"-a ";
    if (o.icon_file.HasText())
        out += L"-i* ";
    if (o.greeting_text.HasText()) {
        out += L"-m";
        if (o.greeting_buttons)
            out += o.greeting_ok_cancel ? L"okcancel" : L"yesno";
        out += o.greeting_file.HasText() ? L"* " : L" ";
    }
    if (o.title_on_setup_button)
        out += L"-sta ";
    else if (o.title_given)
        out += L"-st ";
    if (o.wait_name.HasText()) {
        if (o.wait_name.EqualsNoCase(QL("_ISDEL")) || o.wait_name.EqualsNoCase(QL("_DELIS")))
            out += L"-ishield ";
        else
            out += L"-wait " + wide(o.wait_name) + L" ";
    }
    out += o.language == 0 ? L"-le " : o.language == 1 ? L"-lg " : L"-lf ";
    if (o.argv0)
        out += L"-argv0 ";
    if (o.no_crc)
        out += L"-nocrc ";
    if (o.auto_unzip)
        out += L"-auto ";
    if (o.silent)
        out += L"-silent ";
    if (o.option_k)
        out += L"-k ";
    if (s.comment_on && s.comment_file.HasText())
        out += L"-z* ";
    if (o.default_folder.HasText())
        out += L"-d* ";
    out += o.overwrite ? L"-overwrite " : L"-nooverwrite ";
    out += o.run_as_admin ? L"-runasadmin " : L"-runasuser ";
    if (o.spanning) {
        if (o.zip_behind_stub)
            out += L"-spanexe ";
        else
            out += std::wstring(L"-spanzip ") + static_cast<wchar_t>(o.spanning_drive) + L": ";
    }
    if (o.wipe_disks)
        out += L"-wipedisk ";
    std::wstring command = trim_command_end(o.command);
    if (!command.empty())
        out += L"-c " + command + L" ";
    return out;
}

SfxConfigBlock assemble_config_texts(const SfxOptions& o, const SfxBuildSettings& s, uint32_t* command_flags)
{
    SfxConfigBlock block;
    std::wstring command = trim_command_end(o.command);
    std::wstring program, arguments;
    split_command(command, &program, &arguments);
    *command_flags = 0;
    if (!o.installation_mode)
        *command_flags |= kSfxFlagCommandSplit;
    if (!program.empty() && inf_program(program))
        *command_flags |= kSfxFlagCommandSplit | kSfxFlagInstallInf;
    std::wstring title = o.title_given ? wide(o.title) : std::wstring();
    std::wstring options = build_option_string(o, s);
    if (o.installation_mode) {
        block.field[SfxInstallField::About] = to_text(wide(o.about_text));
        block.field[SfxInstallField::Command] = to_text(command);
        block.field[SfxInstallField::DialogText] = to_text(wide(o.dialog_text));
        block.field[SfxInstallField::Title] = to_text(title);
        block.field[SfxInstallField::Greeting] = to_text(wide(o.greeting_text));
        block.field[SfxInstallField::Options] = to_text(options);
    } else {
        block.field[SfxStandardField::Folder] = to_text(trimmed(o.default_folder));
        block.field[SfxStandardField::Program] = to_text(program);
        block.field[SfxStandardField::Arguments] = to_text(arguments);
        block.field[SfxStandardField::Greeting] = to_text(wide(o.greeting_text));
        block.field[SfxStandardField::Title] = to_text(title);
        block.field[SfxStandardField::About] = to_text(wide(o.about_text));
        block.field[SfxStandardField::Options] = to_text(options);
    }
    return block;
}

uint32_t header_flags(const SfxOptions& o, const SfxBuildSettings& s, bool encrypted, bool long_names,
                      bool pe_section)
{
    uint32_t f = 0;
    if (o.option_3) f |= kSfxFlagOption3;
    if (o.overwrite) f |= kSfxFlagOverwrite;
    if (o.wait_name.HasText()) f |= kSfxFlagWait;
    if (long_names && !s.prompts_off) f |= kSfxFlagLongNames;
    if (o.title_given) f |= kSfxFlagTitle;
    if (s.manual_wait) f |= kSfxFlagManualWait;
    if (s.oem) f |= kSfxFlagOem;
    if (encrypted) f |= kSfxFlagEncrypted;
    if (o.auto_unzip) f |= kSfxFlagAuto;
    if (o.option_k) f |= kSfxFlagOptionK;
    if (pe_section) f |= kSfxFlagPeSection;
    if (o.spanning) f |= kSfxFlagSpanning;
    if (s.no_about_button) f |= kSfxFlagNoAbout;
    if (o.spanning && o.zip_behind_stub) f |= kSfxFlagZipOnFirstDisk;
    if (o.title_on_setup_button) f |= kSfxFlagTitleCaption;
    if (o.greeting_buttons) f |= kSfxFlagGreetingButtons;
    if (o.greeting_buttons && o.greeting_ok_cancel) f |= kSfxFlagGreetingOkCancel;
    if (o.argv0) f |= kSfxFlagPassArgv0;
    if (o.silent) f |= kSfxFlagSilent;
    return f;
}

namespace {

uint32_t needs_unicode_word(const SfxOptions& o)
{
    uint32_t word = 0;
    auto mark = [&](uint32_t bit, const QlStr& text) {
        if (text.HasText() && text.HasNonAscii())
            word |= bit;
    };
    mark(kUnicodeGreeting, o.greeting_text);
    if (o.title_given)
        mark(kUnicodeTitle, o.title);
    mark(kUnicodeAbout, o.about_text);
    mark(kUnicodeCommand, o.command);
    mark(kUnicodeZipName, o.zip_name);
    if (o.installation_mode)
        mark(kUnicodeDialogText, o.dialog_text);
    else
        mark(kUnicodeDefaultFolder, o.default_folder);
    return word;
}

// The output as the comment step reads and writes it.
class CommentTarget : public ZipCommentFile {
public:
    explicit CommentTarget(File& f) : m_f(f) {}
    bool read_at(uint64_t offset, uint8_t* buffer, uint32_t count) override
    {
        return m_f.seek(offset) && m_f.read(buffer, count);
    }
    bool write_at(uint64_t offset, const uint8_t* buffer, uint32_t count) override
    {
        return m_f.seek(offset) && m_f.write(buffer, count);
    }
    uint64_t size() override { return m_f.size(); }
    bool cut(uint64_t size) override { return m_f.seek(size) && SetEndOfFile(m_f.get()); }

private:
    File& m_f;
};

// Writes the comment file where the end record's comment begins; the comment
// is read and checked before a byte changes. Without an end record to find
// the build goes on without a comment; a failed write fails it.
void append_comment(File& out, SfxHeader* header)
{
    const uint32_t kLimit = 8192;
    std::wstring name = wide(g_settings.comment_file);
    File comment(CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    uint64_t comment_size = comment.open() ? comment.size() : 0;
    std::vector<uint8_t> text(static_cast<size_t>(comment_size < kLimit ? comment_size : 0) + 4, 0);
    if (!comment.open() || comment_size > kLimit ||
        (comment_size > 0 && !comment.read(text.data(), static_cast<uint32_t>(comment_size)))) {
        show_error_id(kMsgCommentFailed);
        return;
    }
    CommentTarget target(out);
    ZipCommentPlace place;
    ZipCommentFault fault = append_zip_comment(target, text.data(), static_cast<uint16_t>(comment_size), &place);
    if (fault == ZipCommentFault::WriteFailed)
        refuse(kMsgCommentFailed);
    if (fault != ZipCommentFault::Ok) {
        show_error_id(kMsgCommentFailed);
        return;
    }
    header->comment_offset = place.offset;
    header->comment_lines = place.lines;
    header->comment_longest_line = place.longest_line;
}

// Disk 1 of a spanned build: asked for (Cancel ends the build), erased when
// the user ticks the erase box, labelled as disk 1.
void ask_for_first_span_disk()
{
    const std::wstring root = span_drive_root();
    const std::wstring drive = root.substr(0, 2);
    if (run_disk_dialog(format_message(kMsgInsertDisk1, drive.c_str())) != 1)
        throw kThrowRefused;
    if (g_options.wipe_disks && g_helper->wipe(root.c_str()) != 0) {
        if (main_window() != nullptr)
            SetForegroundWindow(main_window());
        throw kThrowRefused;
    }
    g_helper->label(root.c_str(), 1);
}

// The build log of -v: the Zip's name with the extension LOG, appended line
// by line (ANSI text) with the build's steps, so that what a build did can be
// read afterwards even when it ended early.
class BuildLog {
public:
    ~BuildLog() { close(); }
    bool open(const std::wstring& path)
    {
        m_file = _wfopen(path.c_str(), L"a");
        return m_file != nullptr;
    }
    void line(int id, ...)
    {
        if (m_file == nullptr)
            return;
        va_list args;
        va_start(args, id);
        QlStr text;
        text.FormatV(load_message(id).Text(), args);
        va_end(args);
        QlStrNarrow ansi(text, 1);
        if (ansi.Text())
            fputs(ansi.Text(), m_file);
        fflush(m_file);
    }
    void close()
    {
        if (m_file)
            fclose(m_file);
        m_file = nullptr;
    }

private:
    FILE* m_file = nullptr;
};

// The local time as asctime gives it ("Wed Jan 02 02:03:55 1980\n").
std::wstring log_time(bool with_line_end)
{
    time_t now = time(nullptr);
    const wchar_t* text = _wasctime(localtime(&now));
    std::wstring out = text ? text : L"";
    if (!with_line_end && !out.empty() && out.back() == L'\n')
        out.pop_back();
    return out;
}

// For tests (QL_FAIL_RECORD_WRITES=<n>): the first n writes of the header
// record fail as a write-protected disk would make them fail.
bool record_write_refused()
{
    static int left = -1;
    if (left < 0) {
        wchar_t value[16];
        DWORD n = GetEnvironmentVariableW(L"QL_FAIL_RECORD_WRITES", value, 16);
        left = n > 0 && n < 16 ? _wtoi(value) : 0;
    }
    if (left == 0)
        return false;
    --left;
    return true;
}

// Writes the header record at e; a refused write asks 1061 whether to try
// again (OK reopens the file, seeks and writes again), Cancel ends the build.
void write_record_retrying(File& out, const std::wstring& output, uint64_t e, const uint8_t* record)
{
    for (;;) {
        if (!record_write_refused() && out.seek(e) && out.write(record, kSfxHeaderSize))
            return;
        if (message_box_id(kMsgUpdateExeRetry, load_message(kMsgUpdateExeRetry), MB_OKCANCEL | MB_ICONERROR) !=
            IDOK)
            throw kThrowRefused;
        out.close();
        out.reset(open_retrying(output, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING));
        if (!out.open() || !out.seek(e))
            refuse(kMsgSeekExe);
    }
}

// Steps 8 and 9 on the written stub image: the user's icon and, on the NT
// family, the administrator manifest. Neither stops the build.
void update_stub_resources(const std::wstring& output)
{
    if (!g_os.nt_family)
        return;
    if (g_options.icon_file.HasText()) {
        replace_icon(output.c_str(), wide(g_options.icon_file).c_str(), 1, true);
        if (icon_not_recognised)
            message_box_id(kMsgIconNotRecognised, load_message(kMsgIconNotRecognised), MB_OK | MB_ICONINFORMATION);
    }
    if (g_options.run_as_admin)
        use_admin_manifest(output.c_str());
}

// The file steps. Every failure has shown its message.
bool write_sfx(const uint8_t* stub, uint32_t stub_size, const std::wstring& zip, const std::wstring& output)
{
    clear_cancel_request();
    {
        File z(CreateFileW(zip.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!z.open())
            refuse(kMsgOpenZip);
        if (!zip_fits_2gb(z.size(), stub_size))
            refuse(kMsgTooLarge2gb);
        scan_open_file(z, zip);
    }
    BuildLog log;
    if (g_settings.build_log) {
        if (!log.open(with_extension(zip, L"LOG")))
            refuse(kMsgOpenLog);
        log.line(kLogStarted, log_time(true).c_str());
        log.line(kLogValidated, zip.c_str());
    }
    if (g_options.spanning)
        ask_for_first_span_disk();
    File out(open_retrying(output, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS));
    if (!out.open())
        refuse(kMsgOpenExe);
    log.line(kLogWritingStub);
    bool ok = false;
    try {
        if (!out.write(stub, stub_size))
            refuse_format(kMsgWriteExe, output);
        log.line(kLogStubWritten);
        out.close();

        // The resource update may move sections: everything below reads
        // the image as it stands now.
        update_stub_resources(output);
        out.reset(open_retrying(output, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING));
        if (!out.open())
            refuse(kMsgSeekExe);
        uint64_t s = out.size();
        std::vector<uint8_t> image(static_cast<size_t>(s));
        if (s == 0 || s > 0x7FFFFFFF || !out.seek(0) || !out.read(image.data(), static_cast<uint32_t>(s)))
            refuse(kMsgSeekExe);

        uint32_t command_flags = 0;
        SfxConfigBlock texts = assemble_config_texts(g_options, g_settings, &command_flags);
        std::vector<uint8_t> packed;
        if (pack_config_block(texts, &packed) != SfxConfigStatus::Ok)
            refuse(kMsgTextsTooLong);
        uint8_t compressed[kSfxCompressCapacity];
        size_t compressed_size = 0;
        SfxCompressResult c = compress_to_memory(compressed, sizeof compressed, packed.data(), packed.size(),
                                                 &compressed_size);
        if (c == kSfxCompressOutputTooSmall)
            refuse(kMsgTextsTooLong);
        if (c != kSfxCompressOk || compressed_size <= kSfxCompressPrefixSize)
            refuse(kMsgCompressFailed);
        uint32_t b = static_cast<uint32_t>(compressed_size - kSfxCompressPrefixSize);
        if (!out.seek(s) || !out.write(compressed + kSfxCompressPrefixSize, b))
            refuse_format(kMsgWriteExe, output);

        size_t e = find_sfx_header(image.data(), image.size());
        if (e == kSfxHeaderNotFound) {
            log.line(kLogNoEyecatcher);
            refuse(kMsgInternal3);
        }
        SfxHeader header;
        read_sfx_header(image.data(), image.size(), e, &header);
        if (!sfx_header_version_supported(header)) {
            log.line(kLogOldHeader);
            refuse(kMsgOldHeader);
        }
        log.line(kLogCopyingZip);
        out.close();

        // The library opens the target itself.
        HANDLE probe = open_retrying(output, GENERIC_READ, 0, OPEN_EXISTING);
        if (probe == INVALID_HANDLE_VALUE)
            refuse(kMsgOpenExe);
        CloseHandle(probe);
        // A plain Zip set's parts are made by the library beside the stub.
        std::wstring target = output;
        if (g_options.spanning && !g_options.zip_behind_stub) {
            target = with_extension(output, L"zip");
            DeleteFileW(target.c_str());
        }
        init_zip_callbacks();
        QlseSplitBlock split = {};
        split.mode = g_options.spanning ? kQlseSplitSpan : kQlseSplitAppend;
        split.source_zip = zip.c_str();
        split.target = target.c_str();
        g_helper->zipsplit(&split);
        if (cancel_requested() || split.result != 0)
            throw kThrowRefused;
        // The header record goes into disk 1's part.
        if (g_options.spanning && g_diskPromptSeen) {
            const std::wstring root = span_drive_root();
            while (read_span_disk_number(root.c_str()) != 1) {
                if (message_box_id(kMsgInsertDisk1Again, load_message(kMsgInsertDisk1Again),
                                   MB_OKCANCEL | MB_ICONINFORMATION) != IDOK)
                    throw kThrowRefused;
            }
        }

        out.reset(open_retrying(output, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING));
        if (!out.open())
            refuse(kMsgOpenExe);
        // A spanned set's end record lies on its last disk, not behind this
        // part: no comment goes in, and the scan of the input stands.
        if (g_settings.comment_on && g_settings.comment_file.HasText() && !g_options.spanning)
            append_comment(out, &header);
        log.line(kLogCopied);

        uint32_t archive_offset = static_cast<uint32_t>(s + b);
        ZipScanResult rescan = g_scan;
        if (!g_options.spanning) {
            if (!out.seek(archive_offset))
                refuse(kMsgSeekExe);
            rescan = scan_open_file(out, output);
        }

        bool pe_section = g_options.pe_section && g_options.format == 0 && !g_options.spanning;
        header.stub_length = static_cast<uint32_t>(s);
        header.archive_offset = archive_offset;
        header.end_record_offset = rescan.end_record_offset;
        header.total_size = rescan.total_size;
        header.crc32 = 0;
        header.flags = header_flags(g_options, g_settings, g_scan.has_encrypted_entries,
                                    g_scan.has_long_names, pe_section) | command_flags;
        header.written_marker = kSfxWrittenMarker;
        set_sfx_wait_name(&header, wide(g_options.wait_name).empty() ? nullptr : g_options.wait_name.ToAnsi());
        uint32_t entry = 0;
        if (!entry_point_rva(image.data(), image.size(), &entry))
            refuse(kMsgInternal3);
        header.entry_point = entry;
        uint8_t record[kSfxHeaderSize];
        write_sfx_header(header, record, sizeof record, 0);
        write_record_retrying(out, output, e, record);

        if (pe_section) {
            // The section covers what follows the stub image as it stands
            // after the resource update.
            uint64_t size = out.size();
            size_t head_size = static_cast<size_t>(size < 0x10000 ? size : 0x10000);
            if (head_size > s)
                head_size = static_cast<size_t>(s);
            std::vector<uint8_t> head(head_size);
            PeSectionPlan plan;
            if (!out.seek(0) || !out.read(head.data(), static_cast<uint32_t>(head_size)) ||
                plan_data_section(head.data(), head_size, size, s, &plan) != PeSectionFault::Ok ||
                !out.seek(0) || !out.write(head.data(), static_cast<uint32_t>(head_size)))
                refuse(kMsgSegmentTable);
            std::vector<uint8_t> zeros(static_cast<size_t>(plan.pad));
            if (plan.pad > 0 && (!out.seek(size) || !out.write(zeros.data(), static_cast<uint32_t>(plan.pad))))
                refuse(kMsgSegmentTable);
        }

        log.line(kLogCrc);
        std::vector<uint8_t> head(archive_offset);
        if (!out.seek(0) || !out.read(head.data(), archive_offset))
            refuse(kMsgReadExe);
        uint32_t crc = 0;
        if (!sfx_head_crc(head.data(), head.size(), header.flags, &crc))
            refuse(kMsgInternal3);
        log.line(kLogCrcValue, static_cast<unsigned long>(crc));
        if (g_options.no_crc || g_options.spanning)
            crc = 0;
        uint8_t crc_bytes[4];
        zip_put32(crc_bytes, crc);
        if (!out.seek(e + kSfxCrcFieldOffset) || !out.write(crc_bytes, 4))
            refuse(kMsgUpdateExe);
        log.line(kLogDone, output.c_str(), log_time(false).c_str());

        // The stub checks the end record at start: a file it would refuse
        // is a failed build.
        if (!g_options.spanning) {
            uint8_t sig[4];
            if (!out.seek(header.end_record_offset) || !out.read(sig, 4))
                refuse(kMsgInternal13);
            uint32_t v = zip_get32(sig);
            if (v != kZipEndSig && v != kZipSpannedEndSig)
                refuse(kMsgZipChanged);
        }
        ok = true;
    } catch (...) {
        out.close();
        delete_retrying(output);
        throw;
    }
    return ok;
}

}  // namespace

int build_sfx(HWND wizard)
{
    set_progress_window(wizard);
    g_featureMask = 0;
    if (g_helper == nullptr)
        return 0;
    if (g_options.spanning && g_options.spanning_drive == 0 && !choose_span_drive())
        return 0;
    if (!check_zip_and_target(wide(g_options.zip_name), false))
        return 0;
    std::wstring zip = wide(g_options.zip_name);
    std::wstring output = wide(g_options.output_name);
    if (!test_zip_with_helper(zip))
        return 0;

    std::vector<uint8_t> custom;
    const uint8_t* stub = nullptr;
    uint32_t stub_size = 0;
    if (g_settings.custom_stub) {
        File f(CreateFileW(wide(g_settings.custom_stub_path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!f.open())
            refuse(kMsgOpenHeader);
        uint64_t size = f.size();
        if (size == 0 || size > 0x4000000)
            refuse(kMsgReadExternalHeader);
        custom.resize(static_cast<size_t>(size));
        if (!f.read(custom.data(), static_cast<uint32_t>(size)))
            refuse(kMsgReadExternalHeader);
        stub = custom.data();
        stub_size = static_cast<uint32_t>(size);
    } else {
        const StubVariant* row = choose_stub_variant(stub_variants, g_options.installation_mode,
                                                     g_options.language, g_featureMask,
                                                     needs_unicode_word(g_options));
        if (row == nullptr) {
            report_assertion("build", 5337);
            return 0;
        }
        HRSRC resource = FindResourceW(nullptr, L"SFXHDR", row->type_name);
        if (resource == nullptr)
            refuse(kMsgInternal1);
        HGLOBAL loaded = LoadResource(nullptr, resource);
        stub = loaded ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
        if (stub == nullptr)
            refuse(kMsgInternal2);
        stub_size = SizeofResource(nullptr, resource);
    }
    const bool own_progress = g_options.spanning && wizard == nullptr;
    if (own_progress && !show_span_progress()) {
        show_error(QlStr(L"Unable to create DLG"));
        return 0;
    }
    int result = write_sfx(stub, stub_size, zip, output) ? 1 : 0;
    if (own_progress)
        close_span_progress();
    return result;
}

int build_sfx_guarded(HWND wizard)
{
    try {
        return build_sfx(wizard);
    } catch (...) {
        close_span_progress();
        set_progress_window(nullptr);
        return 0;
    }
}
