# What the tests of a pair of nodes share, sourced by them with the first
# port of a range of their own: ". node_pair.sh FIRST_PORT". It sets up the
# build's environment, node B's prefix, the checks (failures counts them),
# the runs of a program on node A or B (bounded, carriage returns dropped)
# and the answering of a node's next password dialog.
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$top/build}
. "$top/tools/env.sh"
ROOT=$top
export NODE_A_PORT=$(($1 + $$ % 4000 * 2)) NODE_B_PORT=$(($1 + 1 + $$ % 4000 * 2))
BIN=$BUILD_DIR/bin
PREFIX_B=$RUN_DIR/wineprefix-b
STATE=$RUN_DIR/nodes
failures=0

check() {   # check DESCRIPTION EXPECTED ACTUAL
    if [ "$2" = "$3" ]; then
        echo "ok: $1"
    else
        echo "FAILED: $1: expected '$2', got '$3'"
        failures=$((failures + 1))
    fi
}

on_b() { WINEPREFIX=$PREFIX_B timeout -k 5 90 wine "$BIN/$1" "${@:2}" </dev/null | tr -d '\r'; }
on_a() { timeout -k 5 90 wine "$BIN/$1" "${@:2}" </dev/null | tr -d '\r'; }
# Answers the next password dialog on a node: answer NODE CAPTION PASSWORD (in the background).
answer() {
    if [ "$1" = B ]; then
        on_b netdde_admincalls.exe "/answer:$2:$3" >"$STATE/answer.out" &
    else
        on_a netdde_admincalls.exe "/answer:$2:$3" >"$STATE/answer.out" &
    fi
    answer_pid=$!
}
answered() { wait "$answer_pid"; cat "$STATE/answer.out"; }
