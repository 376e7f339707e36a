// QlStr: the handle. Every constructor takes a body from the pool; the
// operations forward to the body (QlGutz).
#include "common/QlString.h"

#include <climits>
#include <new>
#include <utility>

#include "common/QlHooks.h"
#include "common/QlOutOfMemory.h"

namespace {

const char kSource[] = "QlString";

QlStrBody* NewBody()
{
    void* block = qlGutzPoolAlloc(sizeof(QlStrBody));
    if (block == nullptr)
        qlThrowOutOfMemory();
    QlStrBody* body = new (block) QlStrBody;
    body->InitNull();
    return body;
}

int SignOf(int value)
{
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

// Null sorts before any text; 2 when both have text and the caller decides.
int CompareByPresence(const QlStr& a, const QlStr& b)
{
    if (a.IsNull() || b.IsNull())
        return a.IsNotNull() ? 1 : (b.IsNotNull() ? -1 : 0);
    return 2;
}

}  // namespace

// Every other constructor delegates here first, so that the body is given
// back by the destructor when the rest of a constructor throws.
QlStr::QlStr(NullTag) : m_body(NewBody())
{
}

QlStr::QlStr() : QlStr(NullTag())
{
    m_body->SetEmpty();
}

QlStr::QlStr(const QlStr& other) : QlStr(NullTag())
{
    m_body->CopyFrom(*other.m_body);
}

QlStr::QlStr(QlStr&& other) : QlStr(NullTag())
{
    std::swap(m_body, other.m_body);
}

QlStr::QlStr(const QlChar* text) : QlStr(NullTag())
{
    m_body->AssignText(text);
}

QlStr::QlStr(const QlChar* text, int count) : QlStr(NullTag())
{
    if (text != nullptr)
        m_body->AssignChars(text, count);
}

QlStr::QlStr(const char* text, int selector) : QlStr(NullTag())
{
    m_body->AssignNarrow(text, -1, selector);
}

QlStr::QlStr(const char* text, int byteCount, int selector) : QlStr(NullTag())
{
    m_body->AssignNarrow(text, byteCount, selector);
}

QlStr::QlStr(int32_t value, int radix) : QlStr(NullTag())
{
    m_body->AssignNumber(value, radix);
}

QlStr::QlStr(uint32_t value, int radix) : QlStr(NullTag())
{
    m_body->AssignUnsigned(value, radix);
}

QlStr::~QlStr()
{
    // Nothing here throws: releasing a share and pooling a body never allocate.
    m_body->ReleaseText();
    qlGutzPoolFree(m_body, sizeof(QlStrBody));
}

QlStr QlStr::CtorEmpty()
{
    return QlStr();
}

QlStr QlStr::CtorNull()
{
    return QlStr(NullTag());
}

QlStr QlStr::CtorCopyOrEmpty(const QlStr& other)
{
    return other.IsNull() ? QlStr() : QlStr(other);
}

QlStr QlStr::CtorRepeat(QlChar unit, int count)
{
    QlStr repeated(NullTag{});
    repeated.m_body->AssignRepeat(unit, count);
    return repeated;
}

QlStr QlStr::CtorRepeatNarrow(char unit, int count, int selector)
{
    return CtorRepeat(qlGutzCharToWide(unit, selector), count);
}

QlStr& QlStr::operator=(QlStr&& other)
{
    std::swap(m_body, other.m_body);
    return *this;
}

QlStr& QlStr::Assign(const QlStr& other)
{
    if (&other != this)
        m_body->Assign(*other.m_body);
    return *this;
}

QlStr& QlStr::AssignText(const QlChar* text)
{
    m_body->AssignText(text);
    return *this;
}

QlStr& QlStr::AssignAnsi(const char* text)
{
    m_body->AssignNarrow(text, -1, 1);
    return *this;
}

QlStr& QlStr::SetNull()
{
    m_body->ReleaseText();
    return *this;
}

QlStr& QlStr::Clear()
{
    m_body->SetEmpty();
    return *this;
}

void QlStr::Swap(QlStr& other)
{
    std::swap(m_body, other.m_body);
}

QlStr& QlStr::SetLength(int count)
{
    m_body->SetLength(count);
    return *this;
}

QlChar* QlStr::Buffer()
{
    m_body->MakePrivate();
    return m_body->text;
}

QlChar QlStr::CharAt(int index) const
{
    if (!qlCheck(m_body->text != nullptr && index >= 0 && index <= m_body->length, kSource,
                 kStringCharAt))
        return 0;
    return m_body->text[index];
}

QlChar QlStr::FirstChar() const
{
    return m_body->length > 0 ? m_body->text[0] : 0;
}

QlChar QlStr::LastChar() const
{
    return m_body->length > 0 ? m_body->text[m_body->length - 1] : 0;
}

QlStr& QlStr::Append(const QlStr& other)
{
    m_body->Append(*other.m_body);
    return *this;
}

QlStr& QlStr::AppendText(const QlChar* text)
{
    if (qlCheck(text != nullptr, kSource, kStringAppendNull))
        m_body->AppendChars(text, static_cast<int>(qlGutzStrLen(text)));
    return *this;
}

QlStr& QlStr::AddNarrow(const char* text, int selector)
{
    if (qlCheck(text != nullptr, kSource, kStringAppendNull))
        Append(QlStr(text, selector));
    return *this;
}

QlStr& QlStr::AppendChar(QlChar unit)
{
    m_body->AppendChars(&unit, 1);
    return *this;
}

QlStr QlStr::ConcatText(const QlChar* text) const
{
    if (text == nullptr || text[0] == 0)
        return *this;
    if (Length() == 0)
        return QlStr(text);
    return qlGutzJoin(Text(), Length(), text, static_cast<int>(qlGutzStrLen(text)));
}

QlStr QlStr::ConcatChar(QlChar unit) const
{
    if (Length() == 0)
        return QlStr(&unit, 1);
    return qlGutzJoin(Text(), Length(), &unit, 1);
}

QlStr qlStrConcat(const QlStr& a, const QlStr& b)
{
    if (a.Length() == 0)
        return b;
    if (b.Length() == 0)
        return a;
    return qlGutzJoin(a.Text(), a.Length(), b.Text(), b.Length());
}

bool QlStr::EqualsNoCaseAnsi(const char* text) const
{
    QlStrWide wide(text, 1);
    return m_body->EqualsNoCaseText(wide.Text());
}

int QlStr::FindNarrow(const char* pattern, int start, int selector) const
{
    QlStrWide wide(pattern, selector);
    return m_body->Find(wide.Text(), start);
}

QlStr QlStr::Left(int count, QlChar fill) const
{
    QlStr part(NullTag{});
    m_body->Left(*part.m_body, count, fill);
    return part;
}

QlStr QlStr::Mid(int start, int count, char fill, int selector) const
{
    QlChar wideFill = qlGutzCharToWide(fill, selector);
    QlStr part(NullTag{});
    m_body->Mid(*part.m_body, start, count, wideFill);
    return part;
}

QlStr QlStr::MidFrom(int start) const
{
    QlStr part(NullTag{});
    m_body->MidFrom(*part.m_body, start);
    return part;
}

#ifdef _WIN32
QlStr QlStr::CtorResource(int id)
{
    QlStr loaded;
    loaded.LoadString(id);
    return loaded;
}

#pragma push_macro("LoadString")
#undef LoadString
QlStr& QlStr::LoadString(int id)
{
    m_body->LoadResource(id);
    return *this;
}
#pragma pop_macro("LoadString")

QlStr& QlStr::Format(const QlChar* format, ...)
{
    va_list args;
    va_start(args, format);
    m_body->FormatV(format, args);
    va_end(args);
    return *this;
}

QlStr& QlStr::FormatV(const QlChar* format, va_list args)
{
    m_body->FormatV(format, args);
    return *this;
}

QlStr& QlStr::FormatAnsi(const char* format, ...)
{
    QlStrWide wideFormat(format, 1);
    va_list args;
    va_start(args, format);
    m_body->FormatV(wideFormat.Text(), args);
    va_end(args);
    return *this;
}
#endif

// ---------------------------------------------------------------------------
// Comparisons

int qlStrCompare(const QlStr& a, const QlStr& b)
{
    int byPresence = CompareByPresence(a, b);
    if (byPresence != 2)
        return byPresence;
    int shorter = a.Length() < b.Length() ? a.Length() : b.Length();
    for (int i = 0; i < shorter; ++i) {
        if (a.Text()[i] != b.Text()[i])
            return static_cast<unsigned>(a.Text()[i]) < static_cast<unsigned>(b.Text()[i]) ? -1 : 1;
    }
    return SignOf(a.Length() - b.Length());
}

int qlStrCompareNoCase(const QlStr& a, const QlStr& b)
{
    int byPresence = CompareByPresence(a, b);
    if (byPresence != 2)
        return byPresence;
    return SignOf(qlGutzPlatformCompareNoCase(a.Text(), b.Text()));
}

int qlStrCompareNoCaseN(const QlStr& a, const QlStr& b, int count)
{
    int byPresence = CompareByPresence(a, b);
    if (byPresence != 2)
        return byPresence;
    if (!qlCheck(count >= 0, kSource, kStringCompareCount))
        return 0;
    return SignOf(qlGutzPlatformCompareNoCaseN(a.Text(), b.Text(), static_cast<size_t>(count)));
}

bool qlStrEqualNoCase(const QlStr& a, const QlStr& b)
{
    return a.Body()->EqualsNoCase(*b.Body());
}
