#!/bin/bash
# Remote administration between two nodes (tools/nodes: two Wine prefixes,
# two agents on loopback ports): node A's programs call the share functions
# with \\NODEB. Off until node B's administrator turns it on; a wrong or
# cancelled password is refused; with the right one every answer, buffer
# byte for byte, is the one the same call gets on node B itself; bad, unknown
# and silent nodes are refused within the library's time limit.
set -u
. "$(dirname "$0")/node_pair.sh" 25000

finish() {
    [ -z "${silent_pid:-}" ] || kill "$silent_pid" 2>/dev/null
    timeout -k 5 60 wine reg delete 'HKLM\Software\Tessaseg\Nodes' /v NODEQ /f </dev/null >/dev/null 2>&1
    WINEPREFIX=$PREFIX_B timeout -k 5 60 wine "$BIN/nddeagent.exe" /admin:off </dev/null >/dev/null 2>&1
    "$ROOT/tools/nodes" stop >/dev/null
}
trap finish EXIT

"$ROOT/tools/nodes" start || exit 1
remote='\\NODEB'

# Off by default: refused without a question to the user.
check "remote administration is off until turned on (access denied)" "list 1 0" \
    "$(on_a netdde_admincalls.exe "$remote" list)"

answer B "Remote Administration of" SECRET
turned_on=$(on_b nddeagent.exe /admin:on)
check "/admin:on takes the password" yes "$(echo "$turned_on" | grep -q ' is on$' && echo yes || echo "no: $turned_on")"
check "its dialog was answered" answered "$(answered)"
stored=$(WINEPREFIX=$PREFIX_B timeout 60 wine reg query 'HKLM\Software\Tessaseg\Administration' </dev/null 2>/dev/null | tr -d '\r')
check "only a salted key is stored, never the password" "no" \
    "$(echo "$stored" | grep -qi 'SECRET' && echo yes || echo no)"

answer A "Administration of \\\\NODEB" -
check "a cancelled password is access denied" "list 1 0" "$(on_a netdde_admincalls.exe "$remote" list)"
answered >/dev/null
answer A "Administration of \\\\NODEB" WRONG
check "a wrong password is access denied" "list 1 0" "$(on_a netdde_admincalls.exe "$remote" list)"
answered >/dev/null

# The right password, asked once: every answer as on node B itself.
answer A "Administration of \\\\NODEB" SECRET
on_a netdde_admincalls.exe "$remote" walk >"$STATE/walk-remote.out"
check "the right password is asked once" answered "$(answered)"
on_b netdde_admincalls.exe - walk >"$STATE/walk-local.out"
check "the walk ran every step" 29 "$(wc -l <"$STATE/walk-local.out")"
check "every answer from node A is byte for byte node B's own" "" \
    "$(diff "$STATE/walk-local.out" "$STATE/walk-remote.out")"
check "node B's own name is node B's own machine" "$(on_b netdde_admincalls.exe - list)" \
    "$(on_b netdde_admincalls.exe '\\nodeb' list)"
on_b_list=$(on_b netdde_admincalls.exe - list)
check "the password is remembered: no second question" "$on_b_list" \
    "$(on_a netdde_admincalls.exe "$remote" list)"
check "a server without backslashes, in any case" "$on_b_list" \
    "$(on_a netdde_admincalls.exe nodeb list)"
check "node B lists node A's session, and node A closes it" "close NODEA 0" \
    "$(on_a netdde_admincalls.exe "$remote" close)"

# Names that are no node, unknown and silent nodes.
check "a name that is no node name (invalid server)" "list 4 0" \
    "$(on_a netdde_admincalls.exe '\\NO DE' list)"
check "an unknown node (cannot access server)" "list 24 0" \
    "$(on_a netdde_admincalls.exe '\\NODEZZZ.INVALID' list)"
python3 -c '
import socket, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(5)
print(s.getsockname()[1], flush=True)
held = []
end = time.time() + 120
while time.time() < end:
    s.settimeout(1)
    try: held.append(s.accept()[0])
    except OSError: pass
' >"$STATE/silent.port" &
silent_pid=$!
for _ in $(seq 50); do [ -s "$STATE/silent.port" ] && break; sleep 0.1; done
timeout -k 5 60 wine reg add 'HKLM\Software\Tessaseg\Nodes' /v NODEQ /t REG_SZ \
    /d "127.0.0.1:$(cat "$STATE/silent.port")" /f </dev/null >/dev/null 2>&1
started=$(date +%s)
check "a node that does not answer (cannot access server)" "list 24 0" \
    "$(on_a netdde_admincalls.exe '\\NODEQ' list)"
took=$(( $(date +%s) - started ))
check "within the library's time limit (15 s, and the program's start)" yes \
    "$([ "$took" -le 40 ] && echo yes || echo "no ($took s)")"

# Turned off again: refused at once.
on_b nddeagent.exe /admin:off >/dev/null
check "turned off, a proved session is refused too" "list 1 0" \
    "$(on_a netdde_admincalls.exe "$remote" list)"

kill -9 "$(cat "$STATE/agent-A.pid")" 2>/dev/null
for _ in $(seq 50); do
    [ "$(on_a netdde_admincalls.exe "$remote" list)" = "list 18 0" ] && break
    sleep 0.2
done
check "without node A's agent (not running)" "list 18 0" "$(on_a netdde_admincalls.exe "$remote" list)"

echo "$failures failure(s)"
[ "$failures" = 0 ]
