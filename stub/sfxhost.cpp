// The stub's host for the engine (see sfxhost.h): files through qlutil,
// folders and times through Win32, boxes through the sink.
#include "stub/sfxhost.h"

#include "common/datetime.h"
#include "stub/sfxres.h"

namespace {

constexpr uint16_t kNoDisk = 0xFFFF;
constexpr int kLabelUnits = 32;

// Spanning prompts, shown by the host alone.
enum {
    kTextInsertDisk = 1001,
    kTextInsertLastDisk = 1002,
};

bool is_separator(QlChar c) { return c == QL('\\') || c == QL('/'); }

void append_number(QlStr& out, int64_t value)
{
    if (value < 0) {
        out.AppendChar(QL('-'));
        value = -value;
    }
    QlChar digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<QlChar>(QL('0') + value % 10);
        value /= 10;
    } while (value > 0);
    while (n > 0)
        out.AppendChar(digits[--n]);
}

// Fills %s, %d and %% of a loaded text in order. Our own filling, not
// swprintf: the values are 64-bit and a text is never trusted to hold only
// the placeholders its id promises.
QlStr fill_placeholders(const QlStr& format, const QlStr* texts, int text_count,
                        const int64_t* numbers, int number_count)
{
    QlStr out;
    int next_text = 0, next_number = 0;
    const QlChar* p = format.Text();
    for (int i = 0; p != nullptr && i < format.Length(); ++i) {
        QlChar c = p[i];
        if (c != QL('%') || i + 1 >= format.Length()) {
            out.AppendChar(c);
            continue;
        }
        QlChar kind = p[i + 1];
        if (kind == QL('s')) {
            if (next_text < text_count)
                out.Append(texts[next_text++]);
            ++i;
        } else if (kind == QL('d')) {
            append_number(out, next_number < number_count ? numbers[next_number++] : 0);
            ++i;
        } else if (kind == QL('%')) {
            out.AppendChar(QL('%'));
            ++i;
        } else {
            out.AppendChar(c);
        }
    }
    return out;
}

QlStr load_text(int id)
{
    QlStr text;
    text.LoadString(id);
    return text;
}

}  // namespace

QlStr sfx_engine_message_text(const SfxMessage& message)
{
    QlStr text = message.phrase != 0 ? load_text(message.phrase) : message.text;
    QlStr out = fill_placeholders(load_text(message.id), &text, 1, message.numbers, 2);
    if (message.place >= 0) {
        out.AppendText(QL(" <"));
        append_number(out, message.place);
        out.AppendChar(QL('>'));
    }
    return out;
}

uint16_t sfx_disk_from_label(const QlChar* label)
{
    static const QlChar kPrefix[] = QL("PKBACK#");
    if (label == nullptr)
        return kNoDisk;
    int i = 0;
    for (; kPrefix[i] != 0; ++i) {
        if (label[i] != kPrefix[i])
            return kNoDisk;
    }
    while (label[i] != 0 && label[i] != QL('.') && label[i] != QL(' '))
        ++i;
    if (label[i] == 0)
        return kNoDisk;
    while (label[i] != 0 && !(label[i] >= QL('0') && label[i] <= QL('9')))
        ++i;
    if (label[i] == 0)
        return kNoDisk;
    uint32_t number = 0;
    for (; label[i] >= QL('0') && label[i] <= QL('9'); ++i) {
        number = number * 10 + static_cast<uint32_t>(label[i] - QL('0'));
        // A longer run names no disk of a set (and must not wrap onto one).
        if (number >= kNoDisk)
            return kNoDisk;
    }
    return static_cast<uint16_t>(number);
}

QlStr sfx_drive_of(const QlStr& path)
{
    const QlChar* p = path.Text();
    int n = path.Length();
    if (p == nullptr)
        return QlStr();
    if (n >= 2 && p[1] == QL(':'))
        return QlStr(p, 2);
    if (n >= 2 && is_separator(p[0]) && is_separator(p[1])) {
        // \\server\share
        int i = 2, parts = 0;
        for (; i < n; ++i) {
            if (is_separator(p[i]) && ++parts == 2)
                break;
        }
        return QlStr(p, i);
    }
    return QlStr();
}

uint16_t read_disk_number(const QlStr& drive)
{
    QlStr root = drive;
    root.AppendChar(QL('\\'));
    wchar_t label[kLabelUnits + 1] = {0};
    if (!GetVolumeInformationW(root.Text(), label, kLabelUnits + 1, nullptr, nullptr, nullptr,
                               nullptr, 0))
        return kNoDisk;
    label[kLabelUnits] = 0;
    return sfx_disk_from_label(label);
}

QlStr sfx_part_path(const QlStr& path, bool executable)
{
    const QlChar* p = path.Text();
    int n = path.Length();
    int dot = -1;
    for (int i = n - 1; p != nullptr && i >= 0 && !is_separator(p[i]) && p[i] != QL(':'); --i) {
        if (p[i] == QL('.')) {
            dot = i;
            break;
        }
    }
    QlStr part = dot >= 0 ? QlStr(p, dot) : path;
    part.AppendText(executable ? QL(".EXE") : QL(".ZIP"));
    return part;
}

QlStr sfx_folder_to_enter(const QlStr& folder)
{
    QlStr out = folder;
    int n = out.Length();
    bool drive_root = n == 3 && out.CharAt(1) == QL(':');
    if (n > 1 && is_separator(out.LastChar()) && !drive_root)
        out.DropLast();
    return out;
}

SfxWinHost::~SfxWinHost()
{
    if (output_ != nullptr)
        util_fclose(output_);
}

int32_t SfxWinHost::archive_read(uint8_t* buffer, uint32_t count)
{
    if (archive() == INVALID_HANDLE_VALUE)
        return -1;
    return util_read(archive(), buffer, count);
}

int64_t SfxWinHost::archive_seek(int64_t distance, int origin)
{
    if (archive() == INVALID_HANDLE_VALUE)
        return -1;
    return util_lseek(archive(), distance, origin);
}

SfxPathKind SfxWinHost::path_kind(const QlStr& path)
{
    DWORD attributes = GetFileAttributesW(path.Text() ? path.Text() : L"");
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return kSfxPathMissing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? kSfxPathFolder : kSfxPathFile;
}

bool SfxWinHost::create_folder(const QlStr& path)
{
    return CreateDirectoryW(path.Text() ? path.Text() : L"", nullptr) != FALSE;
}

bool SfxWinHost::create_output(const QlStr& path)
{
    if (output_ != nullptr)
        util_fclose(output_);
    // Sequential: the file is written once, front to back.
    output_ = util_fopen(path, "w+b", 1);
    return output_ != nullptr;
}

uint32_t SfxWinHost::write_output(const uint8_t* data, uint32_t count)
{
    if (output_ == nullptr)
        return 0;
    return static_cast<uint32_t>(util_fwrite(data, 1, count, output_));
}

void SfxWinHost::close_output(bool set_time, uint16_t dos_date, uint16_t dos_time)
{
    if (output_ == nullptr)
        return;
    FILETIME utc;
    if (set_time && qlDosTimeToUtcFileTime(QlDosDateTime(dos_date, dos_time), utc))
        SetFileTime(output_->handle, &utc, &utc, &utc);
    util_fclose(output_);
    output_ = nullptr;
}

void SfxWinHost::delete_output(const QlStr& path)
{
    DeleteFileW(path.Text() ? path.Text() : L"");
}

void SfxWinHost::show_error(const SfxMessage& message)
{
    setup_.sink->box(message.id, sfx_engine_message_text(message), MB_ICONERROR);
}

SfxAnswer SfxWinHost::ask(const SfxMessage& message)
{
    UINT type = message.id == kSfxTextAskOverwrite ? MB_YESNOCANCEL
                : message.id == kSfxTextAskAbort   ? MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2
                                                   : MB_YESNO;
    switch (setup_.sink->box(message.id, sfx_engine_message_text(message), type)) {
    case IDYES: return kSfxAnswerYes;
    case IDNO: return kSfxAnswerNo;
    default: return kSfxAnswerCancel;
    }
}

bool SfxWinHost::poll_user_abort()
{
    HWND owner = setup_.owner;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        bool input = false;
        switch (msg.message) {
        case WM_SETCURSOR:
        case WM_MOUSEMOVE:
        case WM_NCMOUSEMOVE:
            if (setup_.wait_cursor != nullptr)
                SetCursor(setup_.wait_cursor);
            continue;
        case WM_CHAR:
            input = (static_cast<DWORD>(msg.lParam) & 0x80000000u) != 0;
            break;
        case WM_KEYDOWN:
        case WM_VKEYTOITEM:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
        case WM_NCLBUTTONDOWN:
        case WM_NCLBUTTONDBLCLK:
            input = true;
            break;
        }
        if (!input) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
            continue;
        }
        // Only input to the dialog or its controls asks to abort; input to
        // other windows (the box itself, a meter) is dropped.
        if (owner == nullptr || msg.hwnd == nullptr ||
            (msg.hwnd != owner && GetParent(msg.hwnd) != owner))
            continue;
        SfxMessage question;
        question.id = kSfxTextAskAbort;
        return ask(question) == kSfxAnswerYes;
    }
    return false;
}

void SfxWinHost::show_unzipping(const QlStr& output_name)
{
    setup_.sink->unzipping(output_name);
}

void SfxWinHost::show_progress(uint32_t percent)
{
    setup_.sink->progress(percent > 100 ? 100 : percent);
}

bool SfxWinHost::request_disk(uint16_t disk)
{
    if (setup_.archive != nullptr && *setup_.archive != INVALID_HANDLE_VALUE) {
        util_close(*setup_.archive);
        *setup_.archive = INVALID_HANDLE_VALUE;
    }
    QlStr drive = sfx_drive_of(setup_.archive_path);
    for (;;) {
        uint16_t found = read_disk_number(drive);
        while (found == kNoDisk) {
            SfxMessage missing;
            missing.id = kSfxTextDiskMissing;
            missing.numbers[0] = disk;
            QlStr text = sfx_engine_message_text(missing);
            int answer = setup_.sink->box(missing.id, text, MB_ABORTRETRYIGNORE | MB_ICONQUESTION);
            if (answer == IDABORT)
                return false;
            found = answer == IDIGNORE ? disk : read_disk_number(drive);
        }
        current_disk_ = found;
        if (found == disk)
            break;
        SfxMessage insert;
        insert.id = disk == 0 ? kTextInsertLastDisk : kTextInsertDisk;
        insert.numbers[0] = disk;
        insert.text = drive;
        if (setup_.sink->box(insert.id, sfx_engine_message_text(insert), MB_OKCANCEL) != IDOK)
            return false;
        // No label says "last": the user who put it in and pressed OK does.
        if (disk == 0)
            break;
    }
    QlStr part = sfx_part_path(setup_.archive_path, setup_.parts_are_executables);
    HANDLE handle = util_open(part, kUtilBinary, kUtilDenyWrite);
    if (handle == INVALID_HANDLE_VALUE) {
        setup_.sink->box(IDS_HEADER_CORRUPT, load_text(IDS_HEADER_CORRUPT), MB_ICONERROR);
        return false;
    }
    if (setup_.archive != nullptr)
        *setup_.archive = handle;
    else
        util_close(handle);
    setup_.archive_path = part;
    return true;
}
