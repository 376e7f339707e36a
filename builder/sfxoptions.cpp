// The process-wide option record.
#include "builder/sfxoptions.h"

SfxOptions g_options;
SfxBuildSettings g_settings;
OsVersionFlags g_os;

void reset_options()
{
    g_options = SfxOptions();
    g_settings = SfxBuildSettings();
}
