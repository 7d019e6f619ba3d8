# What the shell tests of two nodes share (sourced): where the build and
# the nodes' prefixes are, and check DESCRIPTION EXPECTED ACTUAL, which
# counts what failed in $failures.
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$top/build}
. "$top/tools/env.sh"
ROOT=$top
BIN=$BUILD_DIR/bin
PREFIX_B=$RUN_DIR/wineprefix-b
STATE=$RUN_DIR/nodes
failures=0

check() {
    if [ "$2" = "$3" ]; then
        echo "ok: $1"
    else
        echo "FAILED: $1: expected '$2', got '$3'"
        failures=$((failures + 1))
    fi
}
