// The dialog templates' font patch: both template forms, the items moved
// behind a font block of another length, the 64 spare bytes, a template
// without DS_SETFONT, malformed templates left untouched; and the centring
// arithmetic.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/Dlg.h"

namespace {

typedef std::basic_string<QlChar> Text;

struct Item {
    uint16_t id;
    uint16_t class_atom;  // 0: class by name
    Text class_name;
    Text title;
    std::vector<uint8_t> extra;
};

struct Spec {
    bool extended = false;
    bool font = true;
    Text face = QL("MS Shell Dlg");
    uint16_t points = 8;
    uint16_t weight = 700;
    uint8_t italic = 1;
    uint8_t charset = 0xCC;
    uint16_t menu_ordinal = 0;  // 0: no menu
    Text class_name;            // empty: the standard dialog class
    Text title = QL("Caption");
    uint32_t style = 0x80C80000;  // popup, caption, system menu
    std::vector<Item> items;
};

class Writer {
public:
    std::vector<uint8_t> bytes;
    void u8(uint8_t v) { bytes.push_back(v); }
    void u16(uint16_t v) { u8(static_cast<uint8_t>(v)); u8(static_cast<uint8_t>(v >> 8)); }
    void u32(uint32_t v) { u16(static_cast<uint16_t>(v)); u16(static_cast<uint16_t>(v >> 16)); }
    void text(const Text& t)
    {
        for (QlChar c : t)
            u16(static_cast<uint16_t>(c));
        u16(0);
    }
    void align() { while (bytes.size() % 4) u8(0); }
};

std::vector<uint8_t> make_template(const Spec& s)
{
    Writer w;
    uint32_t style = s.style | (s.font ? kQlDlgSetFontStyle : 0);
    if (s.extended) {
        w.u16(1);
        w.u16(0xFFFF);
        w.u32(0x1234);  // help id
        w.u32(0);       // extended style
        w.u32(style);
    } else {
        w.u32(style);
        w.u32(0);
    }
    w.u16(static_cast<uint16_t>(s.items.size()));
    w.u16(10); w.u16(20); w.u16(200); w.u16(100);
    if (s.menu_ordinal) {
        w.u16(0xFFFF);
        w.u16(s.menu_ordinal);
    } else {
        w.u16(0);
    }
    w.text(s.class_name);
    w.text(s.title);
    if (s.font) {
        w.u16(s.points);
        if (s.extended) {
            w.u16(s.weight);
            w.u8(s.italic);
            w.u8(s.charset);
        }
        w.text(s.face);
    }
    for (const Item& item : s.items) {
        w.align();
        if (s.extended) {
            w.u32(0); w.u32(0); w.u32(0x50010000);
        } else {
            w.u32(0x50010000); w.u32(0);
        }
        w.u16(5); w.u16(6); w.u16(50); w.u16(14);
        if (s.extended) w.u32(item.id); else w.u16(item.id);
        if (item.class_atom) {
            w.u16(0xFFFF);
            w.u16(item.class_atom);
        } else {
            w.text(item.class_name);
        }
        w.text(item.title);
        w.u16(static_cast<uint16_t>(item.extra.size()));
        for (uint8_t b : item.extra) w.u8(b);
    }
    return w.bytes;
}

std::vector<Item> three_items()
{
    return {
        {1, 0x0080, Text(), QL("&OK"), {}},
        {26002, 0, QL("Static"), QL("A text of the dialog"), {}},
        {9, 0x0080, Text(), QL("&Help"), {0xAB, 0xCD}},
    };
}

uint16_t get16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
uint32_t get32(const std::vector<uint8_t>& b, size_t at) { return get16(b, at) | (static_cast<uint32_t>(get16(b, at + 2)) << 16); }

Text read_text(const std::vector<uint8_t>& b, size_t* at)
{
    Text t;
    for (;;) {
        uint16_t c = get16(b, *at);
        *at += 2;
        if (c == 0)
            return t;
        t += static_cast<QlChar>(c);
    }
}

// The items as the dialog manager would read them, from the layout's items offset.
std::vector<Item> read_items(const std::vector<uint8_t>& b, size_t size)
{
    QlDlgTemplateLayout layout;
    EXPECT_TRUE(qlDlgReadLayout(b.data(), size, &layout));
    std::vector<Item> items;
    size_t at = layout.items_offset;
    for (int i = 0; i < layout.items; ++i) {
        at = (at + 3) & ~size_t(3);
        Item item = {};
        if (layout.extended) {
            at += 20;
            item.id = static_cast<uint16_t>(get32(b, at));
            at += 4;
        } else {
            at += 16;
            item.id = get16(b, at);
            at += 2;
        }
        if (get16(b, at) == 0xFFFF) {
            item.class_atom = get16(b, at + 2);
            at += 4;
        } else {
            item.class_name = read_text(b, &at);
        }
        item.title = read_text(b, &at);
        uint16_t extra = get16(b, at);
        at += 2;
        item.extra.assign(b.begin() + at, b.begin() + at + extra);
        at += extra;
        items.push_back(item);
    }
    EXPECT_LE(at, size);
    return items;
}

void expect_same_items(const std::vector<Item>& want, const std::vector<Item>& got)
{
    ASSERT_EQ(want.size(), got.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(want[i].id, got[i].id) << "item " << i;
        EXPECT_EQ(want[i].class_atom, got[i].class_atom) << "item " << i;
        EXPECT_TRUE(want[i].class_name == got[i].class_name) << "item " << i;
        EXPECT_TRUE(want[i].title == got[i].title) << "item " << i;
        EXPECT_EQ(want[i].extra, got[i].extra) << "item " << i;
    }
}

// A copy as the loader makes it: the bytes, then the spare room.
std::vector<uint8_t> copy_of(const std::vector<uint8_t>& resource)
{
    std::vector<uint8_t> copy(resource);
    copy.resize(resource.size() + kQlDlgSpareBytes, 0);
    return copy;
}

struct Font {
    Text face;
    uint16_t points, weight;
    uint8_t italic, charset;
};

Font read_font(const std::vector<uint8_t>& b, size_t size)
{
    QlDlgTemplateLayout layout;
    EXPECT_TRUE(qlDlgReadLayout(b.data(), size, &layout));
    Font f = {};
    size_t at = layout.font_offset;
    f.points = get16(b, at);
    at += 2;
    if (layout.extended) {
        f.weight = get16(b, at);
        f.italic = b[at + 2];
        f.charset = b[at + 3];
        at += 4;
    }
    f.face = read_text(b, &at);
    return f;
}

// The size of the patched template: up to the end of its last item.
size_t patched_size(const std::vector<uint8_t>& original, const std::vector<uint8_t>& patched)
{
    QlDlgTemplateLayout before, after;
    EXPECT_TRUE(qlDlgReadLayout(original.data(), original.size(), &before));
    EXPECT_TRUE(qlDlgReadLayout(patched.data(), patched.size(), &after));
    return original.size() - before.items_offset + after.items_offset;
}

}  // namespace

TEST(DlgTemplate, BothFormsTakeTheNewFontAndKeepTheirItems)
{
    struct Case {
        const char* why;
        bool extended;
        Text old_face, new_face;
    } cases[] = {
        {"classic, shorter face: items move towards the start", false, QL("MS Shell Dlg"), QL("Tahoma")},
        {"classic, longer face: items move towards the end", false, QL("MS Sans"), QL("Microsoft Sans Serif")},
        {"classic, same length: nothing moves", false, QL("Tahoma"), QL("Arial1")},
        {"extended, shorter face", true, QL("MS Shell Dlg"), QL("Tahoma")},
        {"extended, longer face", true, QL("Arial"), QL("Segoe UI Semibold")},
        {"extended, one unit longer (alignment)", true, QL("Tahoma"), QL("Tahoma1")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Spec spec;
        spec.extended = c.extended;
        spec.face = c.old_face;
        spec.items = three_items();
        std::vector<uint8_t> resource = make_template(spec);
        std::vector<uint8_t> copy = copy_of(resource);
        ASSERT_TRUE(qlDlgSetFont(copy.data(), resource.size(), c.new_face.c_str(), 11, 0x40000));
        size_t size = patched_size(resource, copy);
        Font f = read_font(copy, size);
        EXPECT_TRUE(f.face == c.new_face);
        EXPECT_EQ(11, f.points);
        if (c.extended) {
            EXPECT_EQ(700, f.weight);
            EXPECT_EQ(1, f.italic);
            EXPECT_EQ(0xCC, f.charset);
        }
        QlDlgTemplateLayout layout;
        ASSERT_TRUE(qlDlgReadLayout(copy.data(), size, &layout));
        EXPECT_EQ(spec.style | kQlDlgSetFontStyle | 0x40000, layout.style);
        EXPECT_EQ(0u, layout.items_offset % 4);
        expect_same_items(spec.items, read_items(copy, size));
    }
}

TEST(DlgTemplate, FieldsBeforeTheFontAreSkippedInEachForm)
{
    // Menu and class as ordinal or string decide where the font block starts.
    for (bool extended : {false, true}) {
        Spec spec;
        spec.extended = extended;
        spec.menu_ordinal = 101;
        spec.class_name = QL("QuollaDialogClass");
        spec.title = Text();
        spec.items = three_items();
        std::vector<uint8_t> resource = make_template(spec);
        size_t header = extended ? 26 : 18;
        size_t expected = header + 4 + 2 * (17 + 1) + 2;
        EXPECT_EQ(expected, qlDlgFindFontBlock(resource.data(), resource.size()));
        std::vector<uint8_t> copy = copy_of(resource);
        ASSERT_TRUE(qlDlgSetFont(copy.data(), resource.size(), QL("Tahoma"), 9, 0));
        expect_same_items(spec.items, read_items(copy, patched_size(resource, copy)));
    }
}

TEST(DlgTemplate, TemplateWithoutSetFontGainsAFontBlock)
{
    for (bool extended : {false, true}) {
        SCOPED_TRACE(extended ? "extended" : "classic");
        Spec spec;
        spec.extended = extended;
        spec.font = false;
        spec.items = three_items();
        std::vector<uint8_t> resource = make_template(spec);
        std::vector<uint8_t> copy = copy_of(resource);
        ASSERT_TRUE(qlDlgSetFont(copy.data(), resource.size(), QL("Tahoma"), 8, 0));
        size_t size = patched_size(resource, copy);
        QlDlgTemplateLayout layout;
        ASSERT_TRUE(qlDlgReadLayout(copy.data(), size, &layout));
        EXPECT_TRUE(layout.style & kQlDlgSetFontStyle);
        Font f = read_font(copy, size);
        EXPECT_TRUE(f.face == QL("Tahoma"));
        EXPECT_EQ(8, f.points);
        if (extended) {
            EXPECT_EQ(0, f.weight);
            EXPECT_EQ(0, f.italic);
            EXPECT_EQ(1, f.charset);  // DEFAULT_CHARSET
        }
        expect_same_items(spec.items, read_items(copy, size));
    }
}

TEST(DlgTemplate, TemplateWithoutItemsIsPatchedInPlace)
{
    Spec spec;
    spec.extended = true;
    std::vector<uint8_t> resource = make_template(spec);
    std::vector<uint8_t> copy = copy_of(resource);
    ASSERT_TRUE(qlDlgSetFont(copy.data(), resource.size(), QL("Segoe UI"), 9, 0));
    size_t font = qlDlgFindFontBlock(resource.data(), resource.size());
    // Everything before the font block is unchanged but the style.
    EXPECT_EQ(0, memcmp(resource.data(), copy.data(), 12));
    EXPECT_EQ(0, memcmp(resource.data() + 16, copy.data() + 16, font - 16));
    EXPECT_TRUE(read_font(copy, copy.size()).face == QL("Segoe UI"));
}

TEST(DlgTemplate, GrowthUpToTheSpareBytesFitsAndMoreIsRefused)
{
    // A classic template without font whose font block would start on a
    // DWORD boundary: a face of n units needs 2 + 2 (n + 1) bytes, so 30
    // units grow it by exactly the 64 spare bytes and 31 by 68.
    Spec spec;
    spec.font = false;
    spec.title = QL("Dialog");  // 18 + 2 + 2 + 14 = 36: aligned
    spec.items = three_items();
    std::vector<uint8_t> resource = make_template(spec);
    ASSERT_EQ(0u, qlDlgFindFontBlock(resource.data(), resource.size()) % 4);

    Text thirty(30, QL('F'));
    std::vector<uint8_t> copy = copy_of(resource);
    ASSERT_TRUE(qlDlgSetFont(copy.data(), resource.size(), thirty.c_str(), 8, 0));
    EXPECT_EQ(resource.size() + kQlDlgSpareBytes, patched_size(resource, copy));
    expect_same_items(spec.items, read_items(copy, copy.size()));

    Text thirty_one(31, QL('F'));
    copy = copy_of(resource);
    std::vector<uint8_t> before = copy;
    EXPECT_FALSE(qlDlgSetFont(copy.data(), resource.size(), thirty_one.c_str(), 8, 0));
    EXPECT_EQ(before, copy) << "a refused patch leaves the copy as it was";

    // The largest growth of all, a 31-unit face in an extended template
    // without font (70 bytes), is refused the same way.
    spec.extended = true;
    resource = make_template(spec);
    copy = copy_of(resource);
    before = copy;
    EXPECT_FALSE(qlDlgSetFont(copy.data(), resource.size(), thirty_one.c_str(), 8, 0));
    EXPECT_EQ(before, copy);
}

TEST(DlgTemplate, BadInputLeavesTheCopyUntouched)
{
    Spec spec;
    spec.items = three_items();
    std::vector<uint8_t> resource = make_template(spec);
    struct Case {
        const char* why;
        size_t size;
        const QlChar* face;
    } cases[] = {
        {"cut inside the header", 10, QL("Tahoma")},
        {"cut inside the title", 24, QL("Tahoma")},
        {"cut inside the face name", qlDlgFindFontBlock(resource.data(), resource.size()) + 6, QL("Tahoma")},
        {"empty face", resource.size(), QL("")},
        {"face longer than 31 units", resource.size(), QL("ABCDEFGHIJKLMNOPQRSTUVWXYZ012345")},
        {"no face", resource.size(), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<uint8_t> copy = copy_of(resource);
        std::vector<uint8_t> before = copy;
        EXPECT_FALSE(qlDlgSetFont(copy.data(), c.size, c.face, 8, 0));
        EXPECT_EQ(before, copy);
    }
    EXPECT_EQ(0u, qlDlgFindFontBlock(resource.data(), 20));
    EXPECT_FALSE(qlDlgSetStyle(resource.data(), 20, 0x40000));
}

TEST(DlgTemplate, StyleBitsGoIntoEitherForm)
{
    for (bool extended : {false, true}) {
        Spec spec;
        spec.extended = extended;
        spec.items = three_items();
        std::vector<uint8_t> resource = make_template(spec);
        std::vector<uint8_t> copy = resource;
        ASSERT_TRUE(qlDlgSetStyle(copy.data(), copy.size(), 0x40000));
        QlDlgTemplateLayout layout;
        ASSERT_TRUE(qlDlgReadLayout(copy.data(), copy.size(), &layout));
        EXPECT_EQ(spec.style | kQlDlgSetFontStyle | 0x40000, layout.style);
        // Only the style changed.
        size_t at = extended ? 12 : 0;
        copy[at + 2] = resource[at + 2];
        EXPECT_EQ(resource, copy);
    }
}

TEST(DlgCentring, WindowsStayInsideTheWorkArea)
{
    const QlDlgRect work = {0, 0, 1024, 738};
    struct Case {
        const char* why;
        QlDlgRect reference;
        int width, height, x, y;
    } cases[] = {
        {"centred on the reference", {100, 100, 500, 400}, 200, 100, 200, 200},
        {"centred on the work area", work, 400, 300, 312, 219},
        {"wider than the work area: at its left edge", {100, 100, 500, 400}, 1200, 100, 0, 200},
        {"taller than the work area: at its top", {100, 100, 500, 400}, 200, 900, 200, 0},
        {"reference at the right edge: kept inside", {900, 600, 1024, 738}, 300, 200, 724, 538},
        {"reference off the left: not before the left edge", {-300, -200, 0, 0}, 200, 100, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        int x = -1, y = -1;
        qlDlgCentredPosition(c.reference, c.width, c.height, work, &x, &y);
        EXPECT_EQ(c.x, x);
        EXPECT_EQ(c.y, y);
    }
}
