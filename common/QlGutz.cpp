// String bodies: the pool, heap text blocks with share counts, copy on write,
// narrow conversions over the platform interface, numbers.
#include "common/QlGutz.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "common/QlHooks.h"
#include "common/QlOutOfMemory.h"
#include "common/QlString.h"

namespace {

const char kSource[] = "QlGutz";

// --- the body pool
// Freed body blocks wait in a FIFO list; each block carries its own link, so
// that giving a block back never allocates. The list head is constant-
// initialised, so strings built before main can use the pool, and the pool
// starts switched off.
struct PoolLink {
    PoolLink* next;
    PoolLink* prev;
};

struct BodyPool {
    PoolLink sentinel;
    int count;
    bool off;
};

BodyPool gPool = {{&gPool.sentinel, &gPool.sentinel}, 0, true};

static_assert(sizeof(QlStrBody) >= sizeof(PoolLink), "a pooled body holds its link");

// At exit the pool goes off before it is drained, so that strings destroyed
// later still free their bodies to the heap.
struct PoolAtExit {
    ~PoolAtExit()
    {
        qlGutzDisablePool();
        qlGutzDrainPool();
    }
};
PoolAtExit gPoolAtExit;

// --- heap text blocks
int16_t* ShareCountOf(QlChar* text)
{
    return reinterpret_cast<int16_t*>(text) - 1;
}

void CopyUnits(QlChar* target, const QlChar* source, int count)
{
    if (count > 0)
        std::memmove(target, source, static_cast<size_t>(count) * sizeof(QlChar));
}

// Raises the share count of a heap block; refused (and reported) at the limit.
bool ShareHeapText(QlChar* text)
{
    int16_t* count = ShareCountOf(text);
    if (!qlCheck(*count < kQlStrShareMax, kSource, kGutzShareLimit))
        return false;
    ++*count;
    return true;
}

QlChar* CopyToHeap(const QlChar* source, int count)
{
    QlChar* text = qlGutzAllocText(count);
    CopyUnits(text, source, count);
    text[count] = 0;
    return text;
}

// --- rotating narrow views, shared by the ANSI and the UTF-8 view
const int kViewCount = 6;
char gViews[kViewCount][kQlStrViewBytes + 1];
int gViewIndex = 0;  // 1..6 after the first call

char* NextView()
{
    gViewIndex = gViewIndex % kViewCount + 1;
    char* view = gViews[gViewIndex - 1];
    view[0] = 0;
    return view;
}

const char* NarrowView(const QlStrBody& body, QlCodePage cp)
{
    char* view = NextView();
    if (body.text == nullptr || body.length == 0)
        return view;
    if (!qlCheck(body.length <= kQlStrViewBytes, kSource, kGutzViewTooLong))
        return view;
    bool shortBuffer = false;
    int bytes = qlGutzPlatformToNarrow(cp, body.text, -1, view, kQlStrViewBytes + 1, &shortBuffer);
    if (bytes == 0) {
        // A failed call may leave a part behind.
        view[0] = 0;
        if (shortBuffer)
            qlHostAssert(kSource, kGutzViewResult);
        else
            qlHostWin32Error(kSource, kGutzViewConvert);
    }
    return view;
}

int DigitsOf(uint32_t value, int radix, QlChar* out)
{
    QlChar reversed[33];
    int count = 0;
    do {
        unsigned digit = value % static_cast<unsigned>(radix);
        reversed[count++] = static_cast<QlChar>(digit < 10 ? '0' + digit : 'a' + digit - 10);
        value /= static_cast<unsigned>(radix);
    } while (value != 0);
    for (int i = 0; i < count; ++i)
        out[i] = reversed[count - 1 - i];
    out[count] = 0;
    return count;
}

bool IsDigit(QlChar unit)
{
    return unit >= '0' && unit <= '9';
}

}  // namespace

// ---------------------------------------------------------------------------
// Pool

void* qlGutzPoolAlloc(size_t size)
{
    if (size == sizeof(QlStrBody) && !gPool.off && gPool.count > 0) {
        PoolLink* link = gPool.sentinel.next;
        link->next->prev = &gPool.sentinel;
        gPool.sentinel.next = link->next;
        --gPool.count;
        return link;
    }
    return std::malloc(size);
}

void qlGutzPoolFree(void* block, size_t size)
{
    if (block == nullptr)
        return;
    if (size != sizeof(QlStrBody) || gPool.off) {
        std::free(block);
        return;
    }
    // At the end, so that the oldest freed block is reused first.
    PoolLink* link = static_cast<PoolLink*>(block);
    link->next = &gPool.sentinel;
    link->prev = gPool.sentinel.prev;
    gPool.sentinel.prev->next = link;
    gPool.sentinel.prev = link;
    ++gPool.count;
}

bool qlGutzEnablePool()
{
    bool wasOn = !gPool.off;
    gPool.off = false;
    return wasOn;
}

bool qlGutzDisablePool()
{
    bool wasOn = !gPool.off;
    gPool.off = true;
    return wasOn;
}

void qlGutzDrainPool()
{
    while (gPool.count > 0) {
        PoolLink* link = gPool.sentinel.next;
        gPool.sentinel.next = link->next;
        link->next->prev = &gPool.sentinel;
        --gPool.count;
        std::free(link);
    }
}

void qlGutzFreePool()
{
    qlGutzDrainPool();
}

int qlGutzPoolCount()
{
    return gPool.count;
}

// ---------------------------------------------------------------------------
// Heap text blocks

QlChar* qlGutzAllocText(int count)
{
    if (count < 0)
        count = 0;
    // 2 bytes of count, then count + 1 units; a size past size_t cannot be had.
    uint64_t bytes = 2 + 2 * (static_cast<uint64_t>(count) + 1);
    void* block = bytes > SIZE_MAX ? nullptr : std::malloc(static_cast<size_t>(bytes));
    if (block == nullptr)
        qlThrowOutOfMemory();
    int16_t* shareCount = static_cast<int16_t*>(block);
    *shareCount = 1;
    return reinterpret_cast<QlChar*>(shareCount + 1);
}

// ---------------------------------------------------------------------------
// Storage

int QlStrBody::ShareCount() const
{
    if (text == nullptr)
        return 0;
    if (text == inlineText)
        return 1;
    return *ShareCountOf(text);
}

void QlStrBody::ReleaseText()
{
    if (IsHeap()) {
        int16_t* count = ShareCountOf(text);
        if (qlCheck(*count > 0, kSource, kGutzReleaseCount) && --*count == 0)
            std::free(count);
    }
    text = nullptr;
    length = 0;
}

void QlStrBody::SetEmpty()
{
    ReleaseText();
    inlineText[0] = 0;
    text = inlineText;
}

void QlStrBody::CopyFrom(const QlStrBody& other)
{
    InitNull();
    if (other.text == nullptr)
        return;
    if (other.IsInline()) {
        CopyUnits(inlineText, other.inlineText, other.length + 1);
        text = inlineText;
    } else if (*ShareCountOf(other.text) >= kQlStrShareMax) {
        // A block at the share limit gives its copies their own text.
        text = CopyToHeap(other.text, other.length);
    } else {
        ShareHeapText(other.text);
        text = other.text;
    }
    length = other.length;
}

void QlStrBody::TakeFrom(QlStrBody& other)
{
    if (&other == this)
        return;
    ReleaseText();
    if (other.IsInline()) {
        CopyUnits(inlineText, other.inlineText, other.length + 1);
        text = inlineText;
    } else {
        text = other.text;
    }
    length = other.length;
    other.InitNull();
}

void QlStrBody::Assign(const QlStrBody& other)
{
    if (text == other.text)
        return;
    if (other.text == nullptr) {
        ReleaseText();
    } else if (other.IsInline()) {
        ReleaseText();
        CopyUnits(inlineText, other.inlineText, other.length + 1);
        text = inlineText;
        length = other.length;
    } else if (*ShareCountOf(other.text) > kQlStrShareMax - 1) {
        AssignChars(other.text, other.length);
    } else {
        ShareHeapText(other.text);
        ReleaseText();
        text = other.text;
        length = other.length;
    }
}

// The source may lie inside this string's own text (a suffix, a trimmed
// range): it is read before the old storage is given up.
void QlStrBody::AssignChars(const QlChar* chars, int count)
{
    if (!qlCheck(count >= 0, kSource, kGutzNegativeLength))
        return;
    if (count == 0) {
        if (text == nullptr || length != 0)
            SetEmpty();
        return;
    }
    if (!qlCheck(chars != nullptr, kSource, kGutzNullChars))
        return;
    if (text != nullptr && length == count &&
        (chars == text || std::memcmp(text, chars, count * sizeof(QlChar)) == 0))
        return;
    if (count <= kQlStrInlineUnits) {
        bool wasHeap = IsHeap();
        CopyUnits(inlineText, chars, count);
        inlineText[count] = 0;
        if (wasHeap)
            ReleaseText();
        text = inlineText;
        length = count;
        return;
    }
    if (IsHeap() && *ShareCountOf(text) == 1 && count <= length) {
        // An unshared block that is long enough takes the units in place.
        CopyUnits(text, chars, count);
        text[count] = 0;
        length = count;
        return;
    }
    QlChar* fresh = CopyToHeap(chars, count);
    ReleaseText();
    text = fresh;
    length = count;
}

void QlStrBody::AssignText(const QlChar* chars)
{
    if (chars == nullptr)
        ReleaseText();
    else
        AssignChars(chars, static_cast<int>(qlGutzStrLen(chars)));
}

void QlStrBody::AssignRepeat(QlChar unit, int count)
{
    if (count <= 0) {
        ReleaseText();
        return;
    }
    QlScopedBody fresh;
    fresh.body.SetLength(count);
    for (int i = 0; i < count; ++i)
        fresh.body.text[i] = unit;
    TakeFrom(fresh.body);
}

void QlStrBody::SetLength(int count)
{
    if (!qlCheck(count >= 0, kSource, kGutzNegativeLength))
        return;
    if (count == length)
        return;
    if (text == nullptr)
        SetEmpty();
    int keep = length < count ? length : count;
    if (count <= kQlStrInlineUnits) {
        if (IsHeap()) {
            CopyUnits(inlineText, text, keep);
            ReleaseText();
        }
        text = inlineText;
    } else {
        QlChar* fresh = qlGutzAllocText(count);
        CopyUnits(fresh, text, keep);
        ReleaseText();
        text = fresh;
    }
    for (int i = keep; i <= count; ++i)
        text[i] = 0;
    length = count;
}

void QlStrBody::MakePrivate()
{
    if (!IsHeap() || *ShareCountOf(text) < 2)
        return;
    int count = length;
    QlChar* fresh = CopyToHeap(text, count);
    ReleaseText();
    text = fresh;
    length = count;
}

// The source may be this string's own text (appending a string to itself):
// the new block is filled before the old one is released.
void QlStrBody::AppendChars(const QlChar* chars, int count)
{
    if (!qlCheck(count >= 0, kSource, kGutzNegativeLength))
        return;
    if (text == nullptr || length == 0) {
        if (text == nullptr || count > 0)
            AssignChars(chars, count);
        return;
    }
    if (count == 0)
        return;
    if (!qlCheck(chars != nullptr, kSource, kGutzNullChars))
        return;
    int64_t total = static_cast<int64_t>(length) + count;
    if (total > INT_MAX)
        qlThrowOutOfMemory();
    if (total <= kQlStrInlineUnits) {
        CopyUnits(inlineText + length, chars, count);
        inlineText[total] = 0;
        length = static_cast<int>(total);
        return;
    }
    QlChar* fresh = qlGutzAllocText(static_cast<int>(total));
    CopyUnits(fresh, text, length);
    CopyUnits(fresh + length, chars, count);
    fresh[total] = 0;
    ReleaseText();
    text = fresh;
    length = static_cast<int>(total);
}

void QlStrBody::Append(const QlStrBody& other)
{
    if (text == nullptr || (length == 0 && other.length > 0))
        Assign(other);
    else if (other.length > 0)
        AppendChars(other.text, other.length);
}

// ---------------------------------------------------------------------------
// Conversions

QlCodePage qlGutzCodePage(int selector)
{
    switch (selector) {
    case 0:
        return kQlCodePageOem;
    case 3:
        return kQlCodePageUtf8;
    case 2:
        qlHostAssert(kSource, kGutzBadSelector);
        return kQlCodePageAnsi;
    default:
        return kQlCodePageAnsi;
    }
}

void QlStrBody::AssignNarrow(const char* chars, int byteCount, int selector)
{
    if (chars == nullptr) {
        ReleaseText();
        return;
    }
    if (!qlCheck(byteCount >= -1, kSource, kGutzNarrowCount)) {
        ReleaseText();
        return;
    }
    QlCodePage cp = qlGutzCodePage(selector);
    if (byteCount == 0 || (byteCount == -1 && chars[0] == 0)) {
        SetEmpty();
        return;
    }
    bool shortBuffer = false;
    int units = qlGutzPlatformToWide(cp, chars, byteCount, nullptr, 0, &shortBuffer);
    if (units == 0) {
        qlHostWin32Error(kSource, kGutzMeasureWide);
        SetEmpty();
        return;
    }
    if (byteCount == -1)
        --units;  // the NUL was measured too
    QlScopedBody fresh;
    fresh.body.SetLength(units);
    int room = byteCount == -1 ? units + 1 : units;
    if (units > 0 &&
        qlGutzPlatformToWide(cp, chars, byteCount, fresh.body.text, room, &shortBuffer) == 0) {
        qlHostWin32Error(kSource, kGutzConvertWide);
        SetEmpty();
        return;
    }
    fresh.body.text[units] = 0;
    TakeFrom(fresh.body);
}

int QlStrBody::NarrowLength(int selector) const
{
    QlCodePage cp = qlGutzCodePage(selector);
    if (text == nullptr)
        return 0;
    bool shortBuffer = false;
    int bytes = qlGutzPlatformToNarrow(cp, text, -1, nullptr, 0, &shortBuffer);
    if (bytes == 0) {
        qlHostWin32Error(kSource, kGutzMeasureNarrow);
        return 0;
    }
    return bytes - 1;
}

const char* QlStrBody::ToAnsi() const
{
    return NarrowView(*this, kQlCodePageAnsi);
}

const char* QlStrBody::ToUtf8Static() const
{
    return NarrowView(*this, kQlCodePageUtf8);
}

char QlStrBody::FirstNarrowChar(int selector) const
{
    if (text == nullptr || length == 0)
        return 0;
    return qlGutzCharToNarrow(text[0], selector);
}

QlChar qlGutzCharToWide(char unit, int selector)
{
    if (!qlCheck(selector == 0 || selector == 1, kSource, kGutzCharSelector))
        return 0;
    QlChar wide = 0;
    bool shortBuffer = false;
    if (qlGutzPlatformToWide(qlGutzCodePage(selector), &unit, 1, &wide, 1, &shortBuffer) != 1) {
        qlHostWin32Error(kSource, kGutzCharConvert);
        return 0;
    }
    return wide;
}

char qlGutzCharToNarrow(QlChar unit, int selector)
{
    if (!qlCheck(selector == 0 || selector == 1, kSource, kGutzCharSelector))
        return 0;
    char narrow = 0;
    bool shortBuffer = false;
    if (qlGutzPlatformToNarrow(qlGutzCodePage(selector), &unit, 1, &narrow, 1, &shortBuffer) != 1) {
        qlHostWin32Error(kSource, kGutzCharConvert);
        return 0;
    }
    return narrow;
}

QlStrWide::QlStrWide(const char* text, int selector) : m_text(nullptr)
{
    if (text == nullptr)
        return;
    QlCodePage cp = qlGutzCodePage(selector);
    bool shortBuffer = false;
    int units = qlGutzPlatformToWide(cp, text, -1, nullptr, 0, &shortBuffer);
    if (units > 0) {
        // A converter that measures short gets one more try with twice the room.
        for (int attempt = 0; attempt < 2; ++attempt) {
            int room = attempt == 0 ? units : units * 2;
            m_text = static_cast<QlChar*>(std::malloc(static_cast<size_t>(room) * sizeof(QlChar)));
            if (m_text == nullptr)
                qlThrowOutOfMemory();
            int written = qlGutzPlatformToWide(cp, text, -1, m_text, room, &shortBuffer);
            if (written > 0 && qlCheck(written <= room, kSource, kGutzWideFit)) {
                m_text[written - 1] = 0;
                return;
            }
            std::free(m_text);
            m_text = nullptr;
            if (written > 0 || !shortBuffer)
                break;
        }
    }
    qlHostWin32Error(kSource, kGutzWideConvert);
    m_text = static_cast<QlChar*>(std::malloc(sizeof(QlChar)));
    if (m_text == nullptr)
        qlThrowOutOfMemory();
    m_text[0] = 0;
}

QlStrWide::~QlStrWide()
{
    std::free(m_text);
}

int QlStrWide::Length() const
{
    return m_text == nullptr ? 0 : static_cast<int>(qlGutzStrLen(m_text));
}

QlStrNarrow::QlStrNarrow(const QlStr& text, int selector) : m_text(nullptr), m_length(0)
{
    if (text.IsNull())
        return;
    bool known = selector == 0 || selector == 1 || selector == 3;
    qlCheck(known, kSource, kGutzNarrowSelector);
    int bytes = known ? text.Body()->NarrowLength(selector) : 0;
    m_text = static_cast<char*>(std::malloc(static_cast<size_t>(bytes) + 1));
    if (m_text == nullptr)
        qlThrowOutOfMemory();
    m_text[0] = 0;
    if (bytes == 0)
        return;
    bool shortBuffer = false;
    int written = qlGutzPlatformToNarrow(qlGutzCodePage(selector), text.Text(), -1, m_text,
                                         bytes + 1, &shortBuffer);
    if (written == 0) {
        m_text[0] = 0;
        qlHostWin32Error(kSource, kGutzNarrowConvert);
        return;
    }
    m_length = written - 1;
}

QlStrNarrow::~QlStrNarrow()
{
    std::free(m_text);
}

// ---------------------------------------------------------------------------
// Numbers

bool qlGutzIsNumber(const QlChar* text)
{
    if (text == nullptr || text[0] == 0)
        return false;
    if (text[1] == 0 && IsDigit(text[0]))
        return true;
    const QlChar* digits = text;
    if (*digits == '+' || *digits == '-')
        ++digits;
    int count = 0;
    for (; *digits != 0; ++digits, ++count) {
        if (!IsDigit(*digits) || count == 9)
            return false;
    }
    return true;
}

// _wtol's reading of a text that passed qlGutzIsNumber: a lone sign is 0.
int32_t QlStrBody::ToInt() const
{
    if (!qlGutzIsNumber(text))
        return INT32_MIN;
    const QlChar* digit = text;
    bool negative = *digit == '-';
    if (*digit == '+' || *digit == '-')
        ++digit;
    int64_t value = 0;
    for (; *digit != 0; ++digit)
        value = value * 10 + (*digit - '0');
    return static_cast<int32_t>(negative ? -value : value);
}

// As _itow_s: a minus sign only in radix 10; other radices show the bits.
void QlStrBody::AssignNumber(int32_t value, int radix)
{
    if (!qlCheck(radix >= 2 && radix <= 36, kSource, kGutzRadix)) {
        SetEmpty();
        return;
    }
    QlChar buffer[71];
    if (radix == 10 && value < 0) {
        buffer[0] = '-';
        DigitsOf(0u - static_cast<uint32_t>(value), radix, buffer + 1);
    } else {
        DigitsOf(static_cast<uint32_t>(value), radix, buffer);
    }
    AssignText(buffer);
}

void QlStrBody::AssignUnsigned(uint32_t value, int radix)
{
    if (!qlCheck(radix >= 2 && radix <= 36, kSource, kGutzRadix)) {
        SetEmpty();
        return;
    }
    QlChar buffer[71];
    DigitsOf(value, radix, buffer);
    AssignText(buffer);
}

// ---------------------------------------------------------------------------
// Small text functions

size_t qlGutzStrLen(const QlChar* text)
{
    size_t count = 0;
    while (text[count] != 0)
        ++count;
    return count;
}

const QlChar* qlGutzStrChr(const QlChar* text, QlChar unit)
{
    for (;; ++text) {
        if (*text == unit)
            return text;
        if (*text == 0)
            return nullptr;
    }
}

bool qlGutzCopyUnits(QlChar* target, size_t targetUnits, const QlChar* source, size_t count)
{
    if (!qlCheck(target != nullptr && source != nullptr && count <= targetUnits, kSource,
                 kGutzCopyUnits)) {
        if (target != nullptr)
            std::memset(target, 0, targetUnits * sizeof(QlChar));
        return false;
    }
    if (count > 0)
        std::memmove(target, source, count * sizeof(QlChar));
    return true;
}
