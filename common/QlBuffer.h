// QlBuf: an owned block of bytes with a size and a capacity.
//
// It carries registry and settings values: a UTF-16LE text with its NUL, a
// multi-string (texts each ended by NUL, the whole ended by one more NUL) or a
// 32-bit little-endian number. The getters accept only contents of exactly
// that shape and leave their output alone otherwise.
//
// The constructors and Assign throw QlBadAlloc ("Out of memory"); Resize and
// the setters return false and leave the buffer as it was.
#pragma once

#include <cstdint>
#include "common/QlList.h"
#include "common/QlString.h"

// Lines named in the reports of the QlBuffer source.
enum QlBufferLine {
    kBufferResizeMode = 169,  // a resize mode other than 0, 1, 2
};

class QlBuf {
public:
    // How Resize fills a new block.
    enum ResizeMode {
        kKeep = 0,   // the old bytes copied, as many as fit
        kWipe = 1,   // the old bytes and the new block zeroed
        kFresh = 2,  // nothing copied
    };

    QlBuf() : m_data(nullptr), m_size(0), m_capacity(0) {}
    explicit QlBuf(uint32_t size);
    QlBuf(const QlBuf& other);
    QlBuf& operator=(const QlBuf& other) { return Assign(other); }
    ~QlBuf();

    static QlBuf CtorEmpty() { return QlBuf(); }
    static QlBuf Ctor(uint32_t size) { return QlBuf(size); }
    QlBuf& Assign(const QlBuf& other);

    uint8_t* Data() { return m_data; }
    const uint8_t* Data() const { return m_data; }
    uint32_t Size() const { return m_size; }
    uint32_t Capacity() const { return m_capacity; }

    // A larger block only when the capacity is short; the size is always set.
    bool Resize(uint32_t size, int mode);

    bool SetText(const QlStr& text);
    bool AssignText(const QlStr& text) { return SetText(text); }
    bool GetText(QlStr& text) const;
    bool ToText(QlStr& text) const { return GetText(text); }
    bool SetMultiText(const QlStringList& texts);
    // The list is emptied first; after a fault it may hold the texts read before it.
    bool GetMultiText(QlStringList& texts) const;
    bool SetDword(uint32_t value);
    bool GetDword(uint32_t& value) const;

private:
    uint16_t UnitAt(uint32_t index) const;
    void PutUnits(uint32_t index, const QlStr& text);  // the text and its NUL

    uint8_t* m_data;  // null when empty
    uint32_t m_size;
    uint32_t m_capacity;
};
