#!/bin/sh
# The agent and the client node, which link Mbed TLS statically, import only
# from DLLs Windows 95 has, and nothing from msvcrt that its msvcrt lacks:
# the bounds-checked "_s" functions and the explicit 32/64-bit time
# functions (_gmtime32_s, _time64, ...) came with later runtimes.
#   check_imports.sh PROGRAM...
status=0
for program in "$@"; do
    imports=$(i686-w64-mingw32-objdump -p "$program" |
              awk '/DLL Name:/ {dll = tolower($3)} /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ {print dll, $3}')
    dlls=$(printf '%s\n' "$imports" | awk '{print $1}' | sort -u | tr '\n' ' ')
    newer=$(printf '%s\n' "$imports" | awk '$1 == "msvcrt.dll" && ($2 ~ /_s$/ || $2 ~ /32|64/) {print $2}' | tr '\n' ' ')
    echo "$(basename "$program"): $dlls"
    for dll in $dlls; do
        case $dll in
            advapi32.dll|comctl32.dll|gdi32.dll|kernel32.dll|msvcrt.dll|shell32.dll|user32.dll|wsock32.dll) ;;
            *) echo "  imports from $dll"; status=1 ;;
        esac
    done
    [ -z "$newer" ] || { echo "  msvcrt functions newer than Windows 95's: $newer"; status=1; }
done
exit $status
