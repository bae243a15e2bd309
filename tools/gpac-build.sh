#!/usr/bin/env bash
# Builds GPAC's MP4Box.exe for Windows with MinGW-w64 (static, stripped, without what Clipmend
# never uses), once per GPAC version, arch and compiler, into a cache outside the clone, and
# prints each exe's path on a line of its own. Progress goes to stderr; each build's log stays
# beside its cache entry, with GPAC's licence (COPYING) and how it was built beside the exe.
#   tools/gpac-build.sh [i686] [x86_64]        (neither: both, built side by side)
# The source, first found, checked against the release's hash and commit: the tarball named by
# CLIPMEND_GPAC_SOURCE, <repo>/../shared/gpac/gpac-26.07.0.tar.xz, a shallow clone of the tag.
#   CLIPMEND_CACHE        the cache (default ${XDG_CACHE_HOME:-~/.cache}/clipmend)
#   CLIPMEND_GPAC_FULL=1  GPAC's whole feature set instead, cached apart (to compare against)
#   CLIPMEND_GPAC_JOBS    make jobs of each build (default: one per core)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=tools/cached-build.sh
source "$repo/tools/cached-build.sh"
version=26.07.0
commit=a07cbfff238a331233e11e916f9fb185d5da8604
sha256=3a6947edb01ec0c461f20f93d3957be62184e4534a5138abb1b14265a18c7192
git_url=${CLIPMEND_GPAC_GIT:-https://github.com/gpac/gpac}

# What MP4Box needs to copy MP4/MOV, MPEG-TS and AVI files into a new MP4 is kept, with its
# log lines: the ISO reader and writer, parsers, importers, the TS and AVI demuxers, reframers,
# and what claims other inputs as the whole build does (playlists, text, Ogg). The scene graph
# goes, and with it the compositor, 3D, SVG, VRML, BIFS, LASeR, the scene tools and (see
# keep_streaming) RTP; so do scripting, decoders, encoders, other demuxers, muxers and filters.
trim=(--disable-scenegraph --disable-qjs --disable-qjs-libc --disable-evg --disable-codecs
    --disable-m2ts-mux --disable-m2ps --disable-saf --disable-route --disable-avdevice
    --disable-avfilter --disable-vout --disable-aout --disable-fonts --disable-imgdec
    --disable-uncvdec --disable-hevcmerge --disable-hevcsplit --disable-tileagg
    --disable-tilesplit --disable-inspect --disable-resample --disable-rewind --disable-vcrop
    --disable-vflip --disable-webcodec --disable-nvdec --disable-vtbdec --disable-units
    --disable-vobsub --disable-rmtws --disable-bsagg --disable-bssplit --disable-bsrw
    --disable-cecrypt --disable-cdcrypt --disable-ghidmx --disable-gsfdmx --disable-gsfmx
    --disable-nhmlr --disable-nhntr --disable-nhmlw --disable-nhntw --disable-pin --disable-pout
    --disable-cryptfile --disable-writegen --disable-writeqcp --disable-ttmlconv
    --disable-restamp --disable-reframer --disable-isom-dump --disable-od-dump
    --disable-od-parse --disable-export)
flavour=
if [[ ${CLIPMEND_GPAC_FULL:-} == 1 ]]; then
    trim=()
    flavour=full-
fi

arches=("$@")
((${#arches[@]})) || arches=(i686 x86_64)
for a in "${arches[@]}"; do
    [[ $a == i686 || $a == x86_64 ]] || {
        echo "usage: gpac-build.sh [i686] [x86_64]" >&2
        exit 2
    }
done

"$repo/tools/setup.sh" g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev make pkgconf \
    xz-utils git >&2
mkdir -p "$cache"

# The cache entry of one arch, named after what makes its exe.
entry_of() {
    echo "$cache/gpac-$version-$flavour$1-gcc$(compiler_version "$1-w64-mingw32-gcc")"
}

# Prints the checked source tarball, or the checked clone (a bare git folder).
source_of() {
    local t=${CLIPMEND_GPAC_SOURCE:-}
    [[ -n $t ]] || t=$repo/../shared/gpac/gpac-$version.tar.xz
    if [[ -n ${CLIPMEND_GPAC_SOURCE:-} || -f $t ]]; then
        [[ -f $t ]] || {
            echo "gpac-build: no source tarball $t" >&2
            return 1
        }
        [[ $(sha256sum <"$t") == "$sha256 "* ]] || {
            echo "gpac-build: $t is not GPAC $version (SHA-256 differs)" >&2
            return 1
        }
        # git stops reading after the header, so xz may die of a broken pipe.
        [[ $( (xz -dc "$t" || true) | git get-tar-commit-id) == "$commit" ]] || {
            echo "gpac-build: $t is not commit $commit" >&2
            return 1
        }
        realpath "$t"
        return 0
    fi
    # Checked before it is kept: a kept clone is the right one.
    local clone=$cache/gpac-$version.git
    (
        flock 8
        [[ ! -d $clone ]] || exit 0
        echo "gpac-build: cloning $git_url at v$version" >&2
        rm -rf "$clone.new"
        git clone -q --bare --depth 1 --branch "v$version" "$git_url" "$clone.new" >&2 || exit 1
        if [[ $(git -C "$clone.new" rev-parse 'HEAD^{commit}') != "$commit" ]]; then
            echo "gpac-build: v$version of $git_url is not commit $commit" >&2
            rm -rf "$clone.new"
            exit 1
        fi
        mv "$clone.new" "$clone"
    ) 8>"$cache/gpac-$version.git.lock" || return 1
    echo "$clone"
}

# GPAC's configure turns RTP streaming off with the scene graph, and hint tracks with it: their
# boxes would be logged as unknown. The streaming code needs no scene graph.
keep_streaming() {
    ((${#trim[@]})) || return 0
    if ! grep -q '^#define GPAC_DISABLE_STREAMING$' config.h ||
        ! grep -q '^DISABLE_STREAMING=yes$' config.mak; then
        echo "gpac-build: configure no longer turns RTP streaming off as expected" >&2
        return 1
    fi
    sed -i '/^#define GPAC_DISABLE_STREAMING$/d' config.h
    sed -i 's/^DISABLE_STREAMING=yes$/DISABLE_STREAMING=no/' config.mak
}

# Builds one arch into its cache entry unless a finished one is there; prints nothing.
#   build ARCH JOBS
build() {
    local arch=$1 jobs=$2 cross=$1-w64-mingw32-
    local entry
    entry=$(entry_of "$arch")
    # No link time stamp: the same source and compiler give the same exe, byte for byte.
    local args=(--target-os=mingw32 --static-bin "--cross-prefix=$cross"
        --extra-cflags=-DGPAC_ALLOW_UNSAFE_STRFUNC --extra-libs=-lssp
        "--extra-ldflags=-Wl,--no-insert-timestamp")
    # Without QuickJS nothing includes stdint.h before GPAC's atomics use int64_t.
    ((${#trim[@]} == 0)) || args+=("--extra-cflags=-include stdint.h" "${trim[@]}")
    # What the exe is and how it was made, shipped beside it; an entry whose text differs is
    # built again.
    local info
    info=$(printf '%s\n' \
        "MP4Box.exe: GPAC's MP4Box for Windows ($arch), built from GPAC's source, unchanged." \
        "Source: GPAC $version, $git_url, tag v$version, commit $commit." \
        "Licence: LGPL-2.1-or-later (COPYING); zlib is linked in (zlib licence)." \
        "Built on Debian with MinGW-w64, $("${cross}gcc" --version | head -n 1)" \
        "($(compiler_version "${cross}gcc")), $(dpkg-query -W -f='${Package} ${Version}, ' \
            mingw-w64-common libz-mingw-w64-dev)in the unpacked source:" \
        "  ./configure ${args[*]}" \
        "${trim:+  then RTP streaming enabled again: the line #define GPAC_DISABLE_STREAMING}" \
        "${trim:+  removed from config.h, and DISABLE_STREAMING=yes made =no in config.mak}" \
        "  make -C src -o .depend all && make -C applications/mp4box all" \
        "  strip bin/gcc/MP4Box.exe" \
        "with include/WinSock2.h, BaseTsd.h and mmeapi.h added, which include MinGW-w64's" \
        "winsock2.h, basetsd.h, and windows.h with mmsystem.h.")
    cached_build gpac-build "$arch" "$entry" "$info"
}

# cached_build's steps, with build's locals in sight.
unpack() {
    local src=$1 w=$2
    if [[ -d $src ]]; then
        git -C "$src" archive "$commit" | tar -x -C "$w"
    else
        tar -xJf "$src" -C "$w" --strip-components=1
    fi
    # GPAC includes these in mixed case; MinGW-w64 has them in lower case, or under another
    # name. GPAC's include folder is on the include path.
    echo '#include <winsock2.h>' >"$w/include/WinSock2.h"
    echo '#include <basetsd.h>' >"$w/include/BaseTsd.h"
    printf '#include <windows.h>\n#include <mmsystem.h>\n' >"$w/include/mmeapi.h"
}
compile() {
    # Only libgpac and MP4Box, and no dependency files: a fresh tree needs none.
    ./configure "${args[@]}" && keep_streaming && make -C src -o .depend -j"$jobs" all &&
        make -C applications/mp4box -j"$jobs" all
}
collect() {
    local w=$1 new=$2
    mkdir -p "$new"
    "${cross}strip" -o "$new/MP4Box.exe" "$w/bin/gcc/MP4Box.exe"
    cp "$w/COPYING" "$new/COPYING"
}

# Two arches build side by side, each with a job per core: as fast as one after the other on
# an idle machine, and neither leaves a core idle when the other ends first.
build_side_by_side "${CLIPMEND_GPAC_JOBS:-$(nproc)}" "${arches[@]}"

for a in "${arches[@]}"; do
    echo "$(entry_of "$a")/MP4Box.exe"
done
