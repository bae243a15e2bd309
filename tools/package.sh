#!/usr/bin/env bash
# Makes Clipmend's downloads in OUT: Clipmend-<version>-win32.zip (Clipmend.exe, the rebuild tool
# tool\ClipmendRebuild.exe with the licence of the FFmpeg linked into it and where its source is,
# tool\MP4Box.exe with GPAC's, a read-me)
# and Clipmend-<version>-setup.exe, the NSIS installer of res/installer.nsi. Prints the two
# paths. <version> is the About box's.
#   tools/package.sh <win32 build dir or Clipmend.exe> <MP4Box.exe (i686)> <out dir>
# MP4Box.exe's folder holds GPAC's COPYING and BUILD.txt, as tools/gpac-build.sh leaves them;
# FFmpeg's prefix (the build's CLIPMEND_FFMPEG_PREFIX, else tools/ffmpeg-build.sh's for i686)
# holds its COPYING.LGPLv2.1 and BUILD.txt.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
usage="usage: package.sh <win32 build dir or Clipmend.exe> <MP4Box.exe (i686)> <out dir>"
app=${1:?$usage}
tool=${2:?$usage}
out=${3:?$usage}

"$repo/tools/setup.sh" nsis python3 g++-mingw-w64-i686 >&2

ffmpeg=
if [[ -d $app ]]; then
    if [[ -f $app/CMakeCache.txt ]]; then
        ffmpeg=$(sed -n 's/^CLIPMEND_FFMPEG_PREFIX:PATH=//p' "$app/CMakeCache.txt")
    fi
    app=$(find "$app" -name Clipmend.exe -path '*/app/*' -type f | head -n 1)
fi
rebuild=$(dirname "$app")/../rebuildtool/ClipmendRebuild.exe
[[ -f $app ]] || {
    echo "package.sh: no Clipmend.exe in ${1}" >&2
    exit 1
}
# The zip is for 32-bit and 64-bit Windows alike: both exes must be 32-bit.
"$repo/tools/pecheck.sh" "$app" >&2
"$repo/tools/pecheck.sh" --console "$rebuild" >&2
i686-w64-mingw32-objdump -f "$tool" | grep -q 'file format pei-i386' || {
    echo "package.sh: $tool is not a 32-bit Windows program" >&2
    exit 1
}
toolinfo=$(dirname "$tool")
[[ -f $toolinfo/COPYING && -f $toolinfo/BUILD.txt ]] || {
    echo "package.sh: COPYING or BUILD.txt missing beside $tool" >&2
    exit 1
}

[[ -n $ffmpeg ]] || ffmpeg=$("$repo/tools/ffmpeg-build.sh" i686)
[[ -f $ffmpeg/COPYING.LGPLv2.1 && -f $ffmpeg/BUILD.txt ]] || {
    echo "package.sh: COPYING.LGPLv2.1 or BUILD.txt missing in FFmpeg's prefix $ffmpeg" >&2
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
cp "$rebuild" "$stage/tool/ClipmendRebuild.exe"
# Texts with Windows line ends, for Notepad.
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
sed "s/@VERSION@/$version/g" "$repo/res/ReadMe.txt" >"$stage/readme"
crlf "$stage/readme" "$stage/README.txt"
rm "$stage/readme"
crlf "$toolinfo/COPYING" "$stage/tool/GPAC-COPYING.txt"
crlf "$toolinfo/BUILD.txt" "$stage/tool/GPAC-SOURCE.txt"
crlf "$ffmpeg/COPYING.LGPLv2.1" "$stage/tool/FFMPEG-COPYING.txt"
# How it was built, then how a user builds Clipmend with another FFmpeg (LGPL-2.1, section 6).
cat "$ffmpeg/BUILD.txt" - >"$stage/ffmpeg-source" <<'EOF'

Using another FFmpeg: tool\ClipmendRebuild.exe, Clipmend's rebuild tool, into which FFmpeg is
linked, can be built again, from the source of its version, with any FFmpeg (libavcodec and
libavutil, linked statically) in place of this one. Build that FFmpeg for 32-bit Windows (the
configure line above, changed as you like, with --prefix=<folder>, then make install), then
build Clipmend as its README.md says, naming it:
  CLIPMEND_FFMPEG_PREFIX=<folder> bash tools/build.sh win32      (Debian, MinGW-w64)
  cmake -S . -B build -DCLIPMEND_FFMPEG_PREFIX=<folder> ...      (CMake on Windows)
The new build/.../rebuildtool/ClipmendRebuild.exe replaces this one.
EOF
crlf "$stage/ffmpeg-source" "$stage/tool/FFMPEG-SOURCE.txt"
rm "$stage/ffmpeg-source"

zip=$out/Clipmend-$version-win32.zip
setup=$out/Clipmend-$version-setup.exe
rm -f "$zip" "$setup"
(cd "$stage" && /usr/bin/python3 -m zipfile -c "$zip" Clipmend.exe README.txt tool)
makensis -V2 -NOCD "-DVERSION=$version" "-DPUBLISHER=$publisher" "-DSTAGE=$stage" \
    "-DOUTFILE=$setup" "$repo/res/installer.nsi" >&2
echo "$zip"
echo "$setup"
