// The PPMd decoder over 7-Zip's streams (the cases of
// tools/ppmd/make-ppmd-fixtures.py) and over streams patched or cut here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "stub/engine/ppmddec.h"
#include "tests/lzma/DecoderCases.h"
#ifdef _WIN32
#include <cstdlib>
#include <new>

#include "common/memory.h"
#endif
#include "tests/support/RecordingHooks.h"

using namespace decoder_cases;

namespace {

// The entries of a generated case.
std::vector<ZipEntry> case_entries(const std::string& name)
{
    Bytes zip;
    if (!read_file(std::string(QL_PPMD_CASES) + "/" + name + ".zip", &zip))
        return {};
    return read_entries(zip);
}

Bytes expected_file(const std::string& name, const ZipEntry& e)
{
    Bytes bytes;
    EXPECT_TRUE(read_file(std::string(QL_PPMD_CASES) + "/" + name + ".expected/" + e.name, &bytes)) << name;
    return bytes;
}

struct Decoded {
    int result;
    Bytes bytes;
    std::vector<uint32_t> sizes;
};

// Decodes as the engine does: the 1 MiB buffer, the recorded size.
Decoded decode(const Bytes& data, uint64_t recorded_size, size_t piece = kEngineBlock, size_t refuse_at = 0,
               bool fail_at_end = false)
{
    DecodeRun run;
    run.sink.refuse_at = refuse_at;
    run.sink.refusal = kQlDecodeAborted;
    run_entry(ppmd_decode_entry, data, recorded_size, 0, &run, piece, fail_at_end);
    expect_whole_buffers(run.sink.sizes);
    return {run.result, run.sink.bytes, run.sink.sizes};
}

TEST(PpmdDecoder, SevenZipStreamsComeOutByteForByte)
{
    const struct {
        const char* name;
        const char* covers;
    } cases[] = {
        {"order2", "lowest order"},
        {"order6", "middle order"},
        {"order16", "highest order"},
        {"mem1m", "1 MiB model"},
        {"mem3m", "3 MiB model"},
        {"mem40m", "40 MiB model"},
        {"mx1", "level 1: restart"},
        {"mx5", "level 5: restart"},
        {"mx9", "level 9: cut-off"},
        {"full-restart", "memory full, restart method"},
        {"full-cutoff", "memory full, cut-off method"},
        {"exact-1mib", "one full buffer, no empty handover"},
        {"exact-2mib", "two full buffers, no empty handover"},
        {"two-entries", "two entries in a row, each on a fresh model"},
        {"freeze", "freeze method while the model never fills"},
        {"mem256m", "256 MiB model"},
    };
    for (const auto& c : cases) {
        const std::vector<ZipEntry> entries = case_entries(c.name);
        ASSERT_FALSE(entries.empty()) << c.name;
        for (const ZipEntry& e : entries) {
            const Bytes expected = expected_file(c.name, e);
            ASSERT_EQ(e.method, 98u) << c.name;
            const Decoded d = decode(e.data, e.size);
            EXPECT_EQ(d.result, kQlDecodeOk) << c.name << ": " << c.covers;
            EXPECT_TRUE(d.bytes == expected) << c.name << ": " << c.covers;
            // Full buffers, then the rest: never an empty one at the end.
            EXPECT_EQ(d.sizes.size(), (expected.size() + kDecodeBuffer - 1) / kDecodeBuffer) << c.name;
        }
    }
    EXPECT_TRUE(qlTakeHookReports().empty());
}

TEST(PpmdDecoder, RefusedAndCutStreamsAreBadData)
{
    const struct {
        const char* name;
        size_t entry;
        const char* reason;
    } cases[] = {
        {"order1", 0, "order 1 is refused"},
        {"restoration3", 0, "restoration methods stop at 2"},
        {"restoration15", 0, "restoration methods stop at 2"},
        {"truncated-half", 0, "input gone long before the end mark"},
        {"truncated-tail", 0, "the last bytes missing"},
        {"size-short", 0, "output would pass the recorded size"},
        {"good-then-truncated", 1, "a cut entry after a good one"},
    };
    for (const auto& c : cases) {
        const std::vector<ZipEntry> entries = case_entries(c.name);
        ASSERT_GT(entries.size(), c.entry) << c.name;
        for (size_t i = 0; i < c.entry; i++)
            EXPECT_EQ(decode(entries[i].data, entries[i].size).result, kQlDecodeOk) << c.name;
        const ZipEntry& e = entries[c.entry];
        const Decoded d = decode(e.data, e.size);
        EXPECT_EQ(d.result, kQlDecodeBadData) << c.name << ": " << c.reason;
        EXPECT_LE(d.bytes.size(), e.size) << c.name;
    }
}

TEST(PpmdDecoder, ParameterWord)
{
    const struct {
        uint16_t word;
        bool accepted;
        unsigned order;
        uint32_t memory_mib;
        unsigned restoration;
    } cases[] = {
        {0x0001, true, 2, 1, kPpmdRestart},
        {0x00F7, true, 8, 16, kPpmdRestart},
        {0x13FB, true, 12, 64, kPpmdCutOff},
        {0x2FFF, true, 16, 256, kPpmdFreeze},
        {0x0000, false, 1, 1, kPpmdRestart},
        {0x10F0, false, 1, 16, kPpmdCutOff},
        {0x3007, false, 8, 1, 3},
        {0xF00F, false, 16, 1, 15},
    };
    for (const auto& c : cases) {
        PpmdParameters p;
        EXPECT_EQ(ppmd_read_parameters(c.word, &p), c.accepted) << std::hex << c.word;
        EXPECT_EQ(p.order, c.order) << std::hex << c.word;
        EXPECT_EQ(p.memory_size, c.memory_mib << 20) << std::hex << c.word;
        EXPECT_EQ(p.restoration, c.restoration) << std::hex << c.word;
    }
}

TEST(PpmdDecoder, CutAnywhereStopsWithBadData)
{
    const ZipEntry e = case_entries("mx5").at(0);
    for (size_t keep = 0; keep < e.data.size(); keep += 1 + keep / 3) {
        const Bytes cut(e.data.begin(), e.data.begin() + keep);
        // With the recorded size, and with no size to stop at: the input
        // guard alone must end it.
        Decoded d = decode(cut, e.size);
        EXPECT_EQ(d.result, kQlDecodeBadData) << keep;
        EXPECT_LE(d.bytes.size(), e.size) << keep;
        d = decode(cut, UINT64_MAX);
        EXPECT_EQ(d.result, kQlDecodeBadData) << keep;
        EXPECT_LE(d.bytes.size(), 4 * e.size) << keep;
    }
}

TEST(PpmdDecoder, InputPiecesSinkRefusalAndReadFailure)
{
    const ZipEntry e = case_entries("exact-2mib").at(0);
    const Bytes expected = expected_file("exact-2mib", e);

    // The stream read a byte at a time comes out the same.
    Decoded d = decode(e.data, e.size, 1);
    EXPECT_EQ(d.result, kQlDecodeOk);
    EXPECT_TRUE(d.bytes == expected);

    // The sink's refusal ends the entry at once.
    d = decode(e.data, e.size, kEngineBlock, 1);
    EXPECT_EQ(d.result, kQlDecodeAborted);
    EXPECT_EQ(d.sizes.size(), 1u);

    // A read failure is not bad data.
    const Bytes cut(e.data.begin(), e.data.begin() + e.data.size() / 2);
    d = decode(cut, e.size, kEngineBlock, 0, true);
    EXPECT_EQ(d.result, kQlDecodeInvalid);

    // Fewer than the two bytes of the parameter word.
    EXPECT_EQ(decode(Bytes(e.data.begin(), e.data.begin() + 1), e.size).result, kQlDecodeBadData);
    EXPECT_EQ(decode(Bytes(), e.size).result, kQlDecodeBadData);
}

TEST(PpmdDecoder, ModelMemoryBelowTheMinimumIsRefused)
{
    const ZipEntry e = case_entries("order6").at(0);
    const Bytes stream(e.data.begin() + 2, e.data.end());
    Bytes memory(kPpmdMinMemory + 4), buffer(4096);
    const PpmdParameters parameters[] = {
        {6, kPpmdMinMemory - 1, kPpmdRestart},
        {1, 1 << 20, kPpmdRestart},
        {17, 1 << 20, kPpmdRestart},
        {6, 1 << 20, 3},
    };
    for (const PpmdParameters& p : parameters) {
        PieceSource source(stream, kEngineBlock);
        RecordingSink sink;
        EXPECT_EQ(ppmd_decode_stream(p, memory.data(), &source, &sink, buffer.data(), 4096, e.size),
                  kQlDecodeBadData);
        EXPECT_TRUE(sink.sizes.empty());
    }
}

#ifdef _WIN32
// The stub's out-of-memory handler ends the program: a model block that does
// not fit must come back as "not enough memory", and the handler stay.
TEST(PpmdDecoder, ModelThatDoesNotFitIsOutOfMemory)
{
    const ZipEntry e = case_entries("mem256m").at(0);
    // Take the address space in large blocks, so that 256 MiB no longer fit
    // anywhere while small allocations still do.
    std::vector<void*> held;
    for (size_t block = 128u << 20; block >= (16u << 20); block /= 2)
        while (void* p = std::malloc(block))
            held.push_back(p);
    qlMemSetNewHandler();
    const Decoded d = decode(e.data, e.size);
    const bool handler_kept = std::get_new_handler() != nullptr;
    qlMemClearNewHandler();
    for (void* p : held)
        std::free(p);
    EXPECT_EQ(d.result, kQlDecodeNoMemory);
    EXPECT_TRUE(d.sizes.empty());
    EXPECT_TRUE(handler_kept);
    // With the memory back, the same entry decodes.
    EXPECT_EQ(decode(e.data, e.size).result, kQlDecodeOk);
}
#endif

}  // namespace
