#!/bin/bash
# Two nodes on this machine (tools/nodes: two Wine prefixes, two agents on
# loopback ports): a client on node A uses a share of node B, of a raw DDE
# server and of a DDEML server (which refuses, answers a registered format
# and ends conversations from its side); the serving agent is killed under a
# running advise link, which must end on node A in bounded time, and once
# restarted, new conversations work again.
set -u
top=$(cd "$(dirname "$0")/../.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$top/build}
. "$top/tools/env.sh"
ROOT=$top
# Ports of their own, so that other pairs on this machine are not disturbed.
export NODE_A_PORT=$((21000 + $$ % 4000 * 2)) NODE_B_PORT=$((21001 + $$ % 4000 * 2))
BIN=$BUILD_DIR/bin
PREFIX_B=$BUILD_DIR/wineprefix-b
STATE=$BUILD_DIR/nodes
failures=0

check() {   # check DESCRIPTION EXPECTED ACTUAL
    if [ "$2" = "$3" ]; then
        echo "ok: $1"
    else
        echo "FAILED: $1: expected '$2', got '$3'"
        failures=$((failures + 1))
    fi
}

on_b() { WINEPREFIX=$PREFIX_B timeout -k 5 60 wine "$BIN/$1" "${@:2}" </dev/null; }
on_a() { timeout -k 5 60 wine "$BIN/$1" "${@:2}" </dev/null; }

# Starts an advise link on node A for SECONDS (its pid in $advise_pid) and
# waits (at most 10 s) for its first update: start_link SECONDS [SHARE ITEM]
start_link() {
    on_a ddecmd.exe "$remote" "${2:-NT_PAIR\$}" advise "${3:-Counter}" "$1" >"$STATE/advise.out" 2>&1 &
    advise_pid=$!
    for _ in $(seq 50); do
        grep -q '^[0-9][0-9]:' "$STATE/advise.out" && break
        sleep 0.2
    done
}

# Waits (at most 20 s) until a DDE server on node B answers a request of
# ITEM itself: wait_for_server SERVICE TOPIC ITEM. A program just started
# may take seconds to answer on a loaded machine, and a conversation from
# node A finds no server before then.
wait_for_server() {
    for _ in $(seq 40); do
        on_b ddecmd.exe "$1" "$2" request "$3" /timeout:2000 >/dev/null 2>&1 && return
        sleep 0.5
    done
}

finish() {
    [ -z "${server_pid:-}" ] || kill "$server_pid" 2>/dev/null
    [ -z "${ddeml_pid:-}" ] || kill "$ddeml_pid" 2>/dev/null
    [ -z "${agent_pid:-}" ] || kill "$agent_pid" 2>/dev/null
    "$ROOT/tools/nodes" stop >/dev/null
}
trap finish EXIT

"$ROOT/tools/nodes" start || exit 1
on_b addshare.exe 'NT_PAIR$' NTSRV QUOTES >/dev/null
WINEPREFIX=$PREFIX_B wine "$BIN/ddeserver.exe" NTSRV QUOTES /rate:20 /item:Price=9 </dev/null >/dev/null 2>&1 &
server_pid=$!
remote='\\NODEB\NDDE$'
wait_for_server NTSRV QUOTES Price
price=$(on_a ddecmd.exe "$remote" 'NT_PAIR$' request Price /timeout:20000 | tr -d '\r')
check "a request from node A reaches node B's server" 9 "$price"
on_a ddecmd.exe "$remote" 'NT_PAIR$' poke Price 10 >/dev/null
check "a poke from node A" 0 $?
price=$(on_a ddecmd.exe "$remote" 'NT_PAIR$' request Price | tr -d '\r')
check "the poked value comes back" 10 "$price"

# A DDEML server on node B, two topics.
on_b addshare.exe 'NT_DDEML$' NTDDEML QUOTES >/dev/null
on_b addshare.exe 'NT_DDEMLB$' NTDDEML OTHER >/dev/null
WINEPREFIX=$PREFIX_B wine "$BIN/netdde_ddemlserver.exe" NTDDEML QUOTES OTHER </dev/null >/dev/null 2>&1 &
ddeml_pid=$!
wait_for_server NTDDEML QUOTES Price
on_a ddecmd.exe "$remote" 'NT_DDEML$' request Refused >/dev/null
check "a request the DDEML server refuses" 3 $?
blob=$(on_a ddecmd.exe "$remote" 'NT_DDEML$' request Blob TessaDdemlFormat | tr -d '\r')
check "a request answered in a registered format" "B1 B2" "$blob"
on_a ddecmd.exe "$remote" 'NT_DDEML$' poke Value poked >/dev/null
check "a poke the DDEML server takes" 0 $?
value=$(on_a ddecmd.exe "$remote" 'NT_DDEML$' request Value | tr -d '\r')
check "the poked text comes back" poked "$value"
on_a ddecmd.exe "$remote" 'NT_DDEML$' execute '[terminate]' >/dev/null
check "an execute that makes the server end its conversation" 0 $?
for round in 1 2; do
    price=$(on_a ddecmd.exe "$remote" 'NT_DDEML$' request Price | tr -d '\r')
    check "a new conversation after the server ended one ($round)" 1 "$price"
done
other=$(on_a ddecmd.exe "$remote" 'NT_DDEMLB$' request Price | tr -d '\r')
check "the DDEML server's other topic" 1 "$other"
# Node B closes its session under a link; new conversations open after.
start_link 30 'NT_DDEML$' Price
check "a link to the DDEML server delivers" yes "$(grep -q '^[0-9][0-9]:' "$STATE/advise.out" && echo yes)"
on_b addshare.exe /closesessions >/dev/null
wait "$advise_pid"
check "node B's session close ends the link (exit code 5)" 5 $?
for round in 1 2; do
    price=$(on_a ddecmd.exe "$remote" 'NT_DDEML$' request Price | tr -d '\r')
    check "a new conversation after node B closed the session ($round)" 1 "$price"
done

# The serving agent killed under a running link: node A's client sees its
# conversation end within 10 s of the kill (ddecmd checks every half second).
start_link 40
check "the link delivers updates" yes "$(grep -q '^[0-9][0-9]:' "$STATE/advise.out" && echo yes)"
kill -9 "$(cat "$STATE/agent-B.pid")"
killed=$(date +%s)
wait "$advise_pid"
advise_status=$?
ended=$(( $(date +%s) - killed ))
check "the client's conversation ends (exit code 5)" 5 "$advise_status"
check "within 10 s of the kill" yes "$([ "$ended" -le 10 ] && echo yes || echo "no ($ended s)")"

# Restarted, the serving agent serves new conversations.
WINEPREFIX=$PREFIX_B wine "$BIN/nddeagent.exe" "/port:$NODE_B_PORT" /node:NODEB /bind:127.0.0.1 \
    </dev/null >/dev/null 2>&1 &
agent_pid=$!
for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$NODE_B_PORT") 2>/dev/null && break
    sleep 0.2
done
price=$(on_a ddecmd.exe "$remote" 'NT_PAIR$' request Price /timeout:20000 | tr -d '\r')
check "a new conversation after the restart" 10 "$price"

# A serving agent that stops answering (a node unplugged): the link ends on
# node A once nothing was heard for 10 s.
start_link 60
kill -STOP "$agent_pid"
stopped=$(date +%s)
wait "$advise_pid"
advise_status=$?
ended=$(( $(date +%s) - stopped ))
kill -CONT "$agent_pid"
check "a silent serving node ends the link (exit code 5)" 5 "$advise_status"
check "within 15 s of its silence" yes "$([ "$ended" -le 15 ] && echo yes || echo "no ($ended s)")"

echo "$failures failure(s)"
[ "$failures" = 0 ]
