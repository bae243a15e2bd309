#!/usr/bin/env bash
# Checks that the release executable is what a 32-bit Windows machine can run on its own:
# PE32, machine i386, GUI subsystem, large-address-aware (4 GB on 64-bit Windows rather than
# 2), terminal-server aware, imports only from DLLs that Windows itself ships, and no debug
# sections (they would double its size). With --console, the same for a console program (the
# rebuild tool), which needs no terminal-server mark.
#   tools/pecheck.sh [--console] path/to/Clipmend.exe
set -euo pipefail

console=0
if [[ ${1:-} == --console ]]; then
    console=1
    shift
fi
exe=${1:?usage: pecheck.sh [--console] file.exe}
ok=1
fail() {
    echo "pecheck: $exe: $*" >&2
    ok=0
}

# Little-endian unsigned integer of $2 bytes at offset $1.
u() {
    local v
    v=$(od -An -t u"$2" -j "$1" -N "$2" --endian=little "$exe" | tr -d ' ')
    [[ -n $v ]] || {
        echo "pecheck: $exe: truncated at offset $1" >&2
        exit 1
    }
    echo "$v"
}

[[ -f $exe ]] || {
    echo "pecheck: $exe: no such file" >&2
    exit 1
}
[[ $(head -c 2 "$exe") == MZ ]] || {
    echo "pecheck: $exe: no MZ header" >&2
    exit 1
}
pe=$(u 60 4)
[[ $(od -An -c -j "$pe" -N 4 "$exe" | tr -d ' ') == 'PE\0\0' ]] || {
    echo "pecheck: $exe: no PE signature" >&2
    exit 1
}
machine=$(u $((pe + 4)) 2)
characteristics=$(u $((pe + 22)) 2)
optional=$((pe + 24))
magic=$(u "$optional" 2)
subsystem=$(u $((optional + 68)) 2)
dll_characteristics=$(u $((optional + 70)) 2)

((machine == 0x14c)) || fail "machine is $(printf 0x%x "$machine"), not i386 (0x14c)"
((magic == 0x10b)) || fail "optional header magic is $(printf 0x%x "$magic"), not PE32 (0x10b)"
if ((console)); then
    ((subsystem == 3)) || fail "subsystem is $subsystem, not Windows console (3)"
else
    ((subsystem == 2)) || fail "subsystem is $subsystem, not Windows GUI (2)"
fi
# IMAGE_FILE_LARGE_ADDRESS_AWARE in the COFF header.
((characteristics & 0x20)) || fail "not marked large-address-aware"
# Terminal-server aware: in a remote session Windows then gives it the real Windows folder.
((console || dll_characteristics & 0x8000)) || fail "not marked terminal-server aware"

# DLLs that come with every Windows the program targets (msvcrt is the system C runtime).
system_dlls=" advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll
    msvcrt.dll ole32.dll oleaut32.dll shell32.dll shlwapi.dll user32.dll uxtheme.dll version.dll "
imports=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' || true)
[[ -n $imports ]] || fail "no import table found"
for dll in $imports; do
    lower=${dll,,}
    [[ $system_dlls == *" $lower"[[:space:]]* ]] || fail "imports from $dll, which Windows does not ship"
done

debug=$(i686-w64-mingw32-objdump -h "$exe" | awk '$2 ~ /^\.debug/ {print $2}' | tr '\n' ' ' || true)
[[ -z $debug ]] || fail "carries debug sections: $debug"

if ((ok)); then
    echo "pecheck: $exe: PE32, i386, $( ((console)) && echo console || echo GUI), large-address-aware, imports: ${imports//$'\n'/ }"
    exit 0
fi
exit 1
