// The JPEG method's byte and bit I/O, its marker parser and its baseline
// Huffman re-encoder.
//
// Pure code: no Windows headers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stub/engine/bytestream.h"

// Integer exceptions of the parser and re-encoder (JpegEntryDecoder maps them).
enum JzipThrow {
    kJzipThrowInvalid = 2,     // a table the scan needs is missing, a symbol has no code
    kJzipThrowEnded = 1,       // the side block or the input ended inside a segment
    kJzipThrowShortWrite = 5,
    kJzipThrowNoMemory = 6,
    kJzipThrowWriteFailed = 7, // the output's sink refused (or the user aborted)
    kJzipThrowBadData = 50,    // coefficients the re-encoder cannot take
};

// Byte and bit I/O over a 512-byte buffer; the classes below supply the
// underlying reads and writes.
class QlBIO {
public:
    enum Mode { kRead = 0, kWrite = 1 };
    explicit QlBIO(Mode mode) : mode_(mode) {}
    virtual ~QlBIO() = default;
    QlBIO(const QlBIO&) = delete;
    QlBIO& operator=(const QlBIO&) = delete;

    // Bytes read (0 or less at the end), bytes written (negative on failure),
    // 0 on success.
    virtual int32_t Read(uint8_t* data, int32_t n) = 0;
    virtual int32_t Write(const uint8_t* data, int32_t n) = 0;
    virtual int Rewind() = 0;

    // The next byte, -1 at the end, -2 on a read error.
    int read_byte();
    // 0, -6 (Write failed) or -3 (a short write).
    int put_byte(uint8_t byte);
    // n <= 16 bits, most significant first, with a 0x00 after every 0xFF.
    int put_bits(uint32_t value, int n);
    // Write: pads the partial byte with 1 bits. Read: the leftover bits must
    // be 1 (else -5).
    int align();
    int flush();
    // flush, then Rewind (-4 on failure) and zero the counters.
    int reset();
    // Bytes passed through so far.
    uint64_t position() const { return passed_ + position_; }

protected:
    Mode mode_;

private:
    uint8_t buffer_[512];
    uint64_t passed_ = 0;
    uint32_t bits_ = 0;
    int bit_count_ = 0;
    uint32_t position_ = 0;
    uint32_t fill_ = 0;
};

// The memory side: a growable block read back from its start.
class QlMIO : public QlBIO {
public:
    explicit QlMIO(uint32_t capacity = 1024);
    ~QlMIO() override;

    int32_t Read(uint8_t* data, int32_t n) override;
    int32_t Write(const uint8_t* data, int32_t n) override;
    int Rewind() override;

    // Grows to `size` bytes (the old block stays on failure): the size.
    uint32_t grow(uint32_t size);
    uint8_t* data() { return data_; }
    uint32_t size() const { return size_; }
    // Empties the block for the next side block.
    void clear() { size_ = 0; position_ = 0; }

private:
    uint8_t* data_ = nullptr;
    uint32_t size_ = 0;
    uint32_t capacity_ = 0;
    uint32_t position_ = 0;
};

// The file side: output gathers in the decode buffer and goes to the sink
// in runs of at most half the buffer.
class QlJIO : public QlBIO {
public:
    QlJIO(uint8_t* buffer, uint32_t buffer_size, QlByteSink* sink);

    int32_t Read(uint8_t*, int32_t) override { return -1; }
    int32_t Write(const uint8_t* data, int32_t n) override;
    int Rewind() override { return 0; }

    // Hands on what is held: 0, or the sink's answer.
    int hand_on();
    // The sink's first refusal (0 while it takes everything).
    int sink_answer() const { return sink_answer_; }

private:
    uint8_t* buffer_;
    uint32_t run_;
    uint32_t held_ = 0;
    QlByteSink* sink_;
    int sink_answer_ = 0;
};

// A Huffman code table for the re-encoder.
struct JzipHuffman {
    uint16_t code[256];
    uint8_t length[256];  // 0: no code
};

struct JzipComponent {
    uint8_t id;
    uint8_t h;
    uint8_t v;
    uint8_t quant;
};

struct JzipFrame {
    uint32_t precision;
    uint32_t width;
    uint32_t height;
    uint32_t count;
    JzipComponent components[4];
};

struct JzipScanComponent {
    uint8_t index;     // into the frame's components
    uint8_t dc_table;  // 0-3
    uint8_t ac_table;  // 4-7
};

// The marker parser: copies every byte of a side block to the output and
// keeps what the scans need.
class JzipParser {
public:
    enum Flag {
        kSoi = 0x01, kSof = 0x02, kDht = 0x04, kDqt = 0x08, kDri = 0x10, kSos = 0x20, kEoi = 0x40,
    };
    enum Result {
        kOk = 0,
        kBadSegment = 2,
        kUnsupported = 3,
    };

    JzipParser(QlBIO& in, QlBIO& out) : in_(in), out_(out) {}

    // Parses until a start of scan has been handled or the end of the image
    // is seen (flags: kSos or kEoi). A Result; throws JzipThrow codes.
    int parse();
    // After kEoi: copies the rest of the side block.
    void copy_rest();

    uint32_t flags() const { return flags_; }
    const JzipFrame& frame() const { return frame_; }
    uint32_t scan_count() const { return scan_count_; }
    const JzipScanComponent* scan() const { return scan_; }
    uint32_t restart_interval() const { return restart_interval_; }
    const JzipHuffman& huffman(int slot) const { return huffman_[slot]; }
    // The quantisation table (zigzag, none 0), or null when never defined.
    const uint16_t* quant(int table) const
    {
        return (quant_defined_ >> table) & 1 ? quant_[table] : nullptr;
    }

private:
    int next();          // echoes the byte; throws kJzipThrowEnded at the end
    uint32_t next16();
    int segment(int marker);

    QlBIO& in_;
    QlBIO& out_;
    uint32_t flags_ = 0;
    bool sequential_ = false;
    JzipFrame frame_ = {};
    JzipScanComponent scan_[4] = {};
    uint32_t scan_count_ = 0;
    uint32_t restart_interval_ = 0;
    JzipHuffman huffman_[8] = {};
    uint16_t quant_[4][64] = {};
    uint32_t quant_defined_ = 0;
};

// Throws kJzipThrowWriteFailed or kJzipThrowShortWrite for a put result.
void jzip_check_put(int result);

// The baseline Huffman encoding of one scan's blocks, restart markers
// included.
class JzipHuffmanWriter {
public:
    JzipHuffmanWriter(QlBIO& out, const JzipParser& parser);
    // One block (zigzag order) of scan component `i`; throws kJzipThrowInvalid
    // for a symbol without a code.
    void put_block(uint32_t i, const int16_t* block);
    // Before every MCU: the restart marker when an interval has passed.
    void start_mcu();
    void end_scan();

private:
    void put_symbol(const JzipHuffman& table, int symbol);

    QlBIO& out_;
    const JzipParser& parser_;
    int32_t dc_[4] = {0, 0, 0, 0};
    uint32_t mcu_ = 0;
    uint32_t marker_ = 0;
};

// Where one scan's blocks lie: the MCU grid, each component's block rows,
// and the bands (each band of each component is one coded segment).
struct JzipScanLayout {
    uint32_t mcus_per_row;
    uint32_t mcu_rows;
    uint32_t band_rows;    // MCU rows per band (the last may be shorter)
    uint32_t count;        // scan components
    struct {
        uint32_t blocks_per_row;
        uint32_t h;        // blocks per MCU across and down (1 and 1 alone)
        uint32_t v;
    } c[4];
    uint64_t band_blocks;  // blocks in a full band, all components
};

// `band_exponent` k: bands of 2^(k + 6) MCUs, all rows when 0.
void jzip_scan_layout(const JzipParser& parser, uint32_t band_exponent, JzipScanLayout* layout);
