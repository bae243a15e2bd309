# shellcheck shell=bash
# What tools/ffmpeg-build.sh and tools/gpac-build.sh share: a cache of builds outside the clone,
# one entry per version, arch and compiler, each built once under a lock and moved into place
# whole. Sourced; the sourcing script defines the steps cached_build calls:
#   source_of          prints the checked source (a tarball, or a folder unpack knows)
#   unpack SRC WORK    puts the source into the empty folder WORK
#   compile            configures and builds in WORK (its current folder); output to the log
#   collect WORK NEW   makes NEW, the folder that becomes the entry, from what WORK built
# The steps see the locals of the script's function that called cached_build.
#   CLIPMEND_CACHE     the cache (default ${XDG_CACHE_HOME:-~/.cache}/clipmend)

# shellcheck disable=SC2034 # read by the scripts that source this
cache=${CLIPMEND_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/clipmend}

# The Debian version of the package that installed the compiler command $1, else the
# compiler's own: GCC's -dumpversion may give its major version alone, and clang 14 has no
# -dumpfullversion but gives its whole version to -dumpversion.
compiler_version() {
    local cc pkg
    cc=$(readlink -f "$(command -v "$1")")
    pkg=$(dpkg -S "$cc" 2>/dev/null | cut -d: -f1 || true)
    if [[ -n $pkg ]]; then
        dpkg-query -W -f='${Version}' "$pkg"
    else
        "$cc" -dumpfullversion 2>/dev/null || "$cc" -dumpversion
    fi
}

# Builds one entry unless a finished one is there: one whose BUILD.txt holds INFO, what it is
# and how it was made (an entry whose text differs is built again). A second build of the same
# entry waits for the first and then finds it. Prints nothing; progress goes to stderr, the
# build's output to ENTRY.log.
#   cached_build TOOL ARCH ENTRY INFO     (TOOL names the script in messages)
cached_build() {
    local tool=$1 arch=$2 entry=$3 info=$4
    exec 9>"$entry.lock"
    flock 9
    if [[ -f $entry/BUILD.txt && $(<"$entry/BUILD.txt") == "$info" ]]; then
        return 0
    fi
    local started=$SECONDS log=$entry.log src w=$entry.build new=$entry.new
    src=$(source_of)
    echo "$tool: $arch: building (log: $log)" >&2
    rm -rf "$w" "$new"
    mkdir -p "$w"
    unpack "$src" "$w"
    if ! (cd "$w" && compile) >"$log" 2>&1; then
        echo "$tool: $arch: build failed; the end of $log:" >&2
        tail -n 30 "$log" >&2
        rm -rf "$w" "$new"
        return 1
    fi
    collect "$w" "$new"
    echo "$info" >"$new/BUILD.txt"
    rm -rf "$entry" "$w"
    mv "$new" "$entry"
    echo "$tool: $arch: built in $((SECONDS - started)) s" >&2
}

# Runs the script's build ARCH JOBS for each arch side by side; fails when any failed.
#   build_side_by_side JOBS ARCH...
build_side_by_side() {
    local jobs=$1 a p failed=0 pids=()
    shift
    for a in "$@"; do
        build "$a" "$jobs" &
        pids+=($!)
    done
    for p in "${pids[@]}"; do
        wait "$p" || failed=1
    done
    ((failed == 0))
}
