#include "builder/iconfile.h"

#include "builder/sfxheader.h"
#include "common/QlBytes.h"

using sfx_detail::put16;
using sfx_detail::put32;

namespace {

const size_t kIconDirSize = 6;
const size_t kIconDirEntrySize = 16;
const size_t kGroupEntrySize = 14;
const uint16_t kTypeIcon = 1;

}  // namespace

IconFileStatus parse_icon_file(const uint8_t* file, size_t size, std::vector<IconImageEntry>* images)
{
    images->clear();
    if (file == nullptr || size < kIconDirSize || qlLoad16(file) != 0 || qlLoad16(file + 2) != kTypeIcon)
        return IconFileStatus::NotAnIcon;
    const uint16_t count = qlLoad16(file + 4);
    if (count == 0)
        return IconFileStatus::NoImages;
    if (size < kIconDirSize + count * kIconDirEntrySize)
        return IconFileStatus::Damaged;
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t* p = file + kIconDirSize + i * kIconDirEntrySize;
        IconImageEntry e;
        e.width = p[0];
        e.height = p[1];
        e.colour_count = p[2];
        e.reserved = p[3];
        e.planes = qlLoad16(p + 4);
        e.bit_count = qlLoad16(p + 6);
        e.bytes = qlLoad32(p + 8);
        e.offset = qlLoad32(p + 12);
        // In 64 bits, so that an offset near 4 GiB cannot wrap past the check.
        if (e.bytes == 0 || static_cast<uint64_t>(e.offset) + e.bytes > size) {
            images->clear();
            return IconFileStatus::Damaged;
        }
        images->push_back(e);
    }
    return IconFileStatus::Ok;
}

std::vector<uint16_t> plan_icon_ids(const std::vector<uint16_t>& old_ids, size_t file_images, bool allow_more)
{
    std::vector<uint16_t> ids;
    uint16_t max_id = 0;
    for (uint16_t id : old_ids)
        if (id > max_id)
            max_id = id;
    size_t n = allow_more && file_images > old_ids.size()
                   ? file_images
                   : (file_images < old_ids.size() ? file_images : old_ids.size());
    for (size_t i = 0; i < n; ++i) {
        if (i < old_ids.size())
            ids.push_back(old_ids[i]);
        else if (max_id < 0xFFFF)
            ids.push_back(++max_id);
        else
            break;  // no id left: the group keeps the images that have one
    }
    return ids;
}

std::vector<uint8_t> build_icon_group(const std::vector<IconImageEntry>& images, const std::vector<uint16_t>& ids)
{
    const size_t n = ids.size() < images.size() ? ids.size() : images.size();
    std::vector<uint8_t> group(kGroupEntrySize * n + 20, 0);
    put16(&group[2], kTypeIcon);
    put16(&group[4], static_cast<uint16_t>(n));
    for (size_t i = 0; i < n; ++i) {
        uint8_t* p = &group[kIconDirSize + i * kGroupEntrySize];
        const IconImageEntry& e = images[i];
        p[0] = e.width;
        p[1] = e.height;
        p[2] = e.colour_count;
        p[3] = e.reserved;
        put16(p + 4, e.planes);
        put16(p + 6, e.bit_count);
        put32(p + 8, e.bytes);
        put16(p + 12, ids[i]);
    }
    return group;
}

bool read_icon_group_ids(const uint8_t* group, size_t size, std::vector<uint16_t>* ids, uint32_t* byte_sum)
{
    ids->clear();
    if (byte_sum)
        *byte_sum = 0;
    if (group == nullptr || size < kIconDirSize || qlLoad16(group + 2) != kTypeIcon)
        return false;
    const uint16_t count = qlLoad16(group + 4);
    for (uint16_t i = 0; i < count && kIconDirSize + (i + 1u) * kGroupEntrySize <= size; ++i) {
        const uint8_t* p = group + kIconDirSize + i * kGroupEntrySize;
        ids->push_back(qlLoad16(p + 12));
        if (byte_sum)
            *byte_sum += qlLoad32(p + 8);
    }
    return true;
}
