#!/bin/bash
# Two nodes on this machine (tools/nodes: two Wine prefixes, two agents on
# loopback ports): a client on node A uses a share of node B, of a raw DDE
# server and of a DDEML server (which refuses, answers a registered format
# and ends conversations from its side); the serving agent is killed under a
# running advise link, which node A keeps through the outage when node B's
# agent is back within the grace period and ends once it is over, and new
# conversations work again.
set -u
# Ports of their own, so that other pairs on this machine are not disturbed.
. "$(dirname "$0")/node_pair.sh" 21000

# Runs as they are, carriage returns and all, within a minute.
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

# The grace period node A gives node B (seconds), or none: set_grace [SECONDS]
set_grace() {
    if [ -n "${1:-}" ]; then
        timeout -k 5 60 wine reg add 'HKLM\Software\Tessaseg\Nodes\NODEB' /v GracePeriod \
            /t REG_DWORD /d "$1" /f </dev/null >/dev/null 2>&1
    else
        timeout -k 5 60 wine reg delete 'HKLM\Software\Tessaseg\Nodes\NODEB' /v GracePeriod /f \
            </dev/null >/dev/null 2>&1
    fi
}

# Starts node B's agent again (its pid in $agent_pid) and waits (at most 20 s)
# until it listens.
restart_agent_b() {
    WINEPREFIX=$PREFIX_B wine "$BIN/nddeagent.exe" "/port:$NODE_B_PORT" /node:NODEB /bind:127.0.0.1 \
        </dev/null >/dev/null 2>&1 &
    agent_pid=$!
    for _ in $(seq 100); do
        (exec 3<>"/dev/tcp/127.0.0.1/$NODE_B_PORT") 2>/dev/null && break
        sleep 0.2
    done
}

updates_so_far() { grep -c '^[0-9][0-9]:' "$STATE/advise.out"; }

finish() {
    set_grace
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

# The serving agent killed under a running link and restarted within the
# grace period (30 s by default): node A's client keeps its link, whose
# updates resume after the restart (how soon is tools/bench-outage's figure),
# and ends it normally later.
start_link 30
check "the link delivers updates" yes "$(grep -q '^[0-9][0-9]:' "$STATE/advise.out" && echo yes)"
kill -9 "$(cat "$STATE/agent-B.pid")"
sleep 2                                # an outage of a few seconds
before=$(updates_so_far)
restart_agent_b
restarted=$(date +%s%N)
for _ in $(seq 200); do
    [ "$(updates_so_far)" -gt "$before" ] && break
    sleep 0.1
done
resumed_ms=$(( ($(date +%s%N) - restarted) / 1000000 ))
check "the link's updates resume after the restart" yes \
    "$([ "$(updates_so_far)" -gt "$before" ] && echo yes)"
echo "the link resumed $resumed_ms ms after the restart"
wait "$advise_pid"
check "the link outlives the outage and ends normally (exit code 0)" 0 $?

# Restarted, the serving agent serves new conversations.
price=$(on_a ddecmd.exe "$remote" 'NT_PAIR$' request Price /timeout:20000 | tr -d '\r')
check "a new conversation after the restart" 10 "$price"

# Without a restart, the link ends once the grace period (3 s here) is over.
set_grace 3
start_link 60
kill -9 "$agent_pid"
killed=$(date +%s)
wait "$advise_pid"
advise_status=$?
ended=$(( $(date +%s) - killed ))
check "the link ends when the grace period is over (exit code 5)" 5 "$advise_status"
check "not before it is over" yes "$([ "$ended" -ge 3 ] && echo yes || echo "no ($ended s)")"
# Well short of the 30 s a node gets without a setting, on a loaded machine too.
check "nor long after" yes "$([ "$ended" -le 20 ] && echo yes || echo "no ($ended s)")"

# A serving agent that stops answering (a node unplugged): the link ends on
# node A once nothing was heard for 10 s and the grace period is over.
restart_agent_b
start_link 60
kill -STOP "$agent_pid"
stopped=$(date +%s)
wait "$advise_pid"
advise_status=$?
ended=$(( $(date +%s) - stopped ))
kill -CONT "$agent_pid"
check "a silent serving node ends the link (exit code 5)" 5 "$advise_status"
check "within 20 s of its silence" yes "$([ "$ended" -le 20 ] && echo yes || echo "no ($ended s)")"

echo "$failures failure(s)"
[ "$failures" = 0 ]
