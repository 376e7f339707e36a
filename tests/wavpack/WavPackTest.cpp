#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stub/engine/wunpack.h"
#include "tests/lzma/DecoderCases.h"
#include "tests/support/RecordingHooks.h"

using namespace decoder_cases;

namespace {

const uint16_t kWavPack = 97;

Bytes case_entry(const char* name, size_t index = 0)
{
    Bytes zip;
    EXPECT_TRUE(read_file(std::string(QL_CASES_DIR) + "/" + name + ".zip", &zip));
    const std::vector<ZipEntry> entries = read_entries(zip);
    return index < entries.size() ? entries[index].data : Bytes();
}

}  // namespace

TEST(WavPackEntry, GeneratedArchivesDecodeOrFailAsRecorded)
{
    // 8/16/24/32-bit, odd mono data with and without chunks after it, high
    // modes, 6 and 40 channels, whole buffers; big-endian, signed 8-bit and unsigned 16-bit streams refused;
    // cut and damaged streams.
    const char* cases[] = {"wv-widths", "wv-extra-chunks", "wv-high-mode", "wv-channels", "wv-buffer-multiples",
                           "wv-big-endian", "wv-signed-8bit", "wv-unsigned-16bit", "wv-truncated",
                           "wv-damaged"};
    size_t entries = 0;
    for (const char* name : cases)
        entries += check_case(QL_CASES_DIR, name, wavpack_decode_entry, kWavPack);
    EXPECT_EQ(entries, 20u);
}

TEST(WavPackEntry, StopsWithTheSinksAnswerOrAReadFailure)
{
    const Bytes data = case_entry("wv-buffer-multiples", 1);
    DecodeRun aborted;
    aborted.sink.refuse_at = 1;
    aborted.sink.refusal = kQlDecodeAborted;
    run_entry(wavpack_decode_entry, data, 2 * kDecodeBuffer, 0, &aborted);
    EXPECT_EQ(aborted.result, kQlDecodeAborted);
    EXPECT_EQ(aborted.sink.sizes.size(), 1u);

    DecodeRun failed;
    run_entry(wavpack_decode_entry, Bytes(data.begin(), data.begin() + data.size() / 2), 2 * kDecodeBuffer, 0,
              &failed, kEngineBlock, true);
    EXPECT_EQ(failed.result, kQlDecodeInvalid);

    DecodeRun garbage;
    run_entry(wavpack_decode_entry, Bytes(5000, 0x5A), 100, 0, &garbage);
    EXPECT_EQ(garbage.result, kQlDecodeInvalid);
    EXPECT_TRUE(garbage.sink.sizes.empty());
}

TEST(WavPackEntry, TakesItsInputInPiecesOfAnySize)
{
    Bytes expected;
    ASSERT_TRUE(read_file(std::string(QL_CASES_DIR) + "/wv-extra-chunks.expected/odd-mono8.wav", &expected));
    const Bytes data = case_entry("wv-extra-chunks");
    for (size_t piece : {size_t(1), size_t(31), size_t(kEngineBlock)}) {
        SCOPED_TRACE(piece);
        DecodeRun run;
        run_entry(wavpack_decode_entry, data, expected.size(), 0, &run, piece);
        EXPECT_EQ(run.result, kQlDecodeOk);
        EXPECT_TRUE(run.sink.bytes == expected);
    }
}

TEST(WavPackReader, PositionLeavesOutAPushedBackByte)
{
    const Bytes data = {1, 2, 3, 4, 5};
    PieceSource source(data, 2);
    WavPackEntryReader reader(&source, data.size());
    uint8_t got[8] = {};
    struct Step {
        int read;          // bytes to read, or -1: push back `value`
        int value;
        int answer;        // bytes read, or push_back's answer
        uint32_t position;
    } steps[] = {
        {-1, 9, -1, 0},    // nothing read yet: nothing to push back
        {3, 0, 3, 3},
        {-1, 3, 3, 2},     // the library's usual look-ahead
        {-1, 7, -1, 2},    // one byte only
        {1, 0, 1, 3},      // the pushed-back byte comes first
        {8, 0, 2, 5},      // then the rest, and the end
        {1, 0, 0, 5},
    };
    for (const Step& s : steps) {
        if (s.read < 0) {
            EXPECT_EQ(reader.push_back(s.value), s.answer);
        } else {
            EXPECT_EQ(reader.read(got, s.read), s.answer);
        }
        EXPECT_EQ(reader.position(), s.position);
    }
    EXPECT_EQ(got[0], 4);
    EXPECT_EQ(reader.length(), 5u);
    EXPECT_FALSE(reader.failed());
    EXPECT_TRUE(qlTakeHookReports().empty());
}

TEST(WavPackEntry, RefusesKindsItCannotRestoreAsBadData)
{
    // Streams that open and decode well, but whose samples the library gives
    // back in another layout than the original file's.
    for (const char* name : {"wv-big-endian", "wv-signed-8bit", "wv-unsigned-16bit"}) {
        SCOPED_TRACE(name);
        DecodeRun run;
        run_entry(wavpack_decode_entry, case_entry(name), 12000, 0, &run);
        EXPECT_EQ(run.result, kQlDecodeBadData);
        EXPECT_TRUE(run.sink.sizes.empty());
    }
}
