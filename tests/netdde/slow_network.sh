#!/bin/bash
# Live feeds over a network slower than their server. The agent runs as node
# NODEF on a free port of 127.0.0.1; its node map sends node SLOWF through
# slow_relay.py, which carries what the serving side sends at RATE bytes a
# second, so that DDE clients of \\SLOWF\NDDE$ reach this node's own shares
# across a slow network. A server counts three items far faster than the
# network carries them, then stops at a known step:
# - every client of a hot link gets its item's values in order, and the
#   last one the server sent, soon after it stopped (a backlog of every
#   update would take minutes to cross): updates are merged on the way;
# - a link whose client asks for acks goes at the pace of its acks, in
#   order, up to the last value;
# - requests on another share are answered while the feed runs.
set -u
top=$(cd "$(dirname "$0")/../.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$top/build}
. "$top/tools/env.sh"
BIN=$BUILD_DIR/bin
NODE=NODEF
SLOW=SLOWF
FEED='FL_FEED$'
OTHER='FL_OTHER$'
# The feed offers four times what the network carries, at a pace a slow
# machine keeps up with, for 50 s: longer than the set-up of its links,
# which takes many seconds there.
RATE=8192                   # bytes a second toward the client's node
OFFERED=250                 # steps a second: 4 items of about 30 bytes, 30 KB/s
STEPS=12500                 # the counters' last value
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
port=$(free_port)
relay_port=$(free_port)
work=$(mktemp -d)
failures=0
pids=()

finish() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    for share in "$FEED" "$OTHER"; do
        timeout -k 5 60 wine reg delete 'HKLM\Software\Tessaseg\DDE Shares' /v "$share" /f \
            </dev/null >/dev/null 2>&1
    done
    timeout -k 5 60 wine reg delete 'HKLM\Software\Tessaseg\Nodes' /v "$SLOW" /f </dev/null >/dev/null 2>&1
    rm -rf "$work"
}
trap finish EXIT

check() {
    if eval "$2"; then
        echo "ok: $1"
    else
        echo "FAILED: $1"
        failures=$((failures + 1))
    fi
}

start_wine_server
timeout -k 5 60 wine "$BIN/addshare.exe" "$FEED" FLSRV QUOTES </dev/null >/dev/null || exit 1
timeout -k 5 60 wine "$BIN/addshare.exe" "$OTHER" FLOTHER QUOTES </dev/null >/dev/null || exit 1
timeout -k 5 60 wine reg add 'HKLM\Software\Tessaseg\Nodes' /v "$SLOW" /t REG_SZ \
    /d "127.0.0.1:$relay_port" /f </dev/null >/dev/null 2>&1 || exit 1
python3 "$top/tests/netdde/slow_relay.py" --listen "$relay_port" --to "$port" --rate "$RATE" \
    --seconds 280 >"$work/relay.log" 2>&1 &
pids+=($!)
wine "$BIN/ddeserver.exe" FLOTHER QUOTES /rate:0 /item:Price=7 </dev/null >/dev/null 2>&1 &
pids+=($!)
wine "$BIN/nddeagent.exe" "/port:$port" "/node:$NODE" /bind:127.0.0.1 </dev/null >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && grep -q listening "$work/relay.log" && break
    sleep 0.2
done

ddecmd() { timeout -k 5 120 wine "$BIN/ddecmd.exe" "\\\\$SLOW\\NDDE\$" "$@" </dev/null; }

# The session through the relay stands once a request is answered (the
# agent's window may still be coming up: a few tries, bounded).
crossed=no
for _ in $(seq 10); do
    [ "$(ddecmd "$OTHER" request Price /timeout:20000)" = $'7\r' ] && crossed=yes && break
    sleep 0.5
done
check "a request crosses the slow network" '[ $crossed = yes ]'

wine "$BIN/ddeserver.exe" FLSRV QUOTES "/rate:$OFFERED" /counters:3 "/steps:$STEPS" \
    </dev/null >/dev/null 2>&1 &
pids+=($!)
# The server is up once it answers locally (bounded).
for _ in $(seq 40); do
    timeout -k 5 60 wine "$BIN/ddecmd.exe" FLSRV QUOTES request Counter1 </dev/null >/dev/null 2>&1 && break
    sleep 0.25
done
started=$(date +%s)
for item in 1 2 3; do
    ddecmd "$FEED" advise "Counter$item" 75 /count /timeout:45000 >"$work/hot$item.out" 2>&1 &
    pids+=($!)
    hot[$item]=$!
    sleep 1
done
ddecmd "$FEED" advise Counter 75 /count /ackreq /timeout:45000 >"$work/acked.out" 2>&1 &
pids+=($!)
acked=$!

# While the feed runs: requests on the other share, each a conversation of
# its own whose opening crosses the network behind the feed's data, within
# a bound a loaded machine keeps.
sleep 5
answered=0
for _ in 1 2 3 4 5; do
    [ "$(ddecmd "$OTHER" request Price /timeout:45000)" = $'7\r' ] && answered=$((answered + 1))
done
echo "requests answered during the feed: $answered of 5 (after $(( $(date +%s) - started )) s)"
check "requests on another share are answered while the feed runs" '[ $answered -eq 5 ]'

merged=0
for item in 1 2 3; do
    wait "${hot[$item]}"
    echo "Counter$item: $(cat "$work/hot$item.out")"
    check "hot link Counter$item: in order, up to the last value" \
        'grep -q "first [0-9]* last $STEPS inorder yes" "$work/hot$item.out"'
    read -r _ count _ first _ last _ < <(tr -d '\r' <"$work/hot$item.out")
    [ "${count:-0}" -gt 0 ] && [ $((last - first + 1)) -gt "$count" ] && merged=$((merged + 1))
done
check "updates the network could not carry were merged" '[ $merged -gt 0 ]'
wait $acked
echo "Counter (acks): $(cat "$work/acked.out")"
read -r _ count _ first _ last _ inorder < <(tr -d '\r' <"$work/acked.out")
check "a link with acks keeps its order up to the last value" \
    '[ "$inorder" = yes ] && [ "$last" = $STEPS ] && [ "$count" -ge 2 ]'
echo "$failures failed"
[ $failures -eq 0 ]
