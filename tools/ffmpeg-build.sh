#!/usr/bin/env bash
# Builds FFmpeg's libavcodec and libavutil with only the H.264, HEVC and AAC decoders (static,
# LGPL, nothing else), once per FFmpeg version, arch and compiler, into a cache outside the
# clone, and prints each install prefix (include/, lib/) on a line of its own. Progress goes to
# stderr; each build's log stays beside its cache entry, with FFmpeg's licence
# (COPYING.LGPLv2.1) and how it was built (BUILD.txt) in the prefix.
#   tools/ffmpeg-build.sh [i686] [x86_64] [native] [bench]   (none: the first three, side by side)
# i686 and x86_64 are MinGW-w64 cross builds for Clipmend.exe and its Windows tests; native is
# built with clang, AddressSanitizer and UndefinedBehaviorSanitizer for the native tests; bench
# with clang alone, for the rebuild benchmark (tools/rebuild-bench.sh).
# The source, first found, checked against the release's hash: the tarball named by
# CLIPMEND_FFMPEG_SOURCE, <repo>/../shared/ffmpeg/ffmpeg_7.1.5.orig.tar.xz, one downloaded
# before into the cache, or the release downloaded from CLIPMEND_FFMPEG_URL (FFmpeg's site).
#   CLIPMEND_CACHE         the cache (default ${XDG_CACHE_HOME:-~/.cache}/clipmend)
#   CLIPMEND_FFMPEG_JOBS   make jobs of each build (default: one per core)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=tools/cached-build.sh
source "$repo/tools/cached-build.sh"
version=7.1.5
sha256=de668509caf9e35e3cd162473441fdb29538c6d96ed080292b3cf9e6fc5d558f
url=${CLIPMEND_FFMPEG_URL:-https://ffmpeg.org/releases/ffmpeg-$version.tar.xz}

# Only the three decoders and what they need; no program, no network, no library found on the
# machine by chance (--disable-autodetect also leaves threads out: Clipmend decodes with one).
# FFmpeg's assembly (nasm) makes them 1.5 to 1.8 times as fast, for hardly any build time.
# shellcheck disable=SC2054 # the decoders' list is one argument
common=(--enable-static --disable-shared --disable-programs --disable-doc --disable-everything
    --disable-network --disable-autodetect --disable-avformat --disable-avdevice
    --disable-avfilter --disable-swscale --disable-swresample --disable-postproc
    --enable-decoder=h264,hevc,aac)

arches=("$@")
((${#arches[@]})) || arches=(i686 x86_64 native)
for a in "${arches[@]}"; do
    [[ $a == i686 || $a == x86_64 || $a == native || $a == bench ]] || {
        echo "usage: ffmpeg-build.sh [i686] [x86_64] [native] [bench]" >&2
        exit 2
    }
done

"$repo/tools/setup.sh" g++-mingw-w64-i686 g++-mingw-w64-x86-64 clang libclang-rt-14-dev make \
    nasm pkgconf xz-utils curl >&2
mkdir -p "$cache"

# The compiler of an arch.
cc_of() {
    if [[ $1 == native || $1 == bench ]]; then
        echo clang
    else
        echo "$1-w64-mingw32-gcc"
    fi
}

# The cache entry of one arch, named after what makes its libraries.
entry_of() {
    local cc=gcc
    [[ $1 != native && $1 != bench ]] || cc=clang
    local v
    v=$(compiler_version "$(cc_of "$1")")
    # No epoch colon: make reads it in a path.
    echo "$cache/ffmpeg-$version-$1-$cc${v//:/_}"
}

# Checks a tarball against the release's hash.
is_release() {
    [[ -f $1 && $(sha256sum <"$1") == "$sha256 "* ]]
}

# Prints the checked source tarball.
source_of() {
    local t=${CLIPMEND_FFMPEG_SOURCE:-}
    if [[ -n $t ]]; then
        is_release "$t" || {
            echo "ffmpeg-build: $t is not FFmpeg $version (missing, or its SHA-256 differs)" >&2
            return 1
        }
        realpath "$t"
        return 0
    fi
    t=$repo/../shared/ffmpeg/ffmpeg_$version.orig.tar.xz
    if is_release "$t"; then
        realpath "$t"
        return 0
    fi
    # Checked before it is kept: a kept download is the release.
    local kept=$cache/ffmpeg-$version.tar.xz
    (
        flock 8
        ! is_release "$kept" || exit 0
        echo "ffmpeg-build: downloading $url" >&2
        curl -fsSL --retry 3 -o "$kept.new" "$url" >&2 || {
            rm -f "$kept.new"
            exit 1
        }
        is_release "$kept.new" || {
            echo "ffmpeg-build: $url is not FFmpeg $version (SHA-256 differs)" >&2
            rm -f "$kept.new"
            exit 1
        }
        mv "$kept.new" "$kept"
    ) 8>"$kept.lock" || return 1
    echo "$kept"
}

# The arguments as a shell reads them back, quoted only where they hold a blank.
quoted() {
    local a out=()
    for a in "$@"; do
        if [[ $a == *' '* ]]; then
            out+=("'$a'")
        else
            out+=("$a")
        fi
    done
    echo "${out[*]}"
}

# Builds one arch into its cache entry unless a finished one is there; prints nothing.
#   build ARCH JOBS
build() {
    local arch=$1 jobs=$2 entry
    entry=$(entry_of "$arch")
    # The default prefix: FFmpeg keeps its configure line in the library, and the cache's path
    # would make each machine's build differ.
    local args=("${common[@]}")
    if [[ $arch == native ]]; then
        local san="-fsanitize=address,undefined -fno-omit-frame-pointer"
        args+=(--cc=clang --cxx=clang++ "--extra-cflags=$san" "--extra-ldflags=$san")
    elif [[ $arch == bench ]]; then
        args+=(--cc=clang --cxx=clang++)
    else
        args+=(--target-os=mingw32 "--cross-prefix=$arch-w64-mingw32-")
        if [[ $arch == i686 ]]; then
            args+=(--arch=x86)
        else
            args+=(--arch=x86_64)
        fi
    fi
    # FFmpeg takes BCryptGenRandom wherever the headers have it, and no option turns that off.
    # Windows looks for bcrypt.dll beside the program before System32, so an elevated program
    # importing it would load one planted in, say, Downloads; libavutil falls back to a seed of
    # its own, which decoding never needs anyway.
    local unbcrypt=""
    # shellcheck disable=SC2089 # a command line: run by eval, and written in BUILD.txt
    if [[ $arch != native && $arch != bench ]]; then
        unbcrypt="sed -i -e 's/^#define HAVE_BCRYPT 1\$/#define HAVE_BCRYPT 0/' config.h"
        unbcrypt+=" && sed -i -e 's/ -lbcrypt//' ffbuild/config.mak ffbuild/config.sh"
    fi
    # What the libraries are and how they were made, shipped with Clipmend; an entry whose
    # text differs is built again.
    local info use="and linked statically into Clipmend.exe."
    [[ $arch != native ]] || use="for Clipmend's native tests."
    [[ $arch != bench ]] || use="for Clipmend's rebuild benchmark."
    # shellcheck disable=SC2090 # see above
    info=$(printf '%s\n' \
        "FFmpeg's libavcodec and libavutil ($arch), with the H.264, HEVC and AAC decoders only," \
        "built from FFmpeg's source, unchanged, $use" \
        "Source: FFmpeg $version, $url" \
        "(SHA-256 $sha256), the same file as" \
        "ffmpeg_$version.orig.tar.xz of Debian's ffmpeg source package (trixie)." \
        "Licence: LGPL-2.1-or-later (COPYING.LGPLv2.1); no GPL or nonfree part is enabled." \
        "Built on Debian with $("$(cc_of "$arch")" --version | head -n 1)" \
        "($(compiler_version "$(cc_of "$arch")")) and nasm $(dpkg-query -W -f='${Version}' nasm)," \
        "in the unpacked source:" \
        "  ./configure $(quoted "${args[@]}")" \
        ${unbcrypt:+"  $unbcrypt"} \
        "  make && make install")
    cached_build ffmpeg-build "$arch" "$entry" "$info"
}

# cached_build's steps, with build's locals in sight.
unpack() {
    tar -xJf "$1" -C "$2" --strip-components=1
}
compile() {
    # Installed into a staging folder, completed by collect, then moved into place whole.
    ./configure "${args[@]}" && eval "${unbcrypt:-true}" && ! grep -q 'HAVE_BCRYPT 1' config.h &&
        make -j"$jobs" && make install DESTDIR="$PWD/staged" &&
        ! grep -q bcrypt staged/usr/local/lib/pkgconfig/libavutil.pc
}
collect() {
    local w=$1 new=$2
    mv "$w/staged/usr/local" "$new"
    # No share/ (examples, the ffprobe schema): only what a build links.
    rm -rf "$new/share"
    sed -i "s|=/usr/local\b|=$entry|" "$new"/lib/pkgconfig/*.pc
    cp "$w/COPYING.LGPLv2.1" "$new/COPYING.LGPLv2.1"
}

build_side_by_side "${CLIPMEND_FFMPEG_JOBS:-$(nproc)}" "${arches[@]}"

for a in "${arches[@]}"; do
    entry_of "$a"
done
