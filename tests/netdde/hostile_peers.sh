#!/bin/bash
# The agent against simulated peers speaking raw frames over 127.0.0.0/8
# (PEERS, default hostile_peer.py) while a real DDE client keeps an advise
# link and completes requests through the agent's own node. The agent runs
# as node NODEH on a free port of 127.0.0.1 with share HT_HOSTILE$ of a test
# DDE server; SESSION_LIMIT, when set, is its MaxSessions, and the peers
# get it as --limit, with the arguments after PEERS; ADMIN_PASSWORD, when
# set, turns its remote administration on with that password; PEERS_TIMEOUT
# bounds the peers' run (default 400 s).
#   hostile_peers.sh [PEERS [ARGUMENTS...]]
set -u
peers=${1:-hostile_peer.py}
[ $# -eq 0 ] || shift
top=$(cd "$(dirname "$0")/../.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$top/build}
. "$top/tools/env.sh"
BIN=$BUILD_DIR/bin
SHARE='HT_HOSTILE$'
NODE=NODEH
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

finish() {
    [ -z "${agent_pid:-}" ] || kill "$agent_pid" 2>/dev/null
    [ -z "${server_pid:-}" ] || kill "$server_pid" 2>/dev/null
    timeout -k 5 60 wine reg delete 'HKLM\Software\Tessaseg\DDE Shares' /v "$SHARE" /f \
        </dev/null >/dev/null 2>&1
    [ -z "${SESSION_LIMIT:-}" ] || timeout -k 5 60 wine reg delete 'HKLM\Software\Tessaseg\Agent' \
        /v MaxSessions /f </dev/null >/dev/null 2>&1
    [ -z "${ADMIN_PASSWORD:-}" ] || timeout -k 5 60 wine reg delete \
        'HKLM\Software\Tessaseg\Administration' /f </dev/null >/dev/null 2>&1
    # The node map as it was: without the pins of the peers met once.
    timeout -k 5 60 wine reg delete 'HKLM\Software\Tessaseg\Nodes' /f </dev/null >/dev/null 2>&1
    [ ! -s "$nodes" ] || timeout -k 5 60 wine reg import "$(windows_path "$nodes")" </dev/null >/dev/null 2>&1
    rm -f "$nodes"
}
nodes=$(mktemp)
timeout -k 5 60 wine reg export 'HKLM\Software\Tessaseg\Nodes' "$(windows_path "$nodes")" /y \
    </dev/null >/dev/null 2>&1 || : >"$nodes"
trap finish EXIT

timeout -k 5 60 wine "$BIN/addshare.exe" "$SHARE" HTSRV QUOTES </dev/null >/dev/null || exit 1
limit_option=()
if [ -n "${SESSION_LIMIT:-}" ]; then
    timeout -k 5 60 wine reg add 'HKLM\Software\Tessaseg\Agent' /v MaxSessions /t REG_DWORD \
        /d "$SESSION_LIMIT" /f </dev/null >/dev/null 2>&1 || exit 1
    limit_option=(--limit "$SESSION_LIMIT")
fi
if [ -n "${ADMIN_PASSWORD:-}" ]; then
    # Stored as the agent stores it (administration.h): a random salt, the
    # iteration count and the PBKDF2-HMAC-SHA-256 key, never the password.
    read -r salt key < <(python3 -c 'import hashlib, os, sys
salt = os.urandom(16)
print(salt.hex(), hashlib.pbkdf2_hmac("sha256", sys.argv[1].encode(), salt, 1000, 32).hex())' \
        "$ADMIN_PASSWORD")
    for value in "Salt REG_BINARY $salt" "Key REG_BINARY $key" "Iterations REG_DWORD 1000" \
                 "Enabled REG_DWORD 1"; do
        read -r name type data <<<"$value"
        timeout -k 5 60 wine reg add 'HKLM\Software\Tessaseg\Administration' /v "$name" \
            /t "$type" /d "$data" /f </dev/null >/dev/null 2>&1 || exit 1
    done
fi
wine "$BIN/ddeserver.exe" HTSRV QUOTES /rate:20 /item:Price=7 </dev/null >/dev/null 2>&1 &
server_pid=$!
wine "$BIN/nddeagent.exe" "/port:$port" "/node:$NODE" /bind:127.0.0.1 </dev/null >/dev/null 2>&1 &
agent_pid=$!
for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.2
done
# The peers present this node's own key pair (the agent has made it by now).
identity=$(mktemp)
timeout -k 5 60 wine reg export 'HKLM\Software\Tessaseg\Agent' "$(windows_path "$identity")" /y \
    </dev/null >/dev/null 2>&1 || exit 1
timeout -k 10 "${PEERS_TIMEOUT:-400}" python3 "$top/tests/netdde/$peers" --port "$port" \
    --node "$NODE" --share "$SHARE" --identity "$identity" "${limit_option[@]}" "$@" \
    --client timeout -k 5 90 wine "$BIN/ddecmd.exe"
status=$?
rm -f "$identity"
exit $status
