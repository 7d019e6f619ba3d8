# Sourced by the tool scripts: where the build lives and how Wine runs.
# BUILD_DIR may be set to keep several build trees apart (default: build/).
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR=$ROOT/$BUILD_DIR ;; esac
# RUN_DIR holds a run's Wine prefixes and state. A test that CTest runs beside
# others (tools/ctest-in-display) is given a slot of its own: a copy of the
# project's prefix and a display of its own, in build/slots/N.
RUN_DIR=$BUILD_DIR
slot=${CTEST_RESOURCE_GROUP_0_WINE:-}          # "id:N,slots:1"
if [ -n "$slot" ]; then
    slot=${slot#id:}
    RUN_DIR=$BUILD_DIR/slots/${slot%%,*}
    DISPLAY=$(cat "$RUN_DIR/display")
    export DISPLAY
fi
export WINEPREFIX="$RUN_DIR/wineprefix"
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

# The machine's CPU time in ticks: "BUSY STOLEN TOTAL", stolen being the
# time a virtual machine's host gave to others while this one had work.
cpu_ticks() { awk '$1 == "cpu" { print $2 + $3 + $4 + $7 + $8, $9, $2 + $3 + $4 + $5 + $6 + $7 + $8 + $9 }' /proc/stat; }
# Shares of every core since `cpu_ticks` gave "$1 $2 $3": "N% busy, M% stolen".
cpu_busy_since() {
    cpu_ticks | awk -v busy="$1" -v stolen="$2" -v total="$3" '{
        if ($3 > total) printf "%.0f%% busy, %.0f%% stolen by the host", 100 * ($1 - busy) / ($3 - total), 100 * ($2 - stolen) / ($3 - total)
        else print "unknown" }'
}
