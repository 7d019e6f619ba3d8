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

# A Windows path for a path of this machine (Wine's drive Z: is the root).
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

# Wine's server and desktop for $WINEPREFIX, started with their output
# detached so that nothing waits on them.
start_wine_server() {
    wineserver -p >/dev/null 2>&1 </dev/null || true    # one runs already
    wine cmd /c exit >/dev/null 2>&1 </dev/null
}
