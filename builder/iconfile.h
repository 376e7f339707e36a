// The icon file of -i and the group-icon resource made from it: the reading
// of the published .ico layout, the ids the images get in the executable, and
// the group's bytes.
//
// Pure code: no Windows headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One ICONDIRENTRY, with its image's place in the file.
struct IconImageEntry {
    uint8_t width, height, colour_count, reserved;
    uint16_t planes, bit_count;
    uint32_t bytes;   // bytes in resource
    uint32_t offset;  // image offset in the file
};

enum class IconFileStatus {
    Ok,
    NotAnIcon,  // no header of reserved 0 and type 1 (a bitmap, say)
    NoImages,   // a count of 0: a group without entries would leave the EXE without icon
    Damaged,    // the directory or an image lies beyond the end of the file
};

// Reads the directory of an icon file held in memory; every image must lie
// inside the file, so that nothing is written before the whole file is known
// to be good.
IconFileStatus parse_icon_file(const uint8_t* file, size_t size, std::vector<IconImageEntry>* images);

// The ids of the images in the new group. The first images take the old ids
// in group order; with allow_more and more images in the file than in the
// old group, the extra images take the ids above the largest old one.
// Otherwise the group keeps min(old, file) images.
std::vector<uint16_t> plan_icon_ids(const std::vector<uint16_t>& old_ids, size_t file_images,
                                    bool allow_more);

// The RT_GROUP_ICON resource: GRPICONDIR, one 14-byte entry per image with
// the id of `ids`, and 14 zero bytes behind (14 * n + 20 bytes).
std::vector<uint8_t> build_icon_group(const std::vector<IconImageEntry>& images,
                                      const std::vector<uint16_t>& ids);

// The icon ids of a group resource in group order; false when the bytes are
// not a group of icons (type word 1).
bool read_icon_group_ids(const uint8_t* group, size_t size, std::vector<uint16_t>* ids,
                         uint32_t* byte_sum);
