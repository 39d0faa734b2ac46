# Sourced: a quiet, headless Wine for this build. WINEPREFIX defaults to one beside the build.
: "${WINEPREFIX:=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/win32/wineprefix}"
export WINEPREFIX WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
unset DISPLAY WAYLAND_DISPLAY
