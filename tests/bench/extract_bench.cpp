// Whole archives extracted to a folder: the stub's archive engine with its
// decoders (as the full variants link them) through a native host that
// writes each file as the stub's host does (create, a write per block, the
// DOS time set at close), against `unzip -o -q` and `7z x -y` on the same
// archives in the same run. The archives, made by 7z: Deflate, Deflate64,
// LZMA, PPMd and AES-256 (Deflate inside), each once over many small files
// (the system's headers) and once over a few large ones. unzip has neither
// LZMA, PPMd nor AES; where it cannot, 7z alone is the reference. Each
// reference's start-up (the same kind of archive of one tiny file) is taken
// off. The output folder is removed before every run, outside the timing.
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "stub/engine/lzmadec.h"
#include "stub/engine/ppmddec.h"
#include "stub/engine/unzip.h"
#include "stub/engine/unzipaes.h"
#include "tests/bench/BenchData.h"
#include "tests/bench/BenchTiming.h"

// The benchmark supplies the library's error hooks itself.
void qlHostAssert(const char* source, int line) { fprintf(stderr, "internal error %s %d\n", source, line); }
void qlHostWin32Error(const char*, int) {}

namespace {

using namespace bench_data;
using namespace bench_timing;

const char kPassword[] = "benchmark";

// The engine's paths ('\' separators) as this system's.
std::string native_path(const QlStr& path)
{
    std::string p = path.ToUtf8Static();
    for (char& c : p)
        if (c == '\\')
            c = '/';
    return p;
}

// The stub's host on POSIX calls: the archive read in the engine's blocks,
// one output file at a time written straight through, its time set from
// the DOS date and time (local) when it is closed.
class NativeHost : public SfxEngineHost {
public:
    explicit NativeHost(const std::string& archive) : archive_(open(archive.c_str(), O_RDONLY)) {}
    ~NativeHost()
    {
        if (archive_ >= 0)
            close(archive_);
        if (output_ >= 0)
            close(output_);
    }
    bool ok() const { return archive_ >= 0; }
    int errors = 0;

    int32_t archive_read(uint8_t* buffer, uint32_t count) override
    {
        const ssize_t n = read(archive_, buffer, count);
        return n < 0 ? -1 : static_cast<int32_t>(n);
    }
    int64_t archive_seek(int64_t distance, int origin) override
    {
        return lseek(archive_, distance, origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END);
    }
    SfxPathKind path_kind(const QlStr& path) override
    {
        struct stat st;
        if (stat(native_path(path).c_str(), &st) != 0)
            return kSfxPathMissing;
        return S_ISDIR(st.st_mode) ? kSfxPathFolder : kSfxPathFile;
    }
    bool create_folder(const QlStr& path) override { return mkdir(native_path(path).c_str(), 0755) == 0; }
    bool create_output(const QlStr& path) override
    {
        if (output_ >= 0)
            close(output_);
        output_ = open(native_path(path).c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        if (output_ >= 0)
            posix_fadvise(output_, 0, 0, POSIX_FADV_SEQUENTIAL);
        return output_ >= 0;
    }
    uint32_t write_output(const uint8_t* data, uint32_t count) override
    {
        uint32_t done = 0;
        while (done < count) {
            const ssize_t n = write(output_, data + done, count - done);
            if (n <= 0)
                break;
            done += static_cast<uint32_t>(n);
        }
        return done;
    }
    void close_output(bool set_time, uint16_t dos_date, uint16_t dos_time) override
    {
        if (output_ < 0)
            return;
        if (set_time) {
            tm local = {};
            local.tm_year = 80 + (dos_date >> 9);
            local.tm_mon = ((dos_date >> 5) & 15) - 1;
            local.tm_mday = dos_date & 31;
            local.tm_hour = dos_time >> 11;
            local.tm_min = (dos_time >> 5) & 63;
            local.tm_sec = 2 * (dos_time & 31);
            local.tm_isdst = -1;
            const timespec t = {mktime(&local), 0};
            const timespec times[2] = {t, t};
            futimens(output_, times);
        }
        close(output_);
        output_ = -1;
    }
    void delete_output(const QlStr& path) override { unlink(native_path(path).c_str()); }
    void show_error(const SfxMessage& message) override
    {
        ++errors;
        fprintf(stderr, "extract_bench: engine message %d (%s)\n", message.id, message.text.ToUtf8Static());
    }
    SfxAnswer ask(const SfxMessage&) override { return kSfxAnswerYes; }
    bool poll_user_abort() override { return false; }
    void show_unzipping(const QlStr&) override {}
    void show_progress(uint32_t) override {}
    bool request_disk(uint16_t) override { return false; }

private:
    int archive_ = -1;
    int output_ = -1;
};

// Extracts `archive` into the folder "out" of the current folder, as the
// full stub variants do.
bool extract_ours(const std::string& archive, uint8_t* decode_buffer)
{
    NativeHost host(archive);
    if (!host.ok())
        return false;
    SfxExtractSettings settings;
    settings.host = &host;
    settings.archive_path = QL("archive");
    settings.unzip_folder = QL("out");
    settings.overwrite_all = true;
    settings.password = kPassword;
    settings.silent = true;
    settings.decode_buffer = decode_buffer;
    settings.decode_buffer_size = 1u << 20;
    settings.decoders.lzma = lzma_decode_entry;
    settings.decoders.ppmd = ppmd_decode_entry;
    SfxAesDecryptionOf aes;
    settings.aes = &aes;
    return extract_all(settings) == kSfxExtractDone && host.errors == 0;
}

int remove_entry(const char* path, const struct stat*, int, FTW*)
{
    return remove(path);
}

void remove_tree(const std::string& folder)
{
    nftw(folder.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

// Bytes and files under a folder, to check an extraction.
void measure_tree(const std::string& folder, uint64_t* bytes, size_t* files)
{
    std::vector<std::string> paths;
    list_files(folder, "", &paths);
    *bytes = 0;
    *files = paths.size();
    for (const std::string& p : paths) {
        struct stat st;
        if (stat(p.c_str(), &st) == 0)
            *bytes += static_cast<uint64_t>(st.st_size);
    }
}

struct Archive {
    std::string name;
    std::string path, tiny;
    bool unzip_can = true;
    uint64_t bytes = 0;
    size_t files = 0;
};

bool run_7z(const std::vector<std::string>& args, const char* folder)
{
    Timing ignored;
    return time_program(&ignored, args, folder);
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = bench_runs(3);
    // The archives and every extraction on a memory file system where the
    // machine has one: on a disk the journal and its discards of the last
    // run's deleted files decide the many-small-files rows, by up to four
    // times from one run to the next, whichever program extracts.
    const char* base = getenv("QL_BENCH_TMP");
    if (!base) {
        struct stat st;
        base = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                                                                                                   : "/tmp";
    }
    std::string pattern = std::string(base) + "/extract_bench.XXXXXX";
    if (!mkdtemp(&pattern[0]))
        return 1;
    const std::string work = pattern;

    // Many small files: the system's headers, by sorted path; a few large
    // ones: text, programs and short runs of 8 MiB each. Sizes that keep the
    // whole run within a few minutes.
    std::vector<std::string> headers;
    list_files("/usr/include", ".h", &headers);
    if (headers.size() > 2000)
        headers.resize(2000);
    FILE* list = fopen((work + "/small.list").c_str(), "w");
    for (const std::string& h : headers)
        fprintf(list, "%s\n", h.c_str() + strlen("/usr/include/"));
    fclose(list);
    mkdir((work + "/large").c_str(), 0755);
    const std::pair<const char*, Bytes> large[] = {
        {"large/text.txt", text_data(8 << 20)}, {"large/programs.bin", binary_data(8 << 20)},
        {"large/runs.bin", runs_data(8 << 20)}};
    for (const auto& l : large) {
        FILE* f = fopen((work + "/" + l.first).c_str(), "wb");
        fwrite(l.second.data(), 1, l.second.size(), f);
        fclose(f);
    }
    FILE* tiny = fopen((work + "/tiny.txt").c_str(), "w");
    fprintf(tiny, "A tiny file, so that only the start-up is left.\n");
    fclose(tiny);

    const struct {
        const char* name;
        std::vector<std::string> options;
        bool unzip_can;
    } methods[] = {
        {"deflate", {"-mm=Deflate"}, true},
        {"deflate64", {"-mm=Deflate64"}, true},
        {"lzma", {"-mm=LZMA"}, false},
        {"ppmd", {"-mm=PPMd"}, false},
        {"aes256", {"-mm=Deflate", "-mem=AES256", std::string("-p") + kPassword}, false},
    };
    std::vector<Archive> archives;
    for (const auto& m : methods) {
        for (const char* set : {"small", "large"}) {
            Archive a;
            a.name = std::string(m.name) + "/" + (set[0] == 's' ? "2000 headers" : "3 large files");
            if (argc > 1 && a.name.find(argv[1]) == std::string::npos)
                continue;   // a row asked for by name
            a.path = work + "/" + m.name + "-" + set + ".zip";
            a.tiny = work + "/" + m.name + "-tiny.zip";
            a.unzip_can = m.unzip_can;
            std::vector<std::string> add = {"7z", "a", "-bd", "-tzip"};
            add.insert(add.end(), m.options.begin(), m.options.end());
            std::vector<std::string> add_tiny = add;
            add_tiny.push_back(a.tiny);
            add_tiny.push_back("tiny.txt");
            add.push_back(a.path);
            bool made;
            if (set[0] == 's') {
                add.push_back("@" + work + "/small.list");
                made = run_7z(add, "/usr/include");
            } else {
                add.push_back("large");
                made = run_7z(add, work.c_str());
            }
            if (!made || (access(a.tiny.c_str(), F_OK) != 0 && !run_7z(add_tiny, work.c_str()))) {
                fprintf(stderr, "extract_bench: 7z could not make %s\n", a.name.c_str());
                continue;
            }
            archives.push_back(a);
        }
    }

    if (chdir(work.c_str()) != 0)
        return 1;
    std::vector<uint8_t> decode_buffer(1u << 20);
    printf("Whole archives extracted: MB/s of ours, unzip -o -q and 7z x -y (each less its start-up),\n"
           "and the ratio ours / the faster reference\n");
    printf("  %-24s %9s %9s %9s %7s   %9s %9s %9s %7s\n", "", "cpu ours", "unzip", "7z", "ratio", "wall ours",
           "unzip", "7z", "ratio");
    for (Archive& a : archives) {
        Timing ours, unzip, unzip_start, seven, seven_start;
        bool ok = true;
        for (int r = 0; r < runs && ok; ++r) {
            remove_tree("out");
            ok = time_in_process(&ours, [&] { return extract_ours(a.path, decode_buffer.data()); });
            if (ok && r == 0)
                measure_tree("out", &a.bytes, &a.files);
            if (a.unzip_can) {
                remove_tree("out");
                ok = ok && time_program(&unzip, {"unzip", "-o", "-q", a.path, "-d", "out"});
                remove_tree("out");
                ok = ok && time_program(&unzip_start, {"unzip", "-o", "-q", a.tiny, "-d", "out"});
            }
            remove_tree("out");
            ok = ok && time_program(&seven, {"7z", "x", "-y", "-bd", std::string("-p") + kPassword, "-oout", a.path});
            uint64_t bytes;
            size_t files;
            if (ok && r == 0) {
                measure_tree("out", &bytes, &files);
                if (bytes != a.bytes || files != a.files) {
                    fprintf(stderr, "extract_bench: %s: ours gave %zu files of %llu bytes, 7z %zu of %llu\n",
                            a.name.c_str(), a.files, static_cast<unsigned long long>(a.bytes), files,
                            static_cast<unsigned long long>(bytes));
                    ok = false;
                }
            }
            remove_tree("out");
            ok = ok && time_program(&seven_start, {"7z", "x", "-y", "-bd", std::string("-p") + kPassword, "-oout",
                                                   a.tiny});
        }
        remove_tree("out");
        if (!ok) {
            printf("  %-24s failed\n", a.name.c_str());
            continue;
        }
        const Timing u = a.unzip_can ? less_start_up(unzip, unzip_start) : Timing();
        const Timing z = less_start_up(seven, seven_start);
        const double mb = a.bytes / 1e6;
        auto speed = [mb](double seconds) { return seconds < 1e30 ? mb / seconds : 0.0; };
        const double best_cpu = std::min(u.cpu, z.cpu), best_wall = std::min(u.wall, z.wall);
        char unzip_cpu[16] = "-", unzip_wall[16] = "-";
        if (a.unzip_can) {
            snprintf(unzip_cpu, sizeof unzip_cpu, "%.1f", speed(u.cpu));
            snprintf(unzip_wall, sizeof unzip_wall, "%.1f", speed(u.wall));
        }
        printf("  %-24s %9.1f %9s %9.1f %6.2fx   %9.1f %9s %9.1f %6.2fx   %zu files, %.0f MB\n", a.name.c_str(),
               speed(ours.cpu), unzip_cpu, speed(z.cpu), best_cpu / ours.cpu, speed(ours.wall), unzip_wall,
               speed(z.wall), best_wall / ours.wall, a.files, mb);
        fflush(stdout);
    }

    if (chdir("/") != 0)
        return 1;
    remove_tree(work);
    return 0;
}
