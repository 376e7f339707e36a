// PPMd variant I, revision 1: the context model with its sub-allocator and
// the carry-less range decoder, as Zip method 98 stores them.
#include "stub/engine/ppmddec.h"

#include <cstdlib>
#include <cstring>

#include "stub/engine/decodermemory.h"

namespace {

// ---------------------------------------------------------------- constants

const unsigned kMaxOrder = 16;
// States collected along one suffix chain: one per order, with room to spare.
const unsigned kChainLimit = 4 * kMaxOrder + 1;
const unsigned kMaxFreq = 124;
const uint32_t kUnitSize = 12;
const unsigned kIndexCount = 38;  // size classes of the sub-allocator
const unsigned kIntBits = 7;
const unsigned kPeriodBits = 7;
const uint32_t kBinScale = 1u << (kIntBits + kPeriodBits);
const uint32_t kTop = 1u << 24;
const uint32_t kBot = 1u << 15;
const uint32_t kEmptyNode = 0xFFFFFFFF;
// The method a frozen model goes on with once its memory was full.
const unsigned kFrozen = kPpmdFreeze + 1;
// The encoder's flush ends the stream with these bytes of its low register;
// a decoder that needs more input than that has a truncated stream.
const unsigned kFlushBytes = 4;

const uint16_t kInitBinEsc[8] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3, 0x64A1, 0x5ABC, 0x6632, 0x6051};
const uint8_t kExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};

// Tables built once: units per size class and back, the quantisation of
// symbol counts and frequencies, the binary-context index by symbol count.
struct Tables {
    uint8_t index_to_units[kIndexCount];
    uint8_t units_to_index[128];
    uint8_t ns_to_index[260];
    uint8_t ns_to_bs_index[256];

    constexpr Tables() : index_to_units(), units_to_index(), ns_to_index(), ns_to_bs_index()
    {
        unsigned k = 0;
        for (unsigned i = 0; i < kIndexCount; i++) {
            unsigned step = i >= 12 ? 4 : (i >> 2) + 1;
            do {
                units_to_index[k++] = static_cast<uint8_t>(i);
            } while (--step);
            index_to_units[i] = static_cast<uint8_t>(k);
        }
        ns_to_bs_index[0] = 0;
        ns_to_bs_index[1] = 2;
        for (unsigned i = 2; i < 11; i++)
            ns_to_bs_index[i] = 4;
        for (unsigned i = 11; i < 256; i++)
            ns_to_bs_index[i] = 6;
        unsigned i = 0;
        for (; i < 5; i++)
            ns_to_index[i] = static_cast<uint8_t>(i);
        for (unsigned m = i, run = 1; i < 260; i++) {
            ns_to_index[i] = static_cast<uint8_t>(m);
            if (--run == 0)
                run = ++m - 4;
        }
    }
};
constexpr Tables kTables;

// ---------------------------------------------------------------- records
// Every record lives in the model block and refers to others by offset.

// A symbol of a context: its frequency and the context that follows it (or
// a position in the text area while that context has not been made).
struct State {
    uint8_t symbol;
    uint8_t freq;
    uint16_t successor_low;
    uint16_t successor_high;
};

// A context: with one symbol (num_stats 0) the symbol's state sits in place
// of summ_freq and stats.
struct Context {
    uint8_t num_stats;   // symbols - 1
    uint8_t flags;       // 0x04 rescaled, 0x08 a symbol >= 0x40, 0x10 made after a symbol >= 0x40
    uint16_t summ_freq;
    uint32_t stats;
    uint32_t suffix;
};

// A free block of units.
struct Node {
    uint32_t stamp;  // kEmptyNode while free
    uint32_t next;
    uint32_t nu;     // units
};

// Secondary escape estimation.
struct See {
    uint16_t summ;
    uint8_t shift;
    uint8_t count;
};

static_assert(sizeof(State) == 6, "a state is half a unit");
static_assert(sizeof(Context) == kUnitSize && sizeof(Node) == kUnitSize, "one unit");

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
// The two halves, low first, are one little-endian word: one load.
inline uint32_t successor(const State* s)
{
    uint32_t v;
    memcpy(&v, &s->successor_low, sizeof v);
    return v;
}

inline void set_successor(State* s, uint32_t v)
{
    memcpy(&s->successor_low, &v, sizeof v);
}
#else
inline uint32_t successor(const State* s)
{
    return s->successor_low | (static_cast<uint32_t>(s->successor_high) << 16);
}

inline void set_successor(State* s, uint32_t v)
{
    s->successor_low = static_cast<uint16_t>(v);
    s->successor_high = static_cast<uint16_t>(v >> 16);
}
#endif

inline State* one_state(Context* c)
{
    return reinterpret_cast<State*>(&c->summ_freq);
}

inline void swap_states(State* a, State* b)
{
    State t = *a;
    *a = *b;
    *b = t;
}

inline unsigned units_to_index(unsigned nu)
{
    return kTables.units_to_index[nu - 1];
}

inline unsigned index_to_units(unsigned index)
{
    return kTables.index_to_units[index];
}

// ---------------------------------------------------------------- input

// Bytes from the source; past its end, zeros.
class Input {
public:
    explicit Input(QlByteSource* source) : source_(source) {}

    uint8_t next_byte() { return next_ != end_ ? *next_++ : refill(); }

    // The decoder has taken more zeros than the stream's flush accounts for.
    bool overrun() const { return zeros_ > kFlushBytes; }
    bool read_failed() const { return read_failed_; }

private:
    uint8_t refill()
    {
        if (!ended_) {
            int32_t n = source_->fill(buffer_, sizeof buffer_);
            if (n > 0 && static_cast<uint32_t>(n) <= sizeof buffer_) {
                next_ = buffer_;
                end_ = buffer_ + n;
                return *next_++;
            }
            ended_ = true;
            read_failed_ = n != 0;
        }
        if (zeros_ <= kFlushBytes)
            ++zeros_;
        return 0;
    }

    QlByteSource* source_;
    uint8_t buffer_[4096];
    const uint8_t* next_ = nullptr;
    const uint8_t* end_ = nullptr;
    bool ended_ = false;
    bool read_failed_ = false;
    unsigned zeros_ = 0;
};

// ---------------------------------------------------------------- range decoder

// The carry-less range decoder; the code is kept relative to low. The model
// works on a copy in locals for each symbol: the model's stores go through
// byte pointers, which could alias the decoder's fields in memory.
struct RangeDecoder {
    uint32_t low;
    uint32_t range;
    uint32_t code;
    Input* input;

    void start(Input* in)
    {
        input = in;
        low = 0;
        range = 0xFFFFFFFF;
        code = 0;
        for (int i = 0; i < 4; i++)
            code = (code << 8) | input->next_byte();
    }
    // Splits the range into `total` parts. Which part the code lies in is
    // then found without a second division: code / range < x exactly when
    // code < x * range (taken in 64 bits, so that no x can wrap it). A range
    // that the split leaves empty holds no part at all: the model then
    // refuses the data.
    void divide(uint32_t total) { range /= total; }
    bool below(uint32_t x) const { return code < uint64_t(x) * range; }
    // For a walk over many parts: code / range once, so that below(x) is
    // threshold() < x (an empty range gives the largest value, below nothing).
    uint32_t threshold() const { return range != 0 ? code / range : 0xFFFFFFFF; }
    void decode(uint32_t start, uint32_t size)
    {
        start *= range;
        low += start;
        code -= start;
        range *= size;
        normalize();
    }
    void normalize()
    {
        for (;;) {
            if ((low ^ (low + range)) >= kTop) {
                if (range >= kBot)
                    break;
                range = (0 - low) & (kBot - 1);
            }
            code = (code << 8) | input->next_byte();
            range <<= 8;
            low <<= 8;
        }
    }
};

// ---------------------------------------------------------------- the model

// decode_symbol's answers besides a byte.
enum { kEndMark = -1, kBadSymbol = -2 };

class Model {
public:
    Model(Input* input, uint8_t* memory, const PpmdParameters& parameters);

    // A byte, kEndMark at the end-of-stream escape, or kBadSymbol.
    int decode_symbol();

private:
    // --- addresses in the block
    uint8_t* at(uint32_t ref) { return base_ + ref; }
    uint32_t ref(const void* p) const { return static_cast<uint32_t>(static_cast<const uint8_t*>(p) - base_); }
    Context* context(uint32_t ref) { return reinterpret_cast<Context*>(base_ + ref); }
    Context* suffix(Context* c) { return context(c->suffix); }
    State* stats(Context* c) { return reinterpret_cast<State*>(base_ + c->stats); }
    Node* node(uint32_t ref) { return reinterpret_cast<Node*>(base_ + ref); }
    bool in_units(uint32_t ref) const { return ref >= units_start_; }
    // The context that follows a found symbol is most often the next one
    // decoded in: asked of memory while the update runs.
    void prefetch_successor(const State* s) const { __builtin_prefetch(base_ + successor(s)); }

    // --- sub-allocator
    void insert_node(uint32_t block, unsigned index);
    uint32_t remove_node(unsigned index);
    void split_block(uint32_t block, unsigned old_index, unsigned new_index);
    void glue_free_blocks();
    uint32_t alloc_units_rare(unsigned index);
    uint32_t alloc_units(unsigned index);
    uint32_t alloc_context();
    uint32_t shrink_units(uint32_t block, unsigned old_nu, unsigned new_nu);
    void free_units(uint32_t block, unsigned nu) { insert_node(block, units_to_index(nu)); }
    void special_free_unit(uint32_t block);
    uint32_t move_units_up(uint32_t block, unsigned nu);
    void expand_text_area();
    uint32_t used_memory() const;

    // --- model
    void restart_model();
    void rescale();
    void next_context();
    void update1();
    void update1_0();
    void update_bin();
    void update2();
    void update_model();
    Context* create_successors(bool skip, State* s1, Context* c);
    Context* reduce_order(State* s1, Context* c);
    void restore_model(Context* c1, Context* f_successor);
    void refresh(Context* c, unsigned old_nu, unsigned scale);
    uint32_t cut_off(Context* c, unsigned order);
    uint32_t remove_bin_contexts(Context* c, unsigned order);
    See* make_esc_freq(unsigned num_masked, uint32_t* esc_freq);
    uint16_t* bin_summ();
    // Every symbol open again, for the next symbol's escapes.
    void open_all() { memset(open_, 0xFF, sizeof open_); }
    // All ones for an open symbol, 0 for a masked one: it masks a frequency
    // without a branch.
    uint32_t open_mask(const State* s) const { return static_cast<uint32_t>(static_cast<int32_t>(open_[s->symbol])); }

    RangeDecoder rc_;

    // Block: [base + align: text area | units from units_start_ | free gap
    // lo_unit_..hi_unit_ | contexts from hi_unit_ to the end].
    uint8_t* base_;
    uint32_t size_;
    uint32_t align_;
    uint32_t text_ = 0;
    uint32_t units_start_ = 0;
    uint32_t lo_unit_ = 0;
    uint32_t hi_unit_ = 0;
    uint32_t glue_count_ = 0;
    uint32_t free_list_[kIndexCount];
    uint32_t stamps_[kIndexCount];

    // Model state.
    Context* min_context_ = nullptr;
    Context* max_context_ = nullptr;
    State* found_state_ = nullptr;
    unsigned max_order_;
    unsigned restoration_;
    unsigned order_fall_ = 0;
    unsigned init_esc_ = 0;
    unsigned prev_success_ = 0;
    int32_t run_length_ = 0;
    int32_t init_rl_ = 0;

    // Symbols seen in the contexts escaped from: 0 once masked, else all
    // ones (a byte, so that opening them all again is a short fill).
    int8_t open_[256];

    uint16_t bin_summ_[25][64];
    See see_[24][32];
    See dummy_see_;
};

Model::Model(Input* input, uint8_t* memory, const PpmdParameters& parameters)
    : base_(memory), size_(parameters.memory_size),
      max_order_(parameters.order), restoration_(parameters.restoration)
{
    // Units are 4-aligned records at the block's end; the text never starts
    // at offset 0, which means "no successor".
    const uintptr_t end = reinterpret_cast<uintptr_t>(memory) + size_;
    align_ = 4 - static_cast<uint32_t>(end & 3);
    open_all();
    // Never read: it keeps a shift that stops every update of its own.
    dummy_see_.summ = 0xAF8F;
    dummy_see_.shift = 0xAC;
    dummy_see_.count = 0x84;
    restart_model();
    rc_.start(input);
}

// ---------------------------------------------------------------- sub-allocator

void Model::insert_node(uint32_t block, unsigned index)
{
    Node* n = node(block);
    n->stamp = kEmptyNode;
    n->next = free_list_[index];
    n->nu = index_to_units(index);
    free_list_[index] = block;
    stamps_[index]++;
}

uint32_t Model::remove_node(unsigned index)
{
    uint32_t block = free_list_[index];
    free_list_[index] = node(block)->next;
    stamps_[index]--;
    return block;
}

void Model::split_block(uint32_t block, unsigned old_index, unsigned new_index)
{
    unsigned nu = index_to_units(old_index) - index_to_units(new_index);
    block += index_to_units(new_index) * kUnitSize;
    unsigned i = units_to_index(nu);
    if (index_to_units(i) != nu) {
        unsigned k = index_to_units(--i);
        insert_node(block + k * kUnitSize, nu - k - 1);
    }
    insert_node(block, i);
}

void Model::glue_free_blocks()
{
    uint32_t head = 0;
    uint32_t* prev = &head;
    glue_count_ = 1 << 13;
    memset(stamps_, 0, sizeof stamps_);

    // The order-0 context closes the units at the top; the gap needs a guard.
    if (lo_unit_ != hi_unit_)
        node(lo_unit_)->stamp = 0;

    for (unsigned i = 0; i < kIndexCount; i++) {
        uint32_t next = free_list_[i];
        free_list_[i] = 0;
        while (next != 0) {
            Node* n = node(next);
            if (n->nu != 0) {
                *prev = next;
                prev = &n->next;
                for (;;) {
                    Node* n2 = node(next + n->nu * kUnitSize);
                    if (n2->stamp != kEmptyNode)
                        break;
                    n->nu += n2->nu;
                    n2->nu = 0;
                }
            }
            next = n->next;
        }
    }
    *prev = 0;

    while (head != 0) {
        uint32_t block = head;
        Node* n = node(block);
        head = n->next;
        unsigned nu = n->nu;
        if (nu == 0)
            continue;
        for (; nu > 128; nu -= 128, block += 128 * kUnitSize)
            insert_node(block, kIndexCount - 1);
        unsigned i = units_to_index(nu);
        if (index_to_units(i) != nu) {
            unsigned k = index_to_units(--i);
            insert_node(block + k * kUnitSize, nu - k - 1);
        }
        insert_node(block, i);
    }
}

uint32_t Model::alloc_units_rare(unsigned index)
{
    if (glue_count_ == 0) {
        glue_free_blocks();
        if (free_list_[index] != 0)
            return remove_node(index);
    }
    unsigned i = index;
    do {
        if (++i == kIndexCount) {
            uint32_t bytes = index_to_units(index) * kUnitSize;
            glue_count_--;
            if (units_start_ - text_ > bytes) {
                units_start_ -= bytes;
                return units_start_;
            }
            return 0;
        }
    } while (free_list_[i] == 0);
    uint32_t block = remove_node(i);
    split_block(block, i, index);
    return block;
}

uint32_t Model::alloc_units(unsigned index)
{
    if (free_list_[index] != 0)
        return remove_node(index);
    uint32_t bytes = index_to_units(index) * kUnitSize;
    if (bytes <= hi_unit_ - lo_unit_) {
        uint32_t block = lo_unit_;
        lo_unit_ += bytes;
        return block;
    }
    return alloc_units_rare(index);
}

uint32_t Model::alloc_context()
{
    if (hi_unit_ != lo_unit_)
        return hi_unit_ -= kUnitSize;
    if (free_list_[0] != 0)
        return remove_node(0);
    return alloc_units_rare(0);
}

uint32_t Model::shrink_units(uint32_t block, unsigned old_nu, unsigned new_nu)
{
    unsigned i0 = units_to_index(old_nu);
    unsigned i1 = units_to_index(new_nu);
    if (i0 == i1)
        return block;
    if (free_list_[i1] != 0) {
        uint32_t moved = remove_node(i1);
        memmove(at(moved), at(block), new_nu * kUnitSize);
        insert_node(block, i0);
        return moved;
    }
    split_block(block, i0, i1);
    return block;
}

void Model::special_free_unit(uint32_t block)
{
    if (block != units_start_) {
        insert_node(block, 0);
    } else {
        // Marked, so that a frozen model's clean-up sees the context gone.
        node(block)->stamp = kEmptyNode;
        units_start_ += kUnitSize;
    }
}

uint32_t Model::move_units_up(uint32_t block, unsigned nu)
{
    unsigned index = units_to_index(nu);
    if (block > units_start_ + 16 * 1024 || block > free_list_[index])
        return block;
    uint32_t moved = remove_node(index);
    memmove(at(moved), at(block), nu * kUnitSize);
    if (block != units_start_)
        insert_node(block, index);
    else
        units_start_ += index_to_units(index) * kUnitSize;
    return moved;
}

void Model::expand_text_area()
{
    uint32_t count[kIndexCount];
    memset(count, 0, sizeof count);
    if (lo_unit_ != hi_unit_)
        node(lo_unit_)->stamp = 0;

    // Free blocks at the start of the units give their room to the text.
    uint32_t block = units_start_;
    while (node(block)->stamp == kEmptyNode) {
        Node* n = node(block);
        n->stamp = 0;
        count[units_to_index(n->nu)]++;
        block += n->nu * kUnitSize;
    }
    units_start_ = block;

    for (unsigned i = 0; i < kIndexCount; i++) {
        uint32_t* next = &free_list_[i];
        while (count[i] != 0) {
            Node* n = node(*next);
            while (n->stamp == 0) {
                *next = n->next;
                n = node(*next);
                stamps_[i]--;
                if (--count[i] == 0)
                    break;
            }
            next = &n->next;
        }
    }
}

uint32_t Model::used_memory() const
{
    uint32_t units = 0;
    for (unsigned i = 0; i < kIndexCount; i++)
        units += stamps_[i] * index_to_units(i);
    return size_ - (hi_unit_ - lo_unit_) - (units_start_ - text_) - units * kUnitSize;
}

// ---------------------------------------------------------------- model start

void Model::restart_model()
{
    memset(free_list_, 0, sizeof free_list_);
    memset(stamps_, 0, sizeof stamps_);
    text_ = align_;
    hi_unit_ = text_ + size_;
    lo_unit_ = units_start_ = hi_unit_ - size_ / 8 / kUnitSize * 7 * kUnitSize;
    glue_count_ = 0;

    order_fall_ = max_order_;
    run_length_ = init_rl_ = -static_cast<int32_t>(max_order_ < 12 ? max_order_ : 12) - 1;
    prev_success_ = 0;

    hi_unit_ -= kUnitSize;
    min_context_ = max_context_ = context(hi_unit_);
    min_context_->suffix = 0;
    min_context_->num_stats = 255;
    min_context_->flags = 0;
    min_context_->summ_freq = 256 + 1;
    State* s = reinterpret_cast<State*>(at(lo_unit_));
    min_context_->stats = lo_unit_;
    lo_unit_ += 256 / 2 * kUnitSize;
    found_state_ = s;
    for (unsigned i = 0; i < 256; i++) {
        s[i].symbol = static_cast<uint8_t>(i);
        s[i].freq = 1;
        set_successor(&s[i], 0);
    }

    for (unsigned i = 0, m = 0; m < 25; m++) {
        while (kTables.ns_to_index[i] == m)
            i++;
        for (unsigned k = 0; k < 8; k++) {
            uint16_t value = static_cast<uint16_t>(kBinScale - kInitBinEsc[k] / (i + 1));
            for (unsigned r = 0; r < 64; r += 8)
                bin_summ_[m][k + r] = value;
        }
    }
    for (unsigned i = 0, m = 0; m < 24; m++) {
        while (kTables.ns_to_index[i + 3] == m + 3)
            i++;
        for (unsigned k = 0; k < 32; k++) {
            See* see = &see_[m][k];
            see->shift = kPeriodBits - 4;
            see->summ = static_cast<uint16_t>((2 * i + 5) << see->shift);
            see->count = 7;
        }
    }
}

// ---------------------------------------------------------------- statistics

void Model::rescale()
{
    State* first = stats(min_context_);
    State* s = found_state_;
    // The found symbol moves to the front.
    if (s != first) {
        State found = *s;
        for (; s != first; s--)
            s[0] = s[-1];
        *s = found;
    }
    unsigned esc_freq = min_context_->summ_freq - s->freq;
    s->freq += 4;
    unsigned adder = order_fall_ != 0 || restoration_ > kPpmdFreeze;
    s->freq = static_cast<uint8_t>((s->freq + adder) >> 1);
    unsigned sum_freq = s->freq;

    unsigned i = min_context_->num_stats;
    do {
        esc_freq -= (++s)->freq;
        s->freq = static_cast<uint8_t>((s->freq + adder) >> 1);
        sum_freq += s->freq;
        if (s[0].freq > s[-1].freq) {
            State moving = *s;
            State* t = s;
            do
                t[0] = t[-1];
            while (--t != first && moving.freq > t[-1].freq);
            *t = moving;
        }
    } while (--i);

    if (s->freq == 0) {
        unsigned num_stats = min_context_->num_stats;
        do {
            i++;
        } while ((--s)->freq == 0);
        esc_freq += i;
        min_context_->num_stats = static_cast<uint8_t>(min_context_->num_stats - i);
        if (min_context_->num_stats == 0) {
            State only = *first;
            only.freq = static_cast<uint8_t>((2 * only.freq + esc_freq - 1) / esc_freq);
            if (only.freq > kMaxFreq / 3)
                only.freq = kMaxFreq / 3;
            insert_node(ref(first), units_to_index((num_stats + 2) >> 1));
            found_state_ = one_state(min_context_);
            *found_state_ = only;
            min_context_->flags = static_cast<uint8_t>((min_context_->flags & 0x10) + 0x08 * (only.symbol >= 0x40));
            return;
        }
        unsigned n0 = (num_stats + 2) >> 1;
        unsigned n1 = (min_context_->num_stats + 2) >> 1;
        if (n0 != n1)
            min_context_->stats = shrink_units(min_context_->stats, n0, n1);
        uint8_t flags = min_context_->flags & ~0x08;
        s = stats(min_context_);
        for (unsigned k = 0; k <= min_context_->num_stats; k++)
            flags |= 0x08 * (s[k].symbol >= 0x40);
        min_context_->flags = flags;
    }
    min_context_->summ_freq = static_cast<uint16_t>(sum_freq + esc_freq - (esc_freq >> 1));
    min_context_->flags |= 0x04;
    found_state_ = stats(min_context_);
}

See* Model::make_esc_freq(unsigned num_masked, uint32_t* esc_freq)
{
    Context* mc = min_context_;
    unsigned num_stats = mc->num_stats;
    if (num_stats == 0xFF) {
        *esc_freq = 1;
        return &dummy_see_;
    }
    See* see = see_[kTables.ns_to_index[num_stats + 2] - 3] + (mc->summ_freq > 11 * (num_stats + 1)) +
               2 * (2 * num_stats < suffix(mc)->num_stats + num_masked) + mc->flags;
    unsigned r = see->summ >> see->shift;
    see->summ = static_cast<uint16_t>(see->summ - r);
    *esc_freq = r + (r == 0);
    return see;
}

uint16_t* Model::bin_summ()
{
    Context* mc = min_context_;
    return &bin_summ_[kTables.ns_to_index[one_state(mc)->freq - 1]]
                     [kTables.ns_to_bs_index[suffix(mc)->num_stats] + prev_success_ + mc->flags +
                      ((static_cast<uint32_t>(run_length_) >> 26) & 0x20)];
}

// ---------------------------------------------------------------- updates

void Model::next_context()
{
    uint32_t c = successor(found_state_);
    if (order_fall_ == 0 && in_units(c)) {
        min_context_ = max_context_ = context(c);
    } else {
        update_model();
        min_context_ = max_context_;
    }
}

void Model::update1()
{
    State* s = found_state_;
    s->freq += 4;
    min_context_->summ_freq += 4;
    if (s[0].freq > s[-1].freq) {
        swap_states(&s[0], &s[-1]);
        found_state_ = --s;
        if (s->freq > kMaxFreq)
            rescale();
    }
    next_context();
}

void Model::update1_0()
{
    prev_success_ = 2 * found_state_->freq >= min_context_->summ_freq;
    run_length_ += prev_success_;
    min_context_->summ_freq += 4;
    if ((found_state_->freq += 4) > kMaxFreq)
        rescale();
    next_context();
}

void Model::update_bin()
{
    found_state_->freq = static_cast<uint8_t>(found_state_->freq + (found_state_->freq < 196));
    prev_success_ = 1;
    run_length_++;
    next_context();
}

void Model::update2()
{
    min_context_->summ_freq += 4;
    if ((found_state_->freq += 4) > kMaxFreq)
        rescale();
    run_length_ = init_rl_;
    update_model();
    min_context_ = max_context_;
}

Context* Model::create_successors(bool skip, State* s1, Context* c)
{
    const uint32_t up_branch = successor(found_state_);
    const uint8_t symbol = found_state_->symbol;
    State* ps[kChainLimit];
    unsigned num_ps = 0;
    if (!skip)
        ps[num_ps++] = found_state_;

    while (c->suffix) {
        c = suffix(c);
        State* s;
        if (s1) {
            s = s1;
            s1 = nullptr;
        } else if (c->num_stats != 0) {
            for (s = stats(c); s->symbol != symbol; s++) {
            }
            if (s->freq < kMaxFreq - 9) {
                s->freq++;
                c->summ_freq++;
            }
        } else {
            s = one_state(c);
            s->freq = static_cast<uint8_t>(s->freq + ((suffix(c)->num_stats == 0) & (s->freq < 24)));
        }
        uint32_t next = successor(s);
        if (next != up_branch) {
            c = context(next);
            if (num_ps == 0)
                return c;
            break;
        }
        if (num_ps == kChainLimit)
            return nullptr;
        ps[num_ps++] = s;
    }

    State up;
    up.symbol = *at(up_branch);
    set_successor(&up, up_branch + 1);
    const uint8_t flags = static_cast<uint8_t>(0x10 * (symbol >= 0x40) + 0x08 * (up.symbol >= 0x40));
    if (c->num_stats == 0) {
        up.freq = one_state(c)->freq;
    } else {
        State* s;
        for (s = stats(c); s->symbol != up.symbol; s++) {
        }
        uint32_t cf = s->freq - 1;
        uint32_t s0 = c->summ_freq - c->num_stats - cf;
        up.freq = static_cast<uint8_t>(1 + (2 * cf <= s0 ? (5 * cf > s0) : (cf + 2 * s0 - 3) / s0));
    }

    do {
        uint32_t child = alloc_context();
        if (child == 0)
            return nullptr;
        Context* c1 = context(child);
        c1->num_stats = 0;
        c1->flags = flags;
        *one_state(c1) = up;
        c1->suffix = ref(c);
        set_successor(ps[--num_ps], child);
        c = c1;
    } while (num_ps != 0);
    return c;
}

Context* Model::reduce_order(State* s1, Context* c)
{
    State* s = nullptr;
    Context* c1 = c;
    const uint32_t up_branch = text_;
    const uint8_t symbol = found_state_->symbol;
    State* ps[kChainLimit];
    unsigned num_ps = 0;
    ps[num_ps++] = found_state_;
    set_successor(found_state_, up_branch);
    order_fall_++;

    for (;;) {
        if (s1) {
            c = suffix(c);
            s = s1;
            s1 = nullptr;
        } else {
            if (!c->suffix) {
                if (restoration_ > kPpmdFreeze) {
                    do
                        set_successor(ps[--num_ps], ref(c));
                    while (num_ps);
                    text_ = align_ + 1;
                    order_fall_ = 1;
                }
                return c;
            }
            c = suffix(c);
            if (c->num_stats) {
                for (s = stats(c); s->symbol != symbol; s++) {
                }
                if (s->freq < kMaxFreq - 9) {
                    s->freq += 2;
                    c->summ_freq += 2;
                }
            } else {
                s = one_state(c);
                s->freq = static_cast<uint8_t>(s->freq + (s->freq < 32));
            }
        }
        if (successor(s))
            break;
        if (restoration_ > kPpmdFreeze) {
            if (num_ps == kChainLimit)
                return nullptr;
            ps[num_ps++] = s;
        }
        set_successor(s, up_branch);
        order_fall_++;
    }

    if (restoration_ > kPpmdFreeze) {
        c = context(successor(s));
        do
            set_successor(ps[--num_ps], ref(c));
        while (num_ps);
        text_ = align_ + 1;
        order_fall_ = 1;
        return c;
    }
    if (successor(s) <= up_branch) {
        State* found = found_state_;
        found_state_ = s;
        Context* made = create_successors(false, nullptr, c);
        set_successor(s, made ? ref(made) : 0);
        found_state_ = found;
    }
    if (order_fall_ == 1 && c1 == max_context_) {
        set_successor(found_state_, successor(s));
        text_--;
    }
    return successor(s) ? context(successor(s)) : nullptr;
}

void Model::refresh(Context* c, unsigned old_nu, unsigned scale)
{
    unsigned i = c->num_stats;
    c->stats = shrink_units(c->stats, old_nu, (i + 2) >> 1);
    State* s = stats(c);
    // Halve as well when the total could pass 16 bits.
    scale |= c->summ_freq >= (1u << 15);
    unsigned flags = (c->flags & (0x10 + 0x04 * scale)) + 0x08 * (s->symbol >= 0x40);
    unsigned esc_freq = c->summ_freq - s->freq;
    unsigned sum_freq = (s->freq = static_cast<uint8_t>((s->freq + scale) >> scale));
    do {
        esc_freq -= (++s)->freq;
        sum_freq += (s->freq = static_cast<uint8_t>((s->freq + scale) >> scale));
        flags |= 0x08 * (s->symbol >= 0x40);
    } while (--i);
    c->summ_freq = static_cast<uint16_t>(sum_freq + ((esc_freq + scale) >> scale));
    c->flags = static_cast<uint8_t>(flags);
}

uint32_t Model::cut_off(Context* c, unsigned order)
{
    if (c->num_stats == 0) {
        State* s = one_state(c);
        if (in_units(successor(s))) {
            if (order < max_order_)
                set_successor(s, cut_off(context(successor(s)), order + 1));
            else
                set_successor(s, 0);
            if (successor(s) || order <= 9)
                return ref(c);
        }
        special_free_unit(ref(c));
        return 0;
    }

    const unsigned nu = (c->num_stats + 2u) >> 1;
    c->stats = move_units_up(c->stats, nu);
    int last = c->num_stats;
    for (int k = last; k >= 0; k--) {
        State* s = stats(c) + k;
        if (!in_units(successor(s))) {
            set_successor(s, 0);
            swap_states(s, stats(c) + last--);
        } else if (order < max_order_) {
            set_successor(s, cut_off(context(successor(s)), order + 1));
        } else {
            set_successor(s, 0);
        }
    }

    if (last != c->num_stats && order) {
        c->num_stats = static_cast<uint8_t>(last);
        State* s = stats(c);
        if (last < 0) {
            free_units(c->stats, nu);
            special_free_unit(ref(c));
            return 0;
        }
        if (last == 0) {
            c->flags = static_cast<uint8_t>((c->flags & 0x10) + 0x08 * (s->symbol >= 0x40));
            State only = *s;
            free_units(c->stats, nu);
            only.freq = static_cast<uint8_t>((only.freq + 11u) >> 3);
            *one_state(c) = only;
        } else {
            refresh(c, nu, c->summ_freq > 16 * last);
        }
    }
    return ref(c);
}

uint32_t Model::remove_bin_contexts(Context* c, unsigned order)
{
    if (c->num_stats == 0) {
        State* s = one_state(c);
        if (in_units(successor(s)) && order < max_order_)
            set_successor(s, remove_bin_contexts(context(successor(s)), order + 1));
        else
            set_successor(s, 0);
        // Several successors may lead to one context, so its suffix may be
        // gone already (a freed unit reads as 0xFF, 0xFF).
        Context* up = suffix(c);
        if (!successor(s) && (up->num_stats == 0 || up->flags == 0xFF)) {
            free_units(ref(c), 1);
            return 0;
        }
        return ref(c);
    }
    for (int k = c->num_stats; k >= 0; k--) {
        State* s = stats(c) + k;
        if (in_units(successor(s)) && order < max_order_)
            set_successor(s, remove_bin_contexts(context(successor(s)), order + 1));
        else
            set_successor(s, 0);
    }
    return ref(c);
}

void Model::restore_model(Context* c1, Context* f_successor)
{
    text_ = align_;
    Context* c;
    for (c = max_context_; c != c1; c = suffix(c)) {
        if (--c->num_stats == 0) {
            State* s = stats(c);
            c->flags = static_cast<uint8_t>((c->flags & 0x10) + 0x08 * (s->symbol >= 0x40));
            State only = *s;
            special_free_unit(ref(s));
            only.freq = static_cast<uint8_t>((only.freq + 11u) >> 3);
            *one_state(c) = only;
        } else {
            refresh(c, (c->num_stats + 3u) >> 1, 0);
        }
    }
    for (; c != min_context_; c = suffix(c)) {
        if (c->num_stats == 0) {
            State* s = one_state(c);
            s->freq = static_cast<uint8_t>(s->freq - (s->freq >> 1));
        } else if ((c->summ_freq += 4) > 128 + 4 * c->num_stats) {
            refresh(c, (c->num_stats + 2u) >> 1, 1);
        }
    }

    if (restoration_ > kPpmdFreeze) {
        // Frozen: the model stays as it is. Without a successor the next
        // symbol starts from the order-0 context.
        if (f_successor == nullptr) {
            f_successor = max_context_;
            while (f_successor->suffix)
                f_successor = suffix(f_successor);
        }
        max_context_ = f_successor;
        glue_count_ += !(stamps_[1] & 1);
    } else if (restoration_ == kPpmdFreeze) {
        while (max_context_->suffix)
            max_context_ = suffix(max_context_);
        remove_bin_contexts(max_context_, 0);
        restoration_ = kFrozen;
        glue_count_ = 0;
        order_fall_ = max_order_;
    } else if (restoration_ == kPpmdRestart || used_memory() < (size_ >> 1)) {
        restart_model();
    } else {
        while (max_context_->suffix)
            max_context_ = suffix(max_context_);
        // Cut until a quarter is free. A pass that frees nothing would cut
        // for ever (crafted data can build such a model): start afresh then.
        uint32_t used = used_memory();
        do {
            cut_off(max_context_, 0);
            expand_text_area();
            const uint32_t before = used;
            used = used_memory();
            if (used >= before && used > 3 * (size_ >> 2)) {
                restart_model();
                return;
            }
        } while (used > 3 * (size_ >> 2));
        glue_count_ = 0;
        order_fall_ = max_order_;
    }
}

void Model::update_model()
{
    uint32_t f_successor = successor(found_state_);
    const unsigned f_freq = found_state_->freq;
    const uint8_t f_symbol = found_state_->symbol;
    State* s = nullptr;
    Context* c;

    if (f_freq < kMaxFreq / 4 && min_context_->suffix != 0) {
        c = suffix(min_context_);
        if (c->num_stats == 0) {
            s = one_state(c);
            if (s->freq < 32)
                s->freq++;
        } else {
            s = stats(c);
            if (s->symbol != f_symbol) {
                do {
                    s++;
                } while (s->symbol != f_symbol);
                if (s[0].freq >= s[-1].freq) {
                    swap_states(&s[0], &s[-1]);
                    s--;
                }
            }
            if (s->freq < kMaxFreq - 9) {
                s->freq += 2;
                c->summ_freq += 2;
            }
        }
        // The new contexts below hang off its successor.
        prefetch_successor(s);
    }

    c = max_context_;
    if (order_fall_ == 0 && f_successor) {
        Context* cs = create_successors(true, s, min_context_);
        if (cs == nullptr) {
            set_successor(found_state_, 0);
            restore_model(c, context(f_successor));
        } else {
            set_successor(found_state_, ref(cs));
            max_context_ = cs;
        }
        return;
    }

    base_[text_++] = f_symbol;
    uint32_t next = text_;
    if (text_ >= units_start_) {
        restore_model(c, context(f_successor));
        return;
    }

    if (!f_successor) {
        Context* cs = reduce_order(s, min_context_);
        if (cs == nullptr) {
            restore_model(c, nullptr);
            return;
        }
        f_successor = ref(cs);
    } else if (!in_units(f_successor)) {
        Context* cs = create_successors(false, s, min_context_);
        if (cs == nullptr) {
            restore_model(c, nullptr);
            return;
        }
        f_successor = ref(cs);
    }

    if (--order_fall_ == 0) {
        next = f_successor;
        text_ -= (max_context_ != min_context_);
    } else if (restoration_ > kPpmdFreeze) {
        next = f_successor;
        text_ = align_;
        order_fall_ = 0;
    }

    const unsigned ns = min_context_->num_stats;
    const uint32_t s0 = min_context_->summ_freq - ns - f_freq;
    const uint8_t flag = static_cast<uint8_t>(0x08 * (f_symbol >= 0x40));

    for (; c != min_context_; c = suffix(c)) {
        unsigned ns1 = c->num_stats;
        if (ns1 != 0) {
            if ((ns1 & 1) != 0) {
                // The states fill their units: one more.
                unsigned old_nu = (ns1 + 1) >> 1;
                unsigned i = units_to_index(old_nu);
                if (i != units_to_index(old_nu + 1)) {
                    uint32_t grown = alloc_units(i + 1);
                    if (grown == 0) {
                        restore_model(c, context(f_successor));
                        return;
                    }
                    memcpy(at(grown), at(c->stats), old_nu * kUnitSize);
                    insert_node(c->stats, i);
                    c->stats = grown;
                }
            }
            c->summ_freq = static_cast<uint16_t>(c->summ_freq + (3 * ns1 + 1 < ns));
        } else {
            uint32_t block = alloc_units(0);
            if (block == 0) {
                restore_model(c, context(f_successor));
                return;
            }
            State* s2 = reinterpret_cast<State*>(at(block));
            *s2 = *one_state(c);
            c->stats = block;
            if (s2->freq < kMaxFreq / 4 - 1)
                s2->freq <<= 1;
            else
                s2->freq = kMaxFreq - 4;
            c->summ_freq = static_cast<uint16_t>(s2->freq + init_esc_ + (ns > 2));
        }

        uint32_t cf = 2 * f_freq * (c->summ_freq + 6);
        uint32_t sf = s0 + c->summ_freq;
        if (cf < 6 * sf) {
            cf = 1 + (cf > sf) + (cf >= 4 * sf);
            c->summ_freq = static_cast<uint16_t>(c->summ_freq + 4);
        } else {
            cf = 4 + (cf > 9 * sf) + (cf > 12 * sf) + (cf > 15 * sf);
            c->summ_freq = static_cast<uint16_t>(c->summ_freq + cf);
        }
        State* added = stats(c) + ns1 + 1;
        set_successor(added, next);
        added->symbol = f_symbol;
        added->freq = static_cast<uint8_t>(cf);
        c->flags |= flag;
        c->num_stats = static_cast<uint8_t>(ns1 + 1);
    }
    max_context_ = min_context_ = context(f_successor);
}

// ---------------------------------------------------------------- decoding

int Model::decode_symbol()
{
    // The decoder in locals; written back before each update, which never
    // uses it.
    RangeDecoder rc = rc_;
    Context* mc = min_context_;
    // The suffix is wanted by a binary context's estimate, by the update
    // after most symbols and on an escape: asked of memory now.
    __builtin_prefetch(base_ + mc->suffix);
    if (mc->num_stats != 0) {
        State* s = stats(mc);
        rc.divide(mc->summ_freq);
        uint32_t high = s->freq;
        if (__builtin_expect(rc.below(high), 1)) {
            prefetch_successor(s);
            rc.decode(0, s->freq);
            rc_ = rc;
            found_state_ = s;
            const int symbol = s->symbol;
            update1_0();
            return symbol;
        }
        prev_success_ = 0;
        unsigned i = mc->num_stats;
        do {
            if (rc.below(high += (++s)->freq)) {
                prefetch_successor(s);
                rc.decode(high - s->freq, s->freq);
                rc_ = rc;
                found_state_ = s;
                const int symbol = s->symbol;
                update1();
                return symbol;
            }
        } while (--i);
        if (!rc.below(mc->summ_freq))
            return kBadSymbol;
        rc.decode(high, mc->summ_freq - high);
        open_all();
        s = stats(mc);
        for (unsigned k = 0; k <= mc->num_stats; k++)
            open_[s[k].symbol] = 0;
    } else {
        uint16_t* prob = bin_summ();
        // code / range < prob, without the division (prob < 2^14 and the
        // range < 2^18 once shifted, so the product fits).
        rc.range >>= 14;
        if (rc.code < *prob * rc.range) {
            prefetch_successor(one_state(mc));
            rc.decode(0, *prob);
            rc_ = rc;
            *prob = static_cast<uint16_t>(*prob + (1 << kIntBits) - ((*prob + (1 << (kPeriodBits - 2))) >> kPeriodBits));
            found_state_ = one_state(mc);
            const int symbol = found_state_->symbol;
            update_bin();
            return symbol;
        }
        rc.decode(*prob, kBinScale - *prob);
        *prob = static_cast<uint16_t>(*prob - ((*prob + (1 << (kPeriodBits - 2))) >> kPeriodBits));
        init_esc_ = kExpEscape[*prob >> 10];
        open_all();
        open_[one_state(mc)->symbol] = 0;
        prev_success_ = 0;
    }

    for (;;) {
        const unsigned num_masked = mc->num_stats;
        do {
            order_fall_++;
            if (!mc->suffix) {
                rc_ = rc;
                return kEndMark;
            }
            mc = suffix(mc);
        } while (mc->num_stats == num_masked);
        min_context_ = mc;
        // Its suffix gives the escape estimate below, and the next context
        // on an escape: asked of memory while the states are summed.
        __builtin_prefetch(base_ + mc->suffix);
        // A suffix holds every symbol of the contexts above it.
        if (mc->num_stats < num_masked)
            return kBadSymbol;

        State* const first = stats(mc);
        State* const end = first + mc->num_stats + 1;
        const unsigned wanted = mc->num_stats - num_masked;   // at least one

        // Over every state without a branch (which symbols are masked is as
        // good as random, and the order-0 context has all 256): the open
        // symbols' frequencies in the low half, their count in the high half
        // (at most 256 states of frequencies below 256 each). The running
        // sum after each four states lets the walk below skip them.
        auto term = [this](const State* t) { return (t->freq + 0x10000u) & open_mask(t); };
        uint32_t sums = 0;
        uint32_t quads[64];
        unsigned num_quads = static_cast<unsigned>(end - first) / 4;
        {
            State* s = first;
            uint32_t* q = quads;
            for (uint32_t* const last = quads + (num_quads & ~1u); q != last; q += 2, s += 8) {
                sums += (term(s) + term(s + 1)) + (term(s + 2) + term(s + 3));
                q[0] = sums;
                sums += (term(s + 4) + term(s + 5)) + (term(s + 6) + term(s + 7));
                q[1] = sums;
            }
            if (num_quads & 1) {
                sums += (term(s) + term(s + 1)) + (term(s + 2) + term(s + 3));
                *q = sums;
                s += 4;
            }
            for (; s != end; ++s)
                sums += term(s);
        }
        // The open symbols that take part: as many as this context has more
        // than the one escaped from, the first ones in order.
        State* stop = end;
        uint32_t high = sums & 0xFFFF;
        if (__builtin_expect((sums >> 16) != wanted, 0)) {
            if ((sums >> 16) < wanted)
                return kBadSymbol;
            // A suffix without every symbol of the context above it would
            // leave more open. The model never builds one, but should it,
            // the first ones take part and the rest stay out, as ever.
            high = 0;
            stop = first;
            for (unsigned n = 0; n != wanted; ++stop) {
                if (open_[stop->symbol]) {
                    n++;
                    high += stop->freq;
                }
            }
            num_quads = 0;
        }

        uint32_t freq_sum;
        See* see = make_esc_freq(num_masked, &freq_sum);
        freq_sum += high;
        rc.divide(freq_sum);
        // The walk below may be long: one division instead of a product for
        // each symbol passed.
        const uint32_t count = rc.threshold();
        if (count < high) {
            unsigned q = 0;
            while (q != num_quads && (quads[q] & 0xFFFF) <= count)
                q++;
            State* s = first + 4 * q;
            high = q != 0 ? quads[q - 1] & 0xFFFF : 0;
            for (high += term(s) & 0xFFFF; high <= count; high += term(++s) & 0xFFFF) {
            }
            prefetch_successor(s);
            rc.decode(high - s->freq, s->freq);
            rc_ = rc;
            if (see->shift < kPeriodBits && --see->count == 0) {
                see->summ = static_cast<uint16_t>(see->summ << 1);
                see->count = static_cast<uint8_t>(3 << see->shift++);
            }
            found_state_ = s;
            const int symbol = s->symbol;
            update2();
            return symbol;
        }
        if (count >= freq_sum)
            return kBadSymbol;
        rc.decode(high, freq_sum - high);
        see->summ = static_cast<uint16_t>(see->summ + freq_sum);
        State* s = first;
        for (; stop - s >= 4; s += 4) {
            open_[s[0].symbol] = 0;
            open_[s[1].symbol] = 0;
            open_[s[2].symbol] = 0;
            open_[s[3].symbol] = 0;
        }
        for (; s != stop; ++s)
            open_[s->symbol] = 0;
    }
}

// ---------------------------------------------------------------- the stream

// The model block, taken with the program's out-of-memory handler suspended:
// a model that does not fit is message "not enough memory", not the end of
// the program.
uint8_t* allocate_model(uint32_t size)
{
    QlDecoderMemoryScope memory;
    return static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size) + 4));
}

}  // namespace

bool ppmd_read_parameters(uint16_t word, PpmdParameters* parameters)
{
    parameters->order = (word & 0x0F) + 1u;
    parameters->memory_size = (((word >> 4) & 0xFFu) + 1u) << 20;
    parameters->restoration = word >> 12;
    return parameters->order >= 2 && parameters->restoration <= kPpmdFreeze;
}

int ppmd_decode_stream(const PpmdParameters& parameters, uint8_t* memory, QlByteSource* source,
                       QlByteSink* sink, uint8_t* buffer, uint32_t buffer_size, uint64_t size_limit)
{
    if (parameters.order < 2 || parameters.order > kMaxOrder || parameters.restoration > kPpmdFreeze ||
        parameters.memory_size < kPpmdMinMemory || buffer_size == 0)
        return kQlDecodeBadData;

    Input input(source);
    Model model(&input, memory, parameters);
    uint64_t produced = 0;
    uint32_t count = 0;
    int result = kQlDecodeOk;
    for (;;) {
        const int symbol = model.decode_symbol();
        if (input.read_failed()) {
            result = kQlDecodeInvalid;
            break;
        }
        if (symbol == kEndMark && !input.overrun())
            break;
        if (symbol < 0 || input.overrun() || produced == size_limit) {
            result = kQlDecodeBadData;
            break;
        }
        buffer[count++] = static_cast<uint8_t>(symbol);
        produced++;
        if (count == buffer_size) {
            count = 0;
            result = sink->take(buffer, buffer_size);
            if (result != 0)
                return result;
        }
    }
    if (result != kQlDecodeOk)
        return result;
    return count > 0 ? sink->take(buffer, count) : kQlDecodeOk;
}

int PpmdEntryDecoder::Decode()
{
    uint8_t word[2];
    uint32_t have = 0;
    while (have < 2) {
        int32_t n = job_.source->fill(word + have, 2 - have);
        if (n < 0)
            return kQlDecodeInvalid;
        if (n == 0 || static_cast<uint32_t>(n) > 2 - have)
            return kQlDecodeBadData;
        have += static_cast<uint32_t>(n);
    }
    PpmdParameters parameters;
    if (!ppmd_read_parameters(static_cast<uint16_t>(word[0] | (word[1] << 8)), &parameters))
        return kQlDecodeBadData;

    uint8_t* memory = allocate_model(parameters.memory_size);
    if (memory == nullptr)
        return kQlDecodeNoMemory;
    const int result = ppmd_decode_stream(parameters, memory, job_.source, job_.sink, job_.buffer,
                                          job_.buffer_size, job_.uncompressed_size);
    std::free(memory);
    return result;
}

int ppmd_decode_entry(const SfxDecodeJob& job)
{
    return PpmdEntryDecoder(job).Decode();
}
