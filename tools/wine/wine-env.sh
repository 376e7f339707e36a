# Sourced with $state set: the environment of every Wine process of a test run.
# Never the user's ~/.wine, never the real home (Wine's Desktop folder links to
# $HOME and crash reports land there), no Mono/Gecko prompts, no desktop entries.
export WINEPREFIX="$state/prefix"
export WINEARCH=win32
export WINEDEBUG=-all
# QL_WINE_OVERRIDES: more overrides for one run (a test's stand-in DLL);
# Wine takes them only from the environment its first process starts with.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d${QL_WINE_OVERRIDES:+;$QL_WINE_OVERRIDES}"
export HOME="$state/home"
export XDG_CONFIG_HOME="$state/home/.config"
export XDG_DATA_HOME="$state/home/.local/share"
export XDG_CACHE_HOME="$state/home/.cache"
# Wine takes the "C" locale as en-US (ANSI code page 1252, OEM 437); the UTF-8
# form lets non-ASCII names and arguments cross to the Unix side intact, and
# is present on every Debian machine. A test that needs other code pages names
# its own UTF-8 locale in QL_WINE_LOCALE (with LOCPATH where it generated it):
# Wine takes each program's code pages from the locale it starts in.
export LANG=${QL_WINE_LOCALE:-C.UTF-8} LC_ALL=${QL_WINE_LOCALE:-C.UTF-8}
export TZ=UTC
if [ -f "$state/display" ]; then
  DISPLAY=$(cat "$state/display")
  export DISPLAY
fi
# A native 64-bit wineserver serves the 32-bit clients much faster than the
# 32-bit one where 32-bit code runs emulated.
if [ -x /usr/lib/wine/wineserver64 ]; then
  export WINESERVER=/usr/lib/wine/wineserver64
fi
