// The archive walk and the extraction of entries through an in-memory host:
// every method of the engine's own, the place codes of truncated archives,
// names, descriptors, the overwrite question, abort, spanning, the decoder
// slots, and the hostile archives that must leave nothing behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/dostime.h"
#include "stub/engine/unzip.h"
#include "tests/support/RecordingHooks.h"
#include "tests/unzip/MemoryHost.h"
#include "tests/unzip/ZipWriter.h"

using namespace zip_writer;

namespace {

struct Deflate64Fixture {
    const char* name;
    const uint8_t* data;
    size_t size;
    uint32_t plain_size;
    uint32_t crc;
};
#include "tests/engine/Deflate64Fixtures.inc"

const char kFolder[] = "C:\\dest";

// One extraction into C:\dest of an archive in memory.
class Extraction {
public:
    explicit Extraction(Bytes archive) : host(std::move(archive))
    {
        settings.host = &host;
        settings.archive_path = QlStr(QL("C:\\in\\setup.exe"));
        settings.unzip_folder = QlStr(QL("C:\\dest"));
        settings.total_size = 1 << 20;
        host.folders.insert(kFolder);
    }

    int run()
    {
        const int result = extract_all(settings);
        expect_clean();
        return result;
    }

    // Nothing outside the folder, no file left open or half-made: every file
    // there was closed with its time, after its checks.
    void expect_clean()
    {
        EXPECT_TRUE(host.faults.empty()) << host.faults.front();
        EXPECT_TRUE(host.open.empty());
        for (const auto& f : host.files) {
            EXPECT_EQ(f.first.rfind(std::string(kFolder) + "\\", 0), 0u) << f.first;
            EXPECT_TRUE(f.second.timed) << f.first << " was kept without its checks";
        }
        for (const std::string& d : host.folders)
            EXPECT_EQ(d.rfind(kFolder, 0), 0u) << d;
    }

    bool has(const std::string& name) const { return host.files.count(path(name)) > 0; }
    Bytes file(const std::string& name) const
    {
        auto it = host.files.find(path(name));
        return it == host.files.end() ? Bytes() : it->second.bytes;
    }
    static std::string path(const std::string& name) { return std::string(kFolder) + "\\" + name; }

    MemoryHost host;
    SfxExtractSettings settings;
};

// ------------------------------------------------------------------ methods

TEST(UnzipWalk, ExtractsEachMethodAloneAndInARow)
{
    struct Case {
        const char* what;
        Entry entry;
    };
    Entry d64;
    d64.name = "d64.bin";
    d64.method = 9;
    const Deflate64Fixture& f = kDeflate64Fixtures[1];
    d64.data.assign(f.data, f.data + f.size);
    const std::vector<Case> cases = {
        {"stored, empty", stored("e.txt", Bytes())},
        {"stored, one window", stored("w.bin", sample(0x7000))},
        {"stored, one window and a byte", stored("w1.bin", sample(0x7001))},
        {"deflated", deflated("d.txt", sample(100000))},
        {"deflated, empty", deflated("de.txt", Bytes())},
        {"deflate64", d64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Entry e = c.entry;
        Entry second = e;
        second.name = "sub/" + e.name;
        if (e.method == 9) {
            e.set_crc = second.set_crc = true;
            e.crc = second.crc = f.crc;
            e.set_sizes = second.set_sizes = true;
            e.compressed = second.compressed = uint32_t(f.size);
            e.uncompressed = second.uncompressed = f.plain_size;
        }
        Extraction x(archive({e, second}));
        ASSERT_EQ(x.run(), kSfxExtractDone) << x.host.error_id();
        EXPECT_EQ(extracted_entry_count(), 2u);
        for (const char* name : {e.name.c_str(), second.name.c_str()}) {
            std::string n = name;
            for (char& ch : n)
                ch = ch == '/' ? '\\' : ch;
            ASSERT_TRUE(x.has(n)) << n;
            const Bytes out = x.file(n);
            if (e.method == 9) {
                EXPECT_EQ(out.size(), f.plain_size);
                EXPECT_EQ(crc(out), f.crc);
            } else {
                EXPECT_EQ(out, e.plain);
            }
            const QlDosDateTime t = QlDosDateTime(e.date, e.time).Clamped();
            EXPECT_EQ(x.host.files[x.path(n)].date, t.Date());
            EXPECT_EQ(x.host.files[x.path(n)].time, t.Time());
        }
        EXPECT_TRUE(x.host.folders.count("C:\\dest\\sub"));
        EXPECT_TRUE(x.host.errors.empty());
    }
    EXPECT_TRUE(qlTakeHookReports().empty()) << "no zero-length handover, no misuse";
}

TEST(UnzipWalk, FileTimesAreClampedFieldByField)
{
    Entry e = stored("t.txt", text("x"));
    e.date = uint16_t((45 << 9) | (13 << 5) | 0);       // month 13, day 0
    e.time = uint16_t((25 << 11) | (61 << 5) | 31);     // 25:61:62
    Extraction x(archive({e}));
    ASSERT_EQ(x.run(), kSfxExtractDone);
    const QlDosFields got = QlDosDateTime(x.host.files[x.path("t.txt")].date,
                                          x.host.files[x.path("t.txt")].time).Unpack();
    EXPECT_EQ(got.month, 12);
    EXPECT_EQ(got.day, 1);
    EXPECT_EQ(got.hour, 23);
    EXPECT_EQ(got.minute, 59);
    EXPECT_EQ(got.second, 58);
}

TEST(UnzipWalk, ArchivesWithoutEntriesEndNormally)
{
    Bytes end_first = {'P', 'K', 5, 6};
    end_first.resize(22, 0);
    for (const Bytes& a : {directory(), end_first}) {
        Extraction x(a);
        EXPECT_EQ(x.run(), kSfxExtractDone);
        EXPECT_TRUE(x.host.errors.empty());
        EXPECT_TRUE(x.host.files.empty());
        EXPECT_EQ(extracted_entry_count(), 0u);
    }
}

TEST(UnzipWalk, StartsAtTheZipOffset)
{
    Bytes a(1000, 0xCC);
    const Bytes zip = archive({stored("a.txt", text("hello"))});
    a.insert(a.end(), zip.begin(), zip.end());
    Extraction x(a);
    x.settings.zip_offset = 1000;
    ASSERT_EQ(x.run(), kSfxExtractDone);
    EXPECT_EQ(x.file("a.txt"), text("hello"));

    Extraction unseekable(zip);
    unseekable.host.seek_fails = true;
    EXPECT_EQ(unseekable.run(), kSfxExtractFailed);
    EXPECT_EQ(unseekable.host.error_id(), kSfxTextIoError);
}

// ------------------------------------------------------------ truncation

TEST(UnzipWalk, TruncatedArchivesNameThePlace)
{
    Entry first = stored("a.txt", sample(100));
    first.extra = extra_field(0x4444, Bytes(8, 1));  // 12 bytes
    Entry deflate_entry = deflated("b.txt", sample(5000));
    const Bytes whole = archive({first, deflate_entry});
    // a.txt: signature 0-3, header 4-29, name 30-34, extra 35-46, data 47-146
    struct Case {
        size_t cut;
        int place;
        bool first_kept;
        const char* why;
    } cases[] = {
        {2, 9, false, "inside the first signature"},
        {10, 4, false, "inside the local header"},
        {32, 1, false, "inside the name"},
        {40, 1, false, "inside the extra field"},
        {100, 2, false, "inside stored data"},
        {147, 9, true, "after the entry, where the next signature belongs"},
        {149, 9, true, "inside the next signature"},
        {147 + 30 + 5 + 40, 2, true, "inside deflated data"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Extraction x(Bytes(whole.begin(), whole.begin() + c.cut));
        EXPECT_EQ(x.run(), kSfxExtractFailed);
        ASSERT_EQ(x.host.errors.size(), 1u);
        EXPECT_EQ(x.host.errors[0].id, kSfxTextReadError);
        EXPECT_EQ(x.host.errors[0].place, c.place);
        EXPECT_EQ(utf8(x.host.errors[0].text), "C:\\in\\setup.exe");
        EXPECT_EQ(x.has("a.txt"), c.first_kept);
        EXPECT_FALSE(x.has("b.txt"));
    }
}

// ------------------------------------------------------------------- names

TEST(UnzipWalk, NameLengthLimit)
{
    // 3120 bytes pass the walk but cannot form a Windows path; 3121 are
    // refused at the header.
    struct Case {
        size_t length;
        int id;
    } cases[] = {{3120, kSfxTextCantCreate}, {3121, kSfxTextNameTooLong}};
    for (const Case& c : cases) {
        Extraction x(archive({stored(std::string(c.length, 'n'), text("x"))}));
        EXPECT_EQ(x.run(), kSfxExtractFailed);
        EXPECT_EQ(x.host.error_id(), c.id) << c.length;
        EXPECT_TRUE(x.host.files.empty());
    }
}

TEST(UnzipWalk, NamesAreDecodedByTheirFlagsAndUnicodePath)
{
    const std::string utf8_name = "gr\xC3\xBC\xC3\x9F.txt";   // "grüß.txt"
    Entry marked = stored(utf8_name, text("1"));
    marked.flags = 0x800;
    Entry oem = stored("caf\x82.txt", text("2"));            // é in code page 437
    Entry ansi = stored("caf\xE9-a.txt", text("3"));          // é in code page 1252
    Entry unicode = stored("plain.txt", text("4"));
    unicode.extra = unicode_path_field(crc(text("plain.txt")), "\xE2\x82\xAC-unicode.txt");
    Entry wrong_crc = stored("kept.txt", text("5"));
    wrong_crc.extra = unicode_path_field(crc(text("other")), "ignored.txt");
    Entry too_long = stored("short.txt", text("6"));
    too_long.extra = unicode_path_field(crc(text("short.txt")), std::string(3121, 'u'));

    Extraction x(archive({marked, oem, ansi, unicode, wrong_crc, too_long}));
    ASSERT_EQ(x.run(), kSfxExtractDone) << x.host.error_id();
    EXPECT_EQ(x.file(utf8_name), text("1"));
    EXPECT_EQ(x.file("caf\xC3\xA9.txt"), text("2")) << "OEM name converted";
    EXPECT_EQ(x.file("caf\xC3\xA9-a.txt"), text("3")) << "ANSI name kept";
    EXPECT_EQ(x.file("\xE2\x82\xAC-unicode.txt"), text("4"));
    EXPECT_EQ(x.file("kept.txt"), text("5")) << "a Unicode path of another name is ignored";
    EXPECT_EQ(x.file("short.txt"), text("6")) << "a Unicode path longer than the buffer is ignored";
}

// -------------------------------------------------------------- descriptors

TEST(UnzipWalk, DataDescriptorsWithAndWithoutSignature)
{
    for (Descriptor d : {kSignedDescriptor, kBareDescriptor}) {
        Entry a = deflated("a.txt", sample(3000));
        a.descriptor = d;
        Entry b = stored("b.txt", sample(40, 7));
        b.descriptor = d;
        Extraction x(archive({a, b, stored("c.txt", text("after"))}));
        ASSERT_EQ(x.run(), kSfxExtractDone) << x.host.error_id();
        EXPECT_EQ(x.file("a.txt"), a.plain);
        EXPECT_EQ(x.file("b.txt"), b.plain);
        EXPECT_EQ(x.file("c.txt"), text("after"));
    }
}

TEST(UnzipWalk, Zip64RecordsGiveTheSizes)
{
    Entry e = stored("z.txt", sample(77));
    e.set_sizes = true;
    e.compressed = e.uncompressed = 0xFFFFFFFFu;
    Bytes values;
    put64(values, 77);
    put64(values, 77);
    e.extra = extra_field(0x0001, values);
    Extraction x(archive({e}));
    ASSERT_EQ(x.run(), kSfxExtractDone) << x.host.error_id();
    EXPECT_EQ(x.file("z.txt"), e.plain);
}

// -------------------------------------------------------- the user's answers

TEST(UnzipWalk, OverwriteQuestion)
{
    struct Case {
        SfxAnswer answer;
        int result;
        const char* existing_after;
        bool later_extracted;
    } cases[] = {
        {kSfxAnswerYes, kSfxExtractDone, "new", true},
        {kSfxAnswerNo, kSfxExtractDone, "old", true},
        {kSfxAnswerCancel, kSfxExtractCancelled, "old", false},
    };
    for (const Case& c : cases) {
        Extraction x(archive({deflated("a.txt", text("new")), stored("b.txt", text("b"))}));
        MemoryHost::File old;
        old.bytes = text("old");
        old.timed = true;
        x.host.files[x.path("a.txt")] = old;
        x.host.answers.push_back(c.answer);
        EXPECT_EQ(x.run(), c.result);
        ASSERT_EQ(x.host.questions.size(), 1u);
        EXPECT_EQ(x.host.questions[0].id, kSfxTextAskOverwrite);
        EXPECT_EQ(utf8(x.host.questions[0].text), x.path("a.txt"));
        EXPECT_EQ(x.file("a.txt"), text(c.existing_after));
        EXPECT_EQ(x.has("b.txt"), c.later_extracted);
        EXPECT_TRUE(x.host.errors.empty());
    }
    Extraction all(archive({stored("a.txt", text("new"))}));
    all.settings.overwrite_all = true;
    all.host.files[all.path("a.txt")].timed = true;
    EXPECT_EQ(all.run(), kSfxExtractDone);
    EXPECT_TRUE(all.host.questions.empty());
    EXPECT_EQ(all.file("a.txt"), text("new"));
}

TEST(UnzipWalk, AbortAndWriteErrorsLeaveNoFile)
{
    Extraction aborted(archive({stored("a.txt", sample(0x9000))}));
    aborted.host.abort_at_write = 1;
    EXPECT_EQ(aborted.run(), kSfxExtractFailed);
    EXPECT_TRUE(aborted.host.errors.empty()) << "the user's own abort shows nothing more";
    EXPECT_FALSE(aborted.has("a.txt"));

    Extraction full(archive({deflated("a.txt", sample(100))}));
    full.host.disk_full = true;
    EXPECT_EQ(full.run(), kSfxExtractFailed);
    EXPECT_EQ(full.host.error_id(), kSfxTextWriteError);
    EXPECT_FALSE(full.has("a.txt"));
}

TEST(UnzipWalk, MeterStaysWithinItsRange)
{
    // 0x30000 bytes: full windows move the meter at 0x15000 and 0x2A000 bytes
    // (the last window's rest does not). A total of 0 (a header record that
    // never got one) or one smaller than the data must not divide by zero or
    // pass 100.
    struct Case {
        uint32_t total;
        uint32_t last_percent;
    } cases[] = {{0, 100}, {50, 100}, {0x30000, 87}, {0xFFFFFFFFu, 0}};
    for (const Case& c : cases) {
        Extraction x(archive({stored("a.bin", sample(0x30000))}));
        x.settings.meter_in_use = true;
        x.settings.total_size = c.total;
        ASSERT_EQ(x.run(), kSfxExtractDone);
        ASSERT_EQ(x.host.progress.size(), 2u) << c.total;
        EXPECT_EQ(x.host.progress.back(), c.last_percent) << c.total;
        EXPECT_TRUE(x.host.unzipping.empty()) << "no status line while the meter is in use";
    }
    // The dialog may show the meter in the middle of a run: the engine
    // follows the live flag from then on.
    bool shown = false;
    Extraction live(archive({stored("a.bin", sample(10)), stored("b.bin", sample(0x30000))}));
    live.settings.meter_in_use = false;
    live.settings.live_meter_in_use = &shown;
    live.host.on_unzipping = [&shown] { shown = true; };
    ASSERT_EQ(live.run(), kSfxExtractDone);
    EXPECT_EQ(live.host.unzipping.size(), 1u) << "the status line until the meter shows";
    EXPECT_EQ(live.host.progress.size(), 2u);

    Extraction silent(archive({stored("a.bin", sample(0x30000))}));
    silent.settings.meter_in_use = true;
    silent.settings.silent = true;
    ASSERT_EQ(silent.run(), kSfxExtractDone);
    EXPECT_TRUE(silent.host.progress.empty());
}

// ----------------------------------------------------------------- spanning

TEST(UnzipWalk, SpannedArchivesContinueOnTheNextDisk)
{
    const Bytes whole = archive({stored("a.bin", sample(3000)), deflated("b.bin", sample(20000)),
                                 stored("c.bin", sample(10))});
    // a.bin's data 35-3034; b.bin's header from 3035.
    struct Case {
        size_t split;
        bool skip_a;
        const char* why;
    } cases[] = {
        {1000, false, "inside stored data"},
        {3035, false, "at a record's start"},
        {3035 + 30 + 5 + 100, false, "inside deflated data"},
        {1000, true, "inside data that is skipped"},
        {3035, true, "skipped data ends at the part's end"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Extraction x(Bytes(whole.begin(), whole.begin() + c.split));
        x.host.parts.push_back(Bytes(whole.begin() + c.split, whole.end()));
        x.settings.spanned = true;
        if (c.skip_a) {
            x.host.files[x.path("a.bin")].timed = true;
            x.host.answers.push_back(kSfxAnswerNo);
        }
        ASSERT_EQ(x.run(), kSfxExtractDone) << x.host.error_id();
        EXPECT_EQ(x.host.disks.front(), 1);
        EXPECT_EQ(x.host.disks.back(), 2);
        EXPECT_EQ(x.file("a.bin"), c.skip_a ? Bytes() : sample(3000));
        EXPECT_EQ(x.file("b.bin"), sample(20000));
        EXPECT_EQ(x.file("c.bin"), sample(10));
    }
}

TEST(UnzipWalk, StrayRecordsBetweenEntries)
{
    Bytes a = archive({stored("a.txt", text("a"))}, false);
    a.insert(a.end(), {'J', 'U', 'N', 'K', 'P', 'K', '0', '0'});
    const Bytes rest = archive({stored("b.txt", text("b"))});
    a.insert(a.end(), rest.begin(), rest.end());

    Extraction single(a);
    EXPECT_EQ(single.run(), kSfxExtractFailed);
    EXPECT_EQ(single.host.error_id(), kSfxTextBadHeader);
    EXPECT_TRUE(single.has("a.txt"));

    Extraction spanned(a);
    spanned.settings.spanned = true;
    EXPECT_EQ(spanned.run(), kSfxExtractDone);
    EXPECT_TRUE(spanned.has("b.txt"));
}

// ------------------------------------------------------------ decoder slots

struct ScriptedDecoder {
    static Bytes output;
    static int result;
    static bool hand_over_nothing;
    static int decode(const SfxDecodeJob& job)
    {
        Bytes in;
        uint8_t buffer[100];
        for (int32_t n; (n = job.source->fill(buffer, sizeof buffer)) > 0;)
            in.insert(in.end(), buffer, buffer + n);
        if (in.size() != job.compressed_size || job.buffer == nullptr)
            return kQlDecodeInvalid;
        if (hand_over_nothing && job.sink->take(output.data(), 0) != 0)
            return kQlDecodeInvalid;
        for (size_t at = 0; at < output.size(); at += 0x1000) {
            const uint32_t n = uint32_t(std::min<size_t>(0x1000, output.size() - at));
            const int answer = job.sink->take(output.data() + at, n);
            if (answer != 0)
                return answer;
        }
        return result;
    }
};
Bytes ScriptedDecoder::output;
int ScriptedDecoder::result = 0;
bool ScriptedDecoder::hand_over_nothing = false;

TEST(UnzipWalk, DecoderSlotsAndTheirMessages)
{
    struct Case {
        uint16_t method;
        int result;
        bool encrypted;
        int id;
        int phrase;
    } cases[] = {
        {14, 0, false, 0, 0},
        {14, kQlDecodeAborted, false, kSfxTextUnzipAborted, kSfxTextPhraseLzma},
        {96, kQlDecodeNoMemory, false, kSfxTextNoMemory, kSfxTextPhraseJpeg},
        {97, kQlDecodeUnknownHeader, false, kSfxTextUnknownHeader, kSfxTextPhraseWavPack},
        {97, kQlDecodeUnknownHeader, true, kSfxTextUnknownHeaderOrPassword, kSfxTextPhraseWavPack},
        {14, kQlDecodeBadData, false, kSfxTextInvalidData, kSfxTextPhraseLzma},
        {96, kQlDecodeInputEnded, true, kSfxTextInvalidDataOrPassword, kSfxTextPhraseJpeg},
        {98, 7, false, kSfxTextPpmdError, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.method << " " << c.result);
        ScriptedDecoder::output = sample(0x9000);
        ScriptedDecoder::result = c.result;
        Entry e;
        e.name = "m.bin";
        e.method = c.method;
        e.plain = ScriptedDecoder::output;
        e.data = sample(333, 5);
        if (c.encrypted)
            e.password = "pw";
        Extraction x(archive({e}));
        x.settings.password = "pw";
        x.settings.decoders = {&ScriptedDecoder::decode, &ScriptedDecoder::decode, &ScriptedDecoder::decode,
                               &ScriptedDecoder::decode};
        EXPECT_EQ(x.run(), c.id == 0 ? kSfxExtractDone : kSfxExtractFailed);
        EXPECT_EQ(x.host.error_id(), c.id);
        EXPECT_EQ(x.has("m.bin"), c.id == 0);
        if (c.id != 0) {
            EXPECT_EQ(x.host.errors.back().phrase, c.phrase);
            if (c.method == 98) {
                EXPECT_EQ(x.host.errors.back().numbers[0], c.result);
            }
        }
    }

    // A zero-length handover is an internal error of the decoder; nothing
    // is written for it and the entry goes on.
    ScriptedDecoder::result = 0;
    ScriptedDecoder::hand_over_nothing = true;
    Entry e;
    e.name = "z.bin";
    e.method = 98;
    e.plain = ScriptedDecoder::output;
    e.data = sample(10);
    Extraction x(archive({e}));
    x.settings.decoders.ppmd = &ScriptedDecoder::decode;
    EXPECT_EQ(x.run(), kSfxExtractDone);
    ScriptedDecoder::hand_over_nothing = false;
    const auto reports = qlTakeHookReports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].source, "extract");

    // A variant without the decoder refuses the method before any file.
    Extraction missing(archive({e}));
    EXPECT_EQ(missing.run(), kSfxExtractFailed);
    EXPECT_EQ(missing.host.error_id(), kSfxTextUnsupportedMethod);
    EXPECT_TRUE(missing.host.files.empty());
}

TEST(UnzipWalk, AbortInsideABlockDecoderIsItsMessage)
{
    // The decoder hands the sink's answer back, as the real ones do: the
    // user's abort ends the entry with the decoder's message for it.
    const struct {
        uint16_t method;
        int id;
        int phrase;
    } cases[] = {
        {14, kSfxTextUnzipAborted, kSfxTextPhraseLzma},
        {96, kSfxTextUnzipAborted, kSfxTextPhraseJpeg},
        {97, kSfxTextUnzipAborted, kSfxTextPhraseWavPack},
        {98, kSfxTextPpmdError, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        ScriptedDecoder::output = sample(0x9000);
        ScriptedDecoder::result = 0;
        Entry e;
        e.name = "m.bin";
        e.method = c.method;
        e.plain = ScriptedDecoder::output;
        e.data = sample(333, 5);
        Extraction x(archive({e}));
        x.settings.decoders = {&ScriptedDecoder::decode, &ScriptedDecoder::decode, &ScriptedDecoder::decode,
                               &ScriptedDecoder::decode};
        x.host.abort_at_write = 1;
        EXPECT_EQ(x.run(), kSfxExtractFailed);
        ASSERT_EQ(x.host.errors.size(), 1u);
        EXPECT_EQ(x.host.error_id(), c.id);
        EXPECT_EQ(x.host.errors.back().phrase, c.phrase);
        if (c.method == 98) {
            EXPECT_EQ(x.host.errors.back().numbers[0], kQlDecodeAborted);
        }
        EXPECT_FALSE(x.has("m.bin"));
    }
}

// ---------------------------------------------------------- hostile archives

TEST(UnzipWalk, HostileNamesAreRefusedAndNothingIsWritten)
{
    const char* const names[] = {
        "../x.txt", "a/../../x.txt", "..\\x.txt", "a\\..\\..\\x.txt", "a/.. /x.txt", "a/./x.txt", ".../x.txt",
        "/etc/x.txt", "\\x.txt", "//srv/share/x.txt", "\\\\srv\\share\\x.txt", "C:x.txt", "C:\\x.txt", "c:/x.txt",
        "con", "CON.txt", "con.tar.gz", "a/nul", "lpt1.log", "COM9", "conout$", "x.txt:stream", "a:b/x.txt",
        "x<y", "x>y", "x\"y", "x|y", "x?y", "x*y", "x\x01y", "x\ty",
    };
    for (const char* name : names) {
        SCOPED_TRACE(name);
        Extraction x(archive({stored(name, text("bad")), stored("after.txt", text("no"))}));
        x.settings.overwrite_all = true;
        EXPECT_EQ(x.run(), kSfxExtractFailed);
        EXPECT_EQ(x.host.error_id(), kSfxTextCantCreate);
        EXPECT_TRUE(x.host.files.empty());
        EXPECT_EQ(x.host.folders.size(), 1u) << "no folder made for it";
    }
    for (const char* name : {"../up/", "a/../../b/", "C:/x/", "con/"}) {
        SCOPED_TRACE(name);
        Extraction x(archive({stored(name, Bytes())}));
        EXPECT_EQ(x.run(), kSfxExtractFailed);
        EXPECT_EQ(x.host.error_id(), kSfxTextCantCreateFolder);
        EXPECT_EQ(x.host.folders.size(), 1u);
    }
    // Close to the limit: the folder counts.
    const std::string element(200, 'e');
    Extraction near(archive({stored(element + "/" + std::string(50, 'f'), text("ok"))}));
    EXPECT_EQ(near.run(), kSfxExtractDone);
    Extraction over(archive({stored(element + "/" + std::string(52, 'f'), text("no"))}));
    EXPECT_EQ(over.run(), kSfxExtractFailed);
    EXPECT_EQ(over.host.error_id(), kSfxTextCantCreate);
    EXPECT_TRUE(over.host.files.empty());
}

TEST(UnzipWalk, HostileStructuresAreRefusedAndNothingIsLeft)
{
    struct Case {
        const char* why;
        Entry entry;
        int id;
    };
    Entry bigger = stored("big.txt", sample(1000));
    bigger.set_sizes = true;
    bigger.compressed = 1000;
    bigger.uncompressed = 10;  // lies: the stored data is 1000 bytes
    Entry inflated_lie = deflated("bomb.txt", Bytes(200000, 'z'));
    inflated_lie.set_sizes = true;
    inflated_lie.compressed = uint32_t(deflate(inflated_lie.plain).size());
    inflated_lie.uncompressed = 100;
    Entry smaller = deflated("small.txt", sample(1000));
    smaller.set_sizes = true;
    smaller.compressed = uint32_t(deflate(smaller.plain).size());
    smaller.uncompressed = 5000;
    Entry bad_crc = deflated("crc.txt", sample(1000));
    bad_crc.set_crc = true;
    bad_crc.crc = 0x12345678;
    Entry deferred = deflated("deferred.txt", sample(1000));
    deferred.descriptor = kSignedDescriptor;
    deferred.set_sizes = true;  // zeros in the header, the sizes only behind the data
    Entry method99 = stored("aes.txt", text("x"));
    method99.method = 99;
    method99.data = text("0123456789abcdef0123456789");
    method99.password = "pw";
    Entry method12 = stored("bz.txt", text("x"));
    method12.method = 12;
    method12.data = text("BZh9");
    Entry huge = stored("huge.txt", text("x"));
    huge.set_sizes = true;
    huge.compressed = 1;
    huge.uncompressed = 0xFFFFFFFFu;
    Bytes values;
    put64(values, uint64_t(1) << 32);
    huge.extra = extra_field(0x0001, values);

    const std::vector<Case> cases = {
        {"stored data beyond the recorded size", bigger, kSfxTextSizeMismatch},
        {"inflated data beyond the recorded size", inflated_lie, kSfxTextSizeMismatch},
        {"less than the recorded size", smaller, kSfxTextSizeMismatch},
        {"a bad CRC", bad_crc, kSfxTextBadCrc},
        {"deferred sizes with zeros in the header", deferred, kSfxTextBadHeader},
        {"method 99 without an AES record", method99, kSfxTextUnsupportedMethod},
        {"a method without a decoder", method12, kSfxTextUnsupportedMethod},
        {"a Zip64 size of 2^32", huge, kSfxTextBadHeader},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Extraction x(archive({stored("before.txt", text("ok")), c.entry}));
        x.settings.password = "pw";
        EXPECT_EQ(x.run(), kSfxExtractFailed);
        EXPECT_EQ(x.host.error_id(), c.id);
        EXPECT_EQ(x.host.errors.size(), 1u);
        EXPECT_TRUE(x.has("before.txt"));
        EXPECT_EQ(x.host.files.size(), 1u) << "the failed entry left its file";
    }
    // Damaged Deflate data shows in the size or CRC check, never as a
    // decoder message.
    for (size_t at : {size_t(0), size_t(7), size_t(300)}) {
        Entry damaged = deflated("damaged.txt", sample(20000));
        damaged.data = deflate(damaged.plain);
        damaged.data[at] ^= 0x5A;
        Extraction x(archive({damaged}));
        EXPECT_EQ(x.run(), kSfxExtractFailed);
        EXPECT_TRUE(x.host.error_id() == kSfxTextSizeMismatch || x.host.error_id() == kSfxTextBadCrc)
            << at << ": " << x.host.error_id();
        EXPECT_TRUE(x.host.files.empty());
    }

    // A lying header stops the writing at once, not at the end.
    Extraction bomb(archive({inflated_lie}));
    bomb.run();
    EXPECT_LE(bomb.host.writes, 1);
    EXPECT_EQ(bomb.host.errors.at(0).numbers[1], 100);
}

TEST(UnzipWalk, FolderEntriesMakeFoldersAndSkipTheirData)
{
    Entry folder = stored("a/b/", sample(500));  // a folder that carries data
    Extraction x(archive({folder, stored("a/b/c.txt", text("c")), stored("e/", Bytes())}));
    ASSERT_EQ(x.run(), kSfxExtractDone) << x.host.error_id();
    EXPECT_TRUE(x.host.folders.count("C:\\dest\\a"));
    EXPECT_TRUE(x.host.folders.count("C:\\dest\\a\\b"));
    EXPECT_TRUE(x.host.folders.count("C:\\dest\\e"));
    EXPECT_EQ(x.file("a\\b\\c.txt"), text("c"));
    EXPECT_EQ(x.host.files.size(), 1u);

    // A file where a folder must go.
    Extraction blocked(archive({stored("a/c.txt", text("c"))}));
    blocked.host.files[blocked.path("a")].timed = true;
    EXPECT_EQ(blocked.run(), kSfxExtractFailed);
    EXPECT_EQ(blocked.host.error_id(), kSfxTextCantCreateFolder);
    EXPECT_EQ(utf8(blocked.host.errors[0].text), "C:\\dest\\a");

    // A folder where the file must go: not a question, a refusal.
    Extraction taken(archive({stored("a", text("c"))}));
    taken.host.folders.insert(taken.path("a"));
    EXPECT_EQ(taken.run(), kSfxExtractFailed);
    EXPECT_EQ(taken.host.error_id(), kSfxTextCantCreate);
    EXPECT_TRUE(taken.host.questions.empty());
}

}  // namespace
