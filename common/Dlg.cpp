// Dialog template bytes: finding and rewriting the font block.
#include "common/Dlg.h"

#include <cstring>

namespace {

const size_t kClassicHeader = 18;   // style, ext style, item count, x, y, cx, cy
const size_t kExtendedHeader = 26;  // version, signature, help id, ext style, style, count, x, y, cx, cy
const size_t kClassicFontHeader = 2;   // point size
const size_t kExtendedFontHeader = 6;  // point size, weight, italic, charset
const uint8_t kDefaultCharset = 1;

uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t get32(const uint8_t* p) { return get16(p) | (static_cast<uint32_t>(get16(p + 2)) << 16); }
void put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v)
{
    put16(p, static_cast<uint16_t>(v));
    put16(p + 2, static_cast<uint16_t>(v >> 16));
}
size_t dword_aligned(size_t at) { return (at + 3) & ~static_cast<size_t>(3); }

bool is_extended(const uint8_t* tpl, size_t size) { return size >= 4 && get16(tpl + 2) == 0xFFFF; }

// Skips a NUL-terminated UTF-16 string at `at`; false when it runs off the end.
bool skip_string(const uint8_t* tpl, size_t size, size_t* at)
{
    for (size_t p = *at; p + 2 <= size; p += 2) {
        if (get16(tpl + p) == 0) {
            *at = p + 2;
            return true;
        }
    }
    return false;
}

// A menu or class field: 0xFFFF and an ordinal, or a string (0 alone is the
// empty string).
bool skip_name_or_ordinal(const uint8_t* tpl, size_t size, size_t* at)
{
    if (*at + 2 > size)
        return false;
    if (get16(tpl + *at) == 0xFFFF) {
        *at += 4;
        return *at <= size;
    }
    return skip_string(tpl, size, at);
}

size_t face_units(const QlChar* face)
{
    size_t n = 0;
    while (face[n] != 0)
        ++n;
    return n;
}

}  // namespace

bool qlDlgReadLayout(const uint8_t* tpl, size_t size, QlDlgTemplateLayout* layout)
{
    if (tpl == nullptr)
        return false;
    QlDlgTemplateLayout l = {};
    l.extended = is_extended(tpl, size);
    size_t header = l.extended ? kExtendedHeader : kClassicHeader;
    if (size < header)
        return false;
    l.style_offset = l.extended ? 12 : 0;
    l.style = get32(tpl + l.style_offset);
    l.items = get16(tpl + (l.extended ? 16 : 8));
    size_t at = header;
    if (!skip_name_or_ordinal(tpl, size, &at) || !skip_name_or_ordinal(tpl, size, &at) ||
        !skip_string(tpl, size, &at))
        return false;
    l.font_offset = at;
    if (l.style & kQlDlgSetFontStyle) {
        at += l.extended ? kExtendedFontHeader : kClassicFontHeader;
        if (at > size || !skip_string(tpl, size, &at))
            return false;
        l.font_size = at - l.font_offset;
    }
    l.items_offset = dword_aligned(at);
    *layout = l;
    return true;
}

size_t qlDlgFindFontBlock(const uint8_t* tpl, size_t size)
{
    QlDlgTemplateLayout layout;
    return qlDlgReadLayout(tpl, size, &layout) ? layout.font_offset : 0;
}

bool qlDlgSetFont(uint8_t* copy, size_t resource_size, const QlChar* face, uint16_t points,
                  uint32_t extra_style)
{
    QlDlgTemplateLayout l;
    if (face == nullptr || !qlDlgReadLayout(copy, resource_size, &l))
        return false;
    size_t units = face_units(face);
    if (units == 0 || units > static_cast<size_t>(kQlDlgMaxFaceUnits))
        return false;
    size_t font_header = l.extended ? kExtendedFontHeader : kClassicFontHeader;
    size_t new_size = font_header + 2 * (units + 1);
    size_t capacity = resource_size + kQlDlgSpareBytes;
    size_t new_items = dword_aligned(l.font_offset + new_size);
    // The items run to the end of the resource bytes; a template without
    // items ends with its font block.
    size_t items_bytes = l.items != 0 && l.items_offset < resource_size ? resource_size - l.items_offset : 0;
    if (l.font_offset + new_size > capacity || (items_bytes != 0 && new_items + items_bytes > capacity))
        return false;

    bool had_font = (l.style & kQlDlgSetFontStyle) != 0;
    put32(copy + l.style_offset, l.style | extra_style | kQlDlgSetFontStyle);
    if (new_size != l.font_size && items_bytes != 0)
        memmove(copy + new_items, copy + l.items_offset, items_bytes);
    uint8_t* block = copy + l.font_offset;
    put16(block, points);
    if (l.extended && !had_font) {
        put16(block + 2, 0);  // weight: the face's own
        block[4] = 0;         // not italic
        block[5] = kDefaultCharset;
    }
    uint8_t* name = block + font_header;
    for (size_t i = 0; i <= units; ++i)
        put16(name + 2 * i, i < units ? static_cast<uint16_t>(face[i]) : 0);
    // The alignment gap before the items holds zeros, as the resource
    // compiler writes it.
    for (size_t p = l.font_offset + new_size; p < new_items && p < capacity; ++p)
        copy[p] = 0;
    return true;
}

bool qlDlgSetStyle(uint8_t* copy, size_t size, uint32_t extra_style)
{
    QlDlgTemplateLayout l;
    if (!qlDlgReadLayout(copy, size, &l))
        return false;
    put32(copy + l.style_offset, l.style | extra_style);
    return true;
}

void qlDlgCentredPosition(const QlDlgRect& reference, int width, int height,
                          const QlDlgRect& work_area, int* x, int* y)
{
    int left = reference.left + (reference.right - reference.left - width) / 2;
    int top = reference.top + (reference.bottom - reference.top - height) / 2;
    if (left + width > work_area.right)
        left = work_area.right - width;
    if (top + height > work_area.bottom)
        top = work_area.bottom - height;
    if (left < work_area.left)
        left = work_area.left;
    if (top < work_area.top)
        top = work_area.top;
    *x = left;
    *y = top;
}
