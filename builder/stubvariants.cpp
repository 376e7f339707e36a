// The stub variant table.
#include "builder/stubvariants.h"

#include <windows.h>

StubVariant stub_variants[21] = {
    {L"SFXHDR_std-basic-en", 0, 0, 0x00, 0},  {L"SFXHDR_std-aes-en", 0, 0, 0x01, 0},
    {L"SFXHDR_std-lzpp-en", 0, 0, 0x26, 0},   {L"SFXHDR_std-full-en", 0, 0, 0x3F, 0},
    {L"SFXHDR_std-jpg-en", 0, 0, 0x30, 0},    {L"SFXHDR_inst-basic-en", 1, 0, 0x00, 0},
    {L"SFXHDR_inst-aes-en", 1, 0, 0x01, 0},   {L"SFXHDR_inst-lzpp-en", 1, 0, 0x26, 0},
    {L"SFXHDR_inst-full-en", 1, 0, 0x3F, 0},  {L"SFXHDR_inst-jpg-en", 1, 0, 0x30, 0},
    {L"SFXHDR_std-basic-de", 0, 1, 0x00, 0},  {L"SFXHDR_std-aes-de", 0, 1, 0x01, 0},
    {L"SFXHDR_std-lzpp-de", 0, 1, 0x26, 0},   {L"SFXHDR_std-full-de", 0, 1, 0x3F, 0},
    {L"SFXHDR_std-jpg-de", 0, 1, 0x30, 0},    {L"SFXHDR_inst-basic-de", 1, 1, 0x00, 0},
    {L"SFXHDR_inst-aes-de", 1, 1, 0x01, 0},   {L"SFXHDR_inst-lzpp-de", 1, 1, 0x26, 0},
    {L"SFXHDR_inst-full-de", 1, 1, 0x3F, 0},  {L"SFXHDR_inst-jpg-de", 1, 1, 0x30, 0},
    {nullptr, 0, 0, 0, 0},
};

uint32_t size_stub_images()
{
    uint32_t largest = 0;
    for (StubVariant* row = stub_variants; row->type_name; ++row) {
        HRSRC resource = FindResourceW(nullptr, L"SFXHDR", row->type_name);
        if (resource == nullptr)
            continue;
        row->image_size = SizeofResource(nullptr, resource);
        if (row->image_size > largest)
            largest = row->image_size;
    }
    return largest;
}
