#!/usr/bin/env bash
# Makes Clipmend's downloads in OUT: Clipmend-<version>-win32.zip (Clipmend.exe, tool\MP4Box.exe
# with GPAC's licence and where its source is, a read-me) and Clipmend-<version>-setup.exe, the
# NSIS installer of res/installer.nsi. Prints the two paths. <version> is the About box's.
#   tools/package.sh <win32 build dir or Clipmend.exe> <MP4Box.exe (i686)> <out dir>
# MP4Box.exe's folder holds GPAC's COPYING and BUILD.txt, as tools/gpac-build.sh leaves them.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
usage="usage: package.sh <win32 build dir or Clipmend.exe> <MP4Box.exe (i686)> <out dir>"
app=${1:?$usage}
tool=${2:?$usage}
out=${3:?$usage}

"$repo/tools/setup.sh" nsis python3 g++-mingw-w64-i686 >&2

if [[ -d $app ]]; then
    app=$(find "$app" -name Clipmend.exe -path '*/app/*' -type f | head -n 1)
fi
[[ -f $app ]] || {
    echo "package.sh: no Clipmend.exe in ${1}" >&2
    exit 1
}
# The zip is for 32-bit and 64-bit Windows alike: both exes must be 32-bit.
"$repo/tools/pecheck.sh" "$app" >&2
i686-w64-mingw32-objdump -f "$tool" | grep -q 'file format pei-i386' || {
    echo "package.sh: $tool is not a 32-bit Windows program" >&2
    exit 1
}
toolinfo=$(dirname "$tool")
[[ -f $toolinfo/COPYING && -f $toolinfo/BUILD.txt ]] || {
    echo "package.sh: COPYING or BUILD.txt missing beside $tool" >&2
    exit 1
}

rc=$repo/res/Clipmend.rc
version=$(sed -n 's/.*"Clipmend Version \([0-9][0-9.]*\)".*/\1/p' "$rc")
publisher=$(sed -n 's/.*"LegalCopyright", "Copyright (C) \(.*\)".*/\1/p' "$rc")
[[ -n $version && -n $publisher ]] || {
    echo "package.sh: no version or publisher found in $rc" >&2
    exit 1
}

mkdir -p "$out"
out=$(cd "$out" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/tool"
cp "$app" "$stage/Clipmend.exe"
cp "$tool" "$stage/tool/MP4Box.exe"
# Texts with Windows line ends, for Notepad.
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
sed "s/@VERSION@/$version/g" "$repo/res/ReadMe.txt" >"$stage/readme"
crlf "$stage/readme" "$stage/README.txt"
rm "$stage/readme"
crlf "$toolinfo/COPYING" "$stage/tool/GPAC-COPYING.txt"
crlf "$toolinfo/BUILD.txt" "$stage/tool/GPAC-SOURCE.txt"

zip=$out/Clipmend-$version-win32.zip
setup=$out/Clipmend-$version-setup.exe
rm -f "$zip" "$setup"
(cd "$stage" && /usr/bin/python3 -m zipfile -c "$zip" Clipmend.exe README.txt tool)
makensis -V2 -NOCD "-DVERSION=$version" "-DPUBLISHER=$publisher" "-DSTAGE=$stage" \
    "-DOUTFILE=$setup" "$repo/res/installer.nsi" >&2
echo "$zip"
echo "$setup"
