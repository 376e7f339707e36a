// The stub's side of the archive engine (placeholder until the engine lands).
#include "stub/sfxstub.h"

int sfx_extract_all(const QlStr&)
{
    return 2;
}

int change_to_folder(const QlStr&)
{
    return -1;
}

uint32_t sfx_extracted_count()
{
    return 0;
}
