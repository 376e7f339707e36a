// Readers and writers of the builder's text files.
#include "builder/textfile.h"

#include <vector>

#include "builder/sfxoptions.h"
#include "builder/ui/msgsink.h"
#include "common/QlBOM.h"
#include "common/QlHooks.h"

namespace {

const char kSource[] = "textfile";
const int kLineCheckArgs = 5520;

const int kMsgNotFound = 4400;
const int kMsgBufferTooSmall = 4410;
const int kMsgOverLimit = 4420;
const int kMsgShortRead = 4430;
const int kMsgUnsupportedMark = 4435;
const int kMsgAccessError = 4390;
const int kMsgCannotOpen = 1070;
const int kMsgGreetingMissing = 1014;
const int kMsgGreetingTruncated = 1037;

const int kGreetingAnsiRead = 520;
const int kGreetingMarkedRead = 1040;

HANDLE open_for_reading(const QlStr& path, DWORD share)
{
    if (!path.HasText())
        return INVALID_HANDLE_VALUE;
    return CreateFileW(path.Text(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool read_exactly(HANDLE file, void* buffer, DWORD count, DWORD& got)
{
    got = 0;
    return ReadFile(file, buffer, count, &got, nullptr) != 0;
}

bool is_supported_mark(int mark)
{
    return mark == QlByteOrderMark::kNoMark || mark == QlByteOrderMark::kUtf8 ||
           mark == QlByteOrderMark::kUtf16Le;
}

// The mark at the head of a file, -1 when the file cannot be read.
int read_file_mark(const QlStr& path, int& markLength)
{
    QlByteOrderMark mark(path);
    markLength = mark.Length();
    return mark.GetCode();
}

// Where a cut at count bytes keeps whole characters: never behind the first
// unit of a surrogate pair, never inside a UTF-8 sequence.
int whole_characters(const uint8_t* bytes, int count, int mark)
{
    if (mark == QlByteOrderMark::kUtf16Le) {
        count &= ~1;
        if (count >= 2) {
            unsigned last = bytes[count - 2] | (bytes[count - 1] << 8);
            if (last >= 0xD800 && last <= 0xDBFF)
                count -= 2;
        }
        return count;
    }
    if (mark == QlByteOrderMark::kUtf8) {
        int start = count;
        // Back to the lead byte of the last sequence, then keep it only when whole.
        while (start > 0 && start > count - 4 && (bytes[start - 1] & 0xC0) == 0x80)
            --start;
        if (start == 0)
            return count;
        uint8_t lead = bytes[start - 1];
        int length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3
                   : (lead & 0xF8) == 0xF0 ? 4 : 1;
        return (count - (start - 1)) < length ? start - 1 : count;
    }
    return count;
}

// Converts the bytes behind the mark to text.
QlStr decode(const uint8_t* bytes, int count, int mark)
{
    if (mark == QlByteOrderMark::kUtf16Le) {
        std::vector<QlChar> units(count / 2 + 1, 0);
        memcpy(units.data(), bytes, (count / 2) * 2);
        return QlStr(units.data(), count / 2);
    }
    if (count == 0)
        return QlStr();
    return QlStr(reinterpret_cast<const char*>(bytes), count, mark == QlByteOrderMark::kUtf8 ? 3 : 1);
}

}  // namespace

int64_t file_size(const QlStr& path)
{
    HANDLE file = open_for_reading(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(file, &size) != 0;
    CloseHandle(file);
    return ok ? size.QuadPart : -1;
}

bool qlFileExists(const QlStr& path)
{
    return file_size(path) >= 0;
}

int read_text_file(const QlStr& path, QlChar* buffer, int* size, int limit)
{
    int64_t fileSize = file_size(path);
    if (fileSize < 0)
        return kTextMissing;
    int markLength = 0;
    const int mark = read_file_mark(path, markLength);
    if (!is_supported_mark(mark))
        return kTextUnsupportedMark;
    const int64_t markedLimit = markLength + 2 * static_cast<int64_t>(limit);
    if (fileSize > limit && (mark == QlByteOrderMark::kNoMark || fileSize > markedLimit))
        return kTextOverLimit;
    if (buffer == nullptr && size == nullptr)
        return kTextRead;
    if (!qlCheck(buffer != nullptr && size != nullptr, kSource, kLineCheckArgs))
        return kTextBufferTooSmall;
    if (*size < fileSize && (mark == QlByteOrderMark::kNoMark || fileSize > markedLimit))
        return kTextBufferTooSmall;

    HANDLE file = open_for_reading(path, FILE_SHARE_READ);
    if (file == INVALID_HANDLE_VALUE)
        return kTextMissing;
    const DWORD want = static_cast<DWORD>(fileSize - markLength);
    std::vector<uint8_t> bytes(want + 1);
    DWORD got = 0;
    bool read = SetFilePointer(file, markLength, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
                read_exactly(file, bytes.data(), want, got);
    CloseHandle(file);
    if (!read || got != want)
        return kTextShortRead;

    QlStr text = decode(bytes.data(), static_cast<int>(got), mark);
    if (text.Length() > limit)
        text.KeepRange(0, limit);
    int units = text.Length();
    if (units * 2 > *size)
        units = *size / 2;
    if (units > 0)
        memcpy(buffer, text.Text(), units * sizeof(QlChar));
    *size = units * 2;
    return kTextRead;
}

int read_text_file(const QlStr& path, int limit, QlStr& text)
{
    std::vector<QlChar> buffer(limit + 1, 0);
    int size = limit * static_cast<int>(sizeof(QlChar));
    int code = read_text_file(path, buffer.data(), &size, limit);
    text = code == kTextRead ? QlStr(buffer.data(), size / 2) : QlStr();
    return code;
}

int read_binary_file(const QlStr& path, uint8_t* buffer, int* count, int limit)
{
    int64_t fileSize = file_size(path);
    if (fileSize < 0)
        return kTextMissing;
    if (fileSize > limit)
        return kTextOverLimit;
    if (buffer == nullptr && count == nullptr)
        return kTextRead;
    if (!qlCheck(buffer != nullptr && count != nullptr, kSource, kLineCheckArgs))
        return kTextBufferTooSmall;
    if (*count < fileSize)
        return kTextBufferTooSmall;
    HANDLE file = open_for_reading(path, FILE_SHARE_READ);
    if (file == INVALID_HANDLE_VALUE)
        return kTextMissing;
    DWORD got = 0;
    bool read = read_exactly(file, buffer, static_cast<DWORD>(fileSize), got);
    CloseHandle(file);
    if (!read || got != fileSize)
        return kTextShortRead;
    *count = static_cast<int>(got);
    return kTextRead;
}

int report_text_file_error(const QlStr& path, int code, int limit)
{
    switch (code) {
    case kTextBufferTooSmall: show_error_format(kMsgBufferTooSmall, path.Text()); break;
    case kTextShortRead: show_error_format(kMsgShortRead, path.Text()); break;
    case kTextMissing: show_error_format(kMsgNotFound, path.Text()); break;
    case kTextOverLimit: show_error_format(kMsgOverLimit, path.Text(), limit); break;
    case kTextUnsupportedMark: show_error_format(kMsgUnsupportedMark, path.Text()); break;
    default: show_error_format(kMsgAccessError, path.Text()); break;
    }
    return 0;
}

namespace {

int last_separator(const QlStr& path)
{
    int slash = path.FindLastChar(QL('\\'), path.Length());
    int other = path.FindLastChar(QL('/'), path.Length());
    return other > slash ? other : slash;
}

}  // namespace

QlStr folder_of(const QlStr& path)
{
    int at = last_separator(path);
    return at >= 0 ? path.Left(at + 1) : QlStr();
}

QlStr name_of(const QlStr& path)
{
    return path.MidFrom(last_separator(path) + 1);
}

int load_setup_dialog_text()
{
    return read_text_file(g_options.dialog_text_file, kSfxMaxDialogText, g_options.dialog_text);
}

int load_about_text()
{
    return read_text_file(g_options.about_text_file, kSfxMaxAboutText, g_options.about_text);
}

namespace {

QlStr default_greeting_file(const QlStr& zip_path)
{
    return folder_of(zip_path) + QL("quollase.diz");
}

}  // namespace

bool load_message_text(const QlStr& zip_path, bool in_wizard)
{
    QlStr path = g_options.greeting_file;
    const bool named = path.HasText();
    if (!named) {
        if (in_wizard) {
            g_options.greeting_text.Clear();
            return true;
        }
        if (!g_settings.greeting_wanted)
            return true;
        path = default_greeting_file(zip_path);
    }
    if (!qlFileExists(path)) {
        if (named)
            show_error_id(kMsgGreetingMissing);
        return !named;
    }
    int markLength = 0;
    const int mark = read_file_mark(path, markLength);
    if (!is_supported_mark(mark)) {
        show_error_format(kMsgUnsupportedMark, path.Text());
        return false;
    }
    HANDLE file = open_for_reading(path, 0);
    if (file == INVALID_HANDLE_VALUE) {
        show_error_id(kMsgCannotOpen);
        return false;
    }
    const int wanted = mark == QlByteOrderMark::kNoMark ? kGreetingAnsiRead : kGreetingMarkedRead;
    const int kept = mark == QlByteOrderMark::kNoMark ? kSfxMaxGreetingAnsi : kSfxMaxGreetingUnicode;
    uint8_t bytes[kGreetingMarkedRead];
    DWORD got = 0;
    bool read = SetFilePointer(file, markLength, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
                read_exactly(file, bytes, wanted, got);
    CloseHandle(file);
    if (!read) {
        show_error_id(kMsgCannotOpen);
        return false;
    }
    int count = static_cast<int>(got);
    if (count > kept) {
        show_error_id(kMsgGreetingTruncated);
        count = whole_characters(bytes, kept, mark);
    }
    g_options.greeting_text = decode(bytes, count, mark);
    return true;
}

bool write_text_file(const QlStr& path, const QlStr& text)
{
    HANDLE file = path.HasText() ? CreateFileW(path.Text(), GENERIC_WRITE, 0, nullptr,
                                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
                                 : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) {
        show_error_id(kMsgCannotOpen);
        return false;
    }
    QlStrNarrow ansi(text, 1);
    QlStr back(ansi.Text() ? ansi.Text() : "", 1);
    DWORD written = 0;
    bool ok = true;
    if (text.Length() == 0) {
        ok = true;
    } else if (back == text) {
        ok = WriteFile(file, ansi.Text(), ansi.Length(), &written, nullptr) != 0;
    } else {
        static const uint8_t kMark[2] = {0xFF, 0xFE};
        ok = WriteFile(file, kMark, 2, &written, nullptr) != 0 &&
             WriteFile(file, text.Text(), text.ByteLength(), &written, nullptr) != 0;
    }
    CloseHandle(file);
    return ok;
}

bool save_message_text()
{
    QlStr path = g_options.greeting_file.HasText() ? g_options.greeting_file
                                                   : default_greeting_file(g_options.zip_name);
    return write_text_file(path, g_options.greeting_text);
}

bool save_about_text()
{
    return write_text_file(g_options.about_text_file, g_options.about_text);
}

bool save_setup_dialog_text()
{
    return write_text_file(g_options.dialog_text_file, g_options.dialog_text);
}

void show_error(const QlStr& text)
{
    message_box_id(0, text, MB_OK | MB_ICONERROR);
}

void show_error_narrow(const char* text)
{
    show_error(QlStr(text, 1));
}
