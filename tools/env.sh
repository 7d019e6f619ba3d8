# Sourced by the tool scripts: where the build lives and how Wine runs.
# BUILD_DIR may be set to keep several build trees apart (default: build/).
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR=$ROOT/$BUILD_DIR ;; esac
export WINEPREFIX="$BUILD_DIR/wineprefix"
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono/Gecko installers, no menu entries, and no debugger that would
# hold a crashed test program open until its timeout.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
export WINEARCH=win32
