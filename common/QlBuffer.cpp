// QlBuf: the byte block and its text, multi-string and number forms.
#include "common/QlBuffer.h"

#include <cstdlib>
#include <cstring>

#include "common/QlHooks.h"
#include "common/QlOutOfMemory.h"

namespace {

const char kSource[] = "QlBuffer";

uint8_t* NewBlock(uint32_t size)
{
    if (size == 0)
        return nullptr;
    uint8_t* block = static_cast<uint8_t*>(std::malloc(size));
    if (block == nullptr)
        qlThrowOutOfMemory();
    return block;
}

// Bytes of a text with its NUL.
uint64_t TextBytes(const QlStr& text)
{
    return (static_cast<uint64_t>(text.Length()) + 1) * 2;
}

}  // namespace

QlBuf::QlBuf(uint32_t size) : m_data(NewBlock(size)), m_size(size), m_capacity(size)
{
}

QlBuf::QlBuf(const QlBuf& other) : QlBuf()
{
    Assign(other);
}

QlBuf::~QlBuf()
{
    std::free(m_data);
}

QlBuf& QlBuf::Assign(const QlBuf& other)
{
    if (this == &other)
        return *this;
    uint8_t* block = NewBlock(other.m_capacity);
    if (block != nullptr && other.m_data != nullptr && other.m_size > 0)
        std::memcpy(block, other.m_data, other.m_size);
    std::free(m_data);
    m_data = block;
    m_size = block != nullptr ? other.m_size : 0;
    m_capacity = other.m_capacity;
    return *this;
}

bool QlBuf::Resize(uint32_t size, int mode)
{
    if (!qlCheck(mode >= kKeep && mode <= kFresh, kSource, kBufferResizeMode))
        return false;
    if (m_capacity < size) {
        uint8_t* block = static_cast<uint8_t*>(std::malloc(size));
        if (block == nullptr)
            return false;
        if (mode == kKeep && m_data != nullptr)
            std::memcpy(block, m_data, m_size < size ? m_size : size);
        if (mode == kWipe) {
            std::memset(block, 0, size);
            if (m_data != nullptr)
                std::memset(m_data, 0, m_size);
        }
        std::free(m_data);
        m_data = block;
        m_capacity = size;
    } else if (mode == kWipe && m_data != nullptr) {
        std::memset(m_data, 0, m_size);
    }
    m_size = size;
    return true;
}

uint16_t QlBuf::UnitAt(uint32_t index) const
{
    return static_cast<uint16_t>(m_data[2 * index] | (m_data[2 * index + 1] << 8));
}

void QlBuf::PutUnits(uint32_t index, const QlStr& text)
{
    const QlChar* units = text.Text();
    uint32_t count = static_cast<uint32_t>(text.Length());
    for (uint32_t i = 0; i <= count; ++i) {
        uint16_t unit = i < count ? static_cast<uint16_t>(units[i]) : 0;
        m_data[2 * (index + i)] = static_cast<uint8_t>(unit);
        m_data[2 * (index + i) + 1] = static_cast<uint8_t>(unit >> 8);
    }
}

bool QlBuf::SetText(const QlStr& text)
{
    uint64_t bytes = TextBytes(text);
    if (bytes > UINT32_MAX || !Resize(static_cast<uint32_t>(bytes), kFresh))
        return false;
    PutUnits(0, text);
    return true;
}

bool QlBuf::GetText(QlStr& text) const
{
    if (m_data == nullptr)
        return false;
    uint32_t units = m_size / 2;
    uint32_t end = 0;
    while (end < units && UnitAt(end) != 0)
        ++end;
    if (units == 0 || end != units - 1)
        return false;
    QlStr read;
    read.SetLength(static_cast<int>(end));
    QlChar* target = read.Buffer();
    for (uint32_t i = 0; i < end; ++i)
        target[i] = static_cast<QlChar>(UnitAt(i));
    text = read;
    return true;
}

bool QlBuf::SetMultiText(const QlStringList& texts)
{
    uint64_t bytes = 2;
    for (const QlListNode* node = texts.Head(); node != nullptr; node = node->Next()) {
        bytes += TextBytes(node->Text());
        if (bytes > UINT32_MAX)
            return false;
    }
    if (!Resize(static_cast<uint32_t>(bytes), kFresh))
        return false;
    uint32_t at = 0;
    for (const QlListNode* node = texts.Head(); node != nullptr; node = node->Next()) {
        PutUnits(at, node->Text());
        at += static_cast<uint32_t>(node->Text().Length()) + 1;
    }
    PutUnits(at, QlStr());
    return true;
}

bool QlBuf::GetMultiText(QlStringList& texts) const
{
    texts.RemoveAll();
    if (m_data == nullptr)
        return false;
    uint32_t units = m_size / 2;
    if (units == 1)
        return UnitAt(0) == 0;
    uint32_t at = 0;
    while (units - at > 1) {
        uint32_t end = at;
        while (end < units && UnitAt(end) != 0)
            ++end;
        if (end == units)
            return false;
        QlStr text;
        text.SetLength(static_cast<int>(end - at));
        QlChar* target = text.Buffer();
        for (uint32_t i = at; i < end; ++i)
            target[i - at] = static_cast<QlChar>(UnitAt(i));
        texts.AddTail(text);
        at = end + 1;
    }
    return units - at == 1 && UnitAt(at) == 0;
}

bool QlBuf::SetDword(uint32_t value)
{
    if (!Resize(4, kFresh))
        return false;
    for (int i = 0; i < 4; ++i)
        m_data[i] = static_cast<uint8_t>(value >> (8 * i));
    return true;
}

bool QlBuf::GetDword(uint32_t& value) const
{
    if (m_data == nullptr || m_size != 4)
        return false;
    value = uint32_t(m_data[0]) | uint32_t(m_data[1]) << 8 | uint32_t(m_data[2]) << 16 |
            uint32_t(m_data[3]) << 24;
    return true;
}
