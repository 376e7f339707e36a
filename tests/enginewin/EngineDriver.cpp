// The engine test program: extracts archives (or packed self-extractors)
// through the stub's real host, with a sink that records every box and
// answers from a script instead of the user.
//
//   qlenginerun LIST
//
// LIST: one case a line, UTF-8, fields separated by tabs: archive, target
// folder, report file, password (hex of the narrow text, may be empty),
// answers ("1026:N,1026:Y", used in order per id), total size for the meter.
// An archive ending in ".exe" is a packed self-extractor: its header record
// gives the archive's offset and the total size. The report lists, one a
// line: box, unscripted, create, close, delete, progress, assert, result and
// count records (see run_fixtures.py, which reads them).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "builder/sfxheader.h"
#include "common/QlOutOfMemory.h"
#include "stub/engine/unzip.h"
#include "stub/sfxdecoders.h"
#include "stub/sfxhost.h"
#include "tests/support/RecordingHooks.h"

// The file layer's internal-error report: here a line of the report.
extern const char kSfxUtilSource[];
const char kSfxUtilSource[] = "qlutil.c";
[[noreturn]] void internal_error(const char* source, int line)
{
    std::fprintf(stderr, "internal error %s %d\n", source, line);
    ExitProcess(3);
}

// Built without exceptions, like a stub: out of memory ends the run.
[[noreturn]] void qlHostOutOfMemory()
{
    std::fprintf(stderr, "out of memory\n");
    ExitProcess(3);
}

namespace {

std::string utf8(const QlStr& text)
{
    if (text.Length() == 0)
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.Text(), text.Length(), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.Text(), text.Length(), &out[0], n, nullptr, nullptr);
    return out;
}

QlStr wide(const std::string& text)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return QlStr(out.c_str());
}

std::string escaped(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return parts;
        start = at + 1;
    }
}

class Report {
public:
    void line(const std::string& text) { text_ += text + "\n"; }
    bool save(const QlStr& path) const
    {
        HANDLE file = CreateFileW(path.Text(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        DWORD written = 0;
        WriteFile(file, text_.data(), static_cast<DWORD>(text_.size()), &written, nullptr);
        CloseHandle(file);
        return written == text_.size();
    }

private:
    std::string text_;
};

// Answers by script; a question nobody scripted is recorded and answered
// the cautious way (No, Cancel, Abort).
class ScriptedSink final : public SfxHostSink {
public:
    ScriptedSink(Report& report, const std::string& script) : report_(report)
    {
        for (const std::string& item : split(script, ',')) {
            size_t colon = item.find(':');
            if (colon != std::string::npos)
                answers_[std::atoi(item.c_str())].push_back(item[colon + 1]);
        }
    }

    int box(int id, const QlStr& text, UINT type) override
    {
        int answer = IDOK;
        std::deque<char>& queue = answers_[id];
        if (!queue.empty()) {
            answer = to_button(queue.front());
            queue.pop_front();
        } else if ((type & MB_TYPEMASK) != MB_OK) {
            report_.line("unscripted\t" + std::to_string(id));
            UINT buttons = type & MB_TYPEMASK;
            answer = buttons == MB_YESNO ? IDNO : buttons == MB_ABORTRETRYIGNORE ? IDABORT : IDCANCEL;
        }
        report_.line("box\t" + std::to_string(id) + "\t" + std::to_string(type) + "\t" +
                     std::to_string(answer) + "\t" + escaped(utf8(text)));
        return answer;
    }
    void unzipping(const QlStr& name) override { report_.line("unzipping\t" + utf8(name)); }
    void progress(uint32_t percent) override { report_.line("progress\t" + std::to_string(percent)); }

private:
    static int to_button(char c)
    {
        switch (c) {
        case 'Y': return IDYES;
        case 'N': return IDNO;
        case 'C': return IDCANCEL;
        case 'A': return IDABORT;
        case 'R': return IDRETRY;
        case 'I': return IDIGNORE;
        default: return IDOK;
        }
    }

    Report& report_;
    std::map<int, std::deque<char>> answers_;
};

// The stub's host, with every file it makes and removes on the record.
class RecordingHost final : public SfxWinHost {
public:
    RecordingHost(const SfxHostSetup& setup, Report& report) : SfxWinHost(setup), report_(report) {}

    bool create_output(const QlStr& path) override
    {
        report_.line("create\t" + utf8(path));
        return SfxWinHost::create_output(path);
    }
    void close_output(bool set_time, uint16_t date, uint16_t time) override
    {
        report_.line("close\t" + std::to_string(set_time ? 1 : 0) + "\t" + std::to_string(date) +
                     "\t" + std::to_string(time));
        SfxWinHost::close_output(set_time, date, time);
    }
    void delete_output(const QlStr& path) override
    {
        report_.line("delete\t" + utf8(path));
        SfxWinHost::delete_output(path);
    }
    bool create_folder(const QlStr& path) override
    {
        report_.line("folder\t" + utf8(path));
        return SfxWinHost::create_folder(path);
    }

private:
    Report& report_;
};

std::string from_hex(const std::string& hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::strtol(hex.substr(i, 2).c_str(), nullptr, 16));
    return out;
}

// The header record of a packed self-extractor.
bool read_packed_header(HANDLE file, SfxHeader* header)
{
    int64_t size = util_lseek(file, 0, 2);
    if (size <= 0 || util_lseek(file, 0, 0) != 0)
        return false;
    // The record is in the stub image, well inside the first MiB.
    uint32_t head = size < 0x100000 ? static_cast<uint32_t>(size) : 0x100000u;
    std::vector<uint8_t> bytes(head);
    if (util_read(file, bytes.data(), head) != static_cast<int32_t>(head))
        return false;
    size_t at = find_sfx_header(bytes.data(), bytes.size());
    return at != kSfxHeaderNotFound && read_sfx_header(bytes.data(), bytes.size(), at, header);
}

void run_case(const std::vector<std::string>& fields, std::vector<uint8_t>& decode_buffer)
{
    QlStr archive_path = wide(fields[0]);
    QlStr target = wide(fields[1]);
    QlStr report_path = wide(fields[2]);
    std::string password = from_hex(fields[3]);
    Report report;
    ScriptedSink sink(report, fields[4]);

    HANDLE archive = util_open(archive_path, kUtilBinary, kUtilDenyWrite);
    SfxExtractSettings settings;
    settings.total_size = static_cast<uint32_t>(std::strtoul(fields[5].c_str(), nullptr, 10));
    bool packed = archive_path.Length() > 4 &&
                  lstrcmpiW(archive_path.Text() + archive_path.Length() - 4, L".exe") == 0;
    SfxHeader header;
    if (archive == INVALID_HANDLE_VALUE || (packed && !read_packed_header(archive, &header))) {
        report.line("result\tunreadable");
        report.save(report_path);
        if (archive != INVALID_HANDLE_VALUE)
            util_close(archive);
        return;
    }
    if (packed) {
        settings.zip_offset = header.archive_offset;
        settings.total_size = header.total_size;
        settings.spanned = (header.flags & kSfxFlagSpanning) != 0;
        settings.parts_are_executables = (header.flags & kSfxFlagZipOnFirstDisk) != 0;
    }

    SfxHostSetup setup;
    setup.archive = &archive;
    setup.archive_path = archive_path;
    setup.parts_are_executables = settings.parts_are_executables;
    setup.sink = &sink;
    RecordingHost host(setup, report);
    SfxAesDecryptionOf aes;

    // As the stub does: the Unzip To folder made current, and named.
    SetCurrentDirectoryW(sfx_folder_to_enter(target).Text());
    settings.host = &host;
    settings.archive_path = archive_path;
    settings.unzip_folder = target;
    settings.password = fields[3].empty() ? nullptr : password.c_str();
    settings.decode_buffer = decode_buffer.data();
    settings.decode_buffer_size = static_cast<uint32_t>(decode_buffer.size());
    settings.decoders = sfx_variant_decoders();
    // The meter moves (its total is 0 for archives the list gives no size).
    settings.meter_in_use = true;
    settings.aes = &aes;
    int result = extract_all(settings);
    SetCurrentDirectoryW(L"C:\\");

    for (const QlHookReport& r : qlTakeHookReports())
        report.line("assert\t" + r.source + "\t" + std::to_string(r.line));
    report.line("result\t" + std::to_string(result));
    report.line("count\t" + std::to_string(extracted_entry_count()));
    if (archive != INVALID_HANDLE_VALUE)
        util_close(archive);
    report.save(report_path);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: qlenginerun LIST\n");
        return 2;
    }
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "qlenginerun: cannot open the list\n");
        return 2;
    }
    std::string list;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        list.append(chunk, got);
    CloseHandle(file);

    std::vector<uint8_t> decode_buffer(0x100000);
    int cases = 0;
    for (std::string line : split(list, '\n')) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        std::vector<std::string> fields = split(line, '\t');
        if (fields.size() != 6) {
            std::fprintf(stderr, "qlenginerun: bad list line\n");
            return 2;
        }
        run_case(fields, decode_buffer);
        ++cases;
    }
    std::printf("qlenginerun: %d cases\n", cases);
    return 0;
}
