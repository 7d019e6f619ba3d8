#!/bin/sh
# An installation's life in a Wine prefix of its own (a copy of the build's):
#   1. the older release installed silently into a chosen folder (/D=);
#   2. a program of another folder loads Tessaflat.dll by name and adds a share;
#      the current setup, run while a program refuses to close, stops and
#      leaves everything as it was;
#   3. the current release installed silently over it while the agent and
#      both front ends run: they are closed, the programs replaced, the share
#      kept, and the installed status program lists it;
#   4. the older setup run again: it must not downgrade the shared libraries;
#   5. a silent uninstall while another program counts on Tessaflat.dll;
#   6. an install and uninstall on a Windows with help on help of its own,
#      which stays as it is.
# install_check.exe checks the state after each step (one test suite each).
#   install_test.sh SETUP VERSION OLDER_SETUP OLDER_VERSION INSTALL_CHECK
# Runs under CTest, whose environment carries the project's Wine settings.
set -u
setup=$1 version=$2 older_setup=$3 older_version=$4 check=$5

work=$(dirname "$check")/lifecycle
folder='C:\Tools\NetworkDde'
share='KEPT$'
system_help=''
other_users=0
failures=0

rm -rf "$work"
mkdir -p "$work"
cp -a "$WINEPREFIX" "$work/prefix"
export WINEPREFIX="$work/prefix"
# A Windows without the build's help: no links to it in the Windows folder.
find "$WINEPREFIX/drive_c/windows" -maxdepth 1 -name '*.hlp' -type l -delete
unix_folder="$WINEPREFIX/drive_c/Tools/NetworkDde"

# This prefix's server and desktop, detached from our output; stopped (with
# every program left in the prefix) at the end.
wineserver -p >/dev/null 2>&1 </dev/null
wine cmd /c exit >/dev/null 2>&1 </dev/null
wine reg delete 'HKLM\Software\Microsoft\Windows\Help' /f >/dev/null 2>&1 </dev/null
trap 'wineserver -k >/dev/null 2>&1' EXIT

# check SUITE PROGRAMS_VERSION LIBRARIES_VERSION
check() {
    echo "== check: $1"
    CHECK_FOLDER=$folder CHECK_VERSION=$2 CHECK_LIBRARY_VERSION=$3 CHECK_SHARE=$share \
        CHECK_SYSTEM_HELP=$system_help CHECK_OTHER_USERS=$other_users \
        wine "$check" --test-suite="$1" </dev/null || failures=$((failures + 1))
}

# run_setup PROGRAM [ARGUMENTS]: a setup that fails ends the test.
run_setup() {
    echo "== setup: $*"
    wine "$@" </dev/null || { echo "install_test: $* ended with code $?"; exit 1; }
}

run_setup "$older_setup" /S "/D=$folder"
check installed "$older_version" "$older_version"
check library_by_name "$older_version" "$older_version"
# The current setup, run by the check while a program refuses to close.
CHECK_SETUP=$(printf 'Z:%s' "$setup" | tr / '\\') check stays_open "$older_version" "$older_version"

# The installed programs, the agent listening on a port of the system's
# choosing so that no other agent on this machine (other tests) keeps it
# from starting.
wine "$unix_folder/nddeagent.exe" /port:0 >/dev/null 2>&1 </dev/null &
wine "$unix_folder/quorvstat.exe" >/dev/null 2>&1 </dev/null &
wine "$unix_folder/Marrowby.exe" >/dev/null 2>&1 </dev/null &
check running "$older_version" "$older_version"
# No /D: the upgrade finds the installed folder itself.
run_setup "$setup" /S
check closed "$version" "$version"
check installed "$version" "$version"
check share_kept "$version" "$version"
check status_program "$version" "$version"

run_setup "$older_setup" /S
check installed "$older_version" "$version"

check another_program_counts "$older_version" "$version"
other_users=1
run_setup "$unix_folder/Uninstall.exe" /S
check uninstalled "$older_version" "$version"

system_help="the system's own help on help"
printf '%s' "$system_help" >"$WINEPREFIX/drive_c/windows/winhelp.hlp"
run_setup "$setup" /S "/D=$folder"
check installed "$version" "$version"
run_setup "$unix_folder/Uninstall.exe" /S
check uninstalled "$version" "$version"

echo "install_test: $failures failed check(s)"
[ "$failures" = 0 ]
