#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the native, 64-bit and 32-bit builds,
# provides a 32-bit Wine (tools/wine32-setup.sh), builds FFmpeg's decoders for the three builds
# (tools/ffmpeg-build.sh, cached), runs the native tests, the Wine tests of the
# 64-bit build and those of the 32-bit release (named win32.*), checks the release executable,
# GPAC's MP4Box (built from its source for both arches, tools/gpac-build.sh) and the package
# with its installer, and closes with "N passed, N failed". Exits non-zero when anything failed.
#   CLIPMEND_BUILD_ROOT  build root (default <repo>/build)
#   CLIPMEND_DISPLAY     display number for the Xvfb (default: a free one Xvfb picks)
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=tools/wine-env.sh
source "$repo/tools/wine-env.sh"
wine_env own
root=$CLIPMEND_BUILD_ROOT
logs=$root/logs
started=$SECONDS

# The steps, walked in this order. A step runs once every step it needs has passed (one still
# running in the background is waited for first); else it is not run, and counts nothing: what
# it needed counted already.
#   needs   earlier steps, by name or pattern, comma-separated; a pattern may match none
#           (lib-*: the libraries the project's builds link, each built in the background)
#   runs    here  a function of this shell (it sets what later steps use)
#           fg    in a session of its own, waited for: a signal reaches the cleanup at once,
#                 which ends the step with all it started by its process group
#           bg    the same, in the background, beside the steps that follow
#           wine  fg, once the Wine programs of what ran before have ended (wine_idle)
#   counts  need   one failed test when it fails, nothing when it passes
#           fatal  the same, and the run ends there
#           test   one test, passed or failed
#           once   a test that, once passed, runs again only when what <command>_key prints
#                  changes
#           ctest  CTest's own counts
#   log     under build/logs; output of what runs here goes where the function says
steps=$(
    cat <<'EOF'
# name        needs                    runs  counts  log                 command
set-up        -                        fg    fatal   set-up.log          install_packages
lib-ffmpeg    -                        bg    need    ffmpeg-build.log    build_ffmpeg
gpac-build    -                        bg    need    gpac-build.log      build_gpac
xvfb          -                        here  need    xvfb.log            start_display
wine-prefix   xvfb                     bg    need    wineprefix.log      make_prefix
build-native  lib-*                    fg    need    build-native.log    build native
build-win64   lib-*                    fg    need    build-win64.log     build win64
build-win32   lib-*                    fg    need    build-win32.log     build win32
native-tests  build-native             fg    ctest   ctest-native.log    run_ctest native
win64-tests   build-win64,wine-prefix  wine  ctest   ctest-win64.log     run_ctest win64
wine32        wine-prefix              here  need    wine32-setup.log    check_wine32
win32-tests   build-win32,wine32       wine  ctest   ctest-win32.log     run_ctest win32 wine32
gpac-check    gpac-build,wine32        wine  once    gpac-check.log      check_gpac
package       build-win32,gpac-build   fg    test    package.log         make_package
installer     package,wine32           wine  test    installer.log       check_installer
pe-check      build-win32              fg    test    pe-check.log        check_pe
EOF
)

# What the steps run.

# With what GPAC's build and the package need, so that nothing installs while they run.
install_packages() {
    "$repo/tools/setup.sh" libz-mingw-w64-dev make pkgconf xz-utils git nsis python3 nasm curl
}

# FFmpeg's decoders, which every build links, for the three builds side by side (minutes the
# first time, then cached outside the build root), at a higher priority than GPAC's.
build_ffmpeg() {
    nice -n 5 "$repo/tools/ffmpeg-build.sh" native x86_64 i686 >"$logs/ffmpeg-build.out"
}

# GPAC's MP4Box for both arches (minutes the first time, then cached outside the build root),
# at a lower priority than the project's builds; the real-tool tests wait for it themselves.
build_gpac() {
    nice -n 10 "$repo/tools/gpac-build.sh" >"$logs/gpac-build.out"
}
gpac_exes() { mapfile -t exes <"$logs/gpac-build.out"; }

xvfb_pid=
start_display() {
    if start_xvfb "$logs/xvfb.log"; then
        echo "display $DISPLAY (Xvfb pid $xvfb_pid)"
        return 0
    fi
    unset DISPLAY
    return 1
}

# The 32-bit Wine (downloaded the first time) and then the prefix, with its 32-bit half when
# that Wine is there. Its log's last line says which kind it is, or nothing when it failed.
make_prefix() {
    if "$repo/tools/wine32-setup.sh" >"$logs/wine32-setup.log" 2>&1; then
        exec "$repo/tools/wine32-env" "$repo/tools/wine-prefix.sh"
    fi
    echo "no 32-bit Wine: the prefix gets its 64-bit half only"
    exec "$repo/tools/wine-prefix.sh"
}

wine32=
check_wine32() {
    wine32=$(tail -n 1 "$logs/wine32-setup.log")
    if [[ $wine32 == native || $wine32 == qemu ]]; then
        grep -F 'wine32-setup:' "$logs/wine32-setup.log"
        echo "32-bit Wine: $wine32"
        return 0
    fi
    cat "$logs/wine32-setup.log"
    wine32=
    return 1
}

build() { "$repo/tools/build.sh" "$1"; }

# One build's CTest suite; wine32: under the 32-bit Wine.
run_ctest() {
    local in=()
    [[ ${2:-} != wine32 ]] || in=("$repo/tools/wine32-env")
    "${in[@]}" ctest --test-dir "$root/$1" --output-on-failure --timeout 300 -j "$(nproc)"
}

# Both exes run under Wine on the kinds of files users have. The same exes, check, Wine and
# ffmpeg give the same result.
check_gpac() {
    local exes
    gpac_exes
    "$repo/tests/gpac/check_tool.sh" "$root/gpac-check" "${exes[@]}"
}
check_gpac_key() {
    local exes
    gpac_exes
    echo "$(cat "${exes[@]}" "$repo"/tests/gpac/* | sha256sum | cut -d' ' -f1)" \
        "$(wine --version) $(ffmpeg -version | head -n 1)"
}

make_package() {
    local exes
    gpac_exes
    "$repo/tools/package.sh" "$root/win32" "${exes[0]}" "$root/package"
}

# The installed program runs a video made by the 32-bit real-tool test.
check_installer() {
    local e2e32 media=$root/win32/tests/e2e/real/media
    e2e32=$(find "$root/win32" -name e2e_tests.exe -type f | head -n 1)
    export CLIPMEND_INSTALLED_CHECK="installed() {
        CLIPMEND_INSTALLED_EXE=\$1 CLIPMEND_MEDIA='Z:${media//\//\\}' \\
            '$repo/tools/wine-run32' '$e2e32' --gtest_filter=Installed.*; }; installed"
    "$repo/tests/package/check_installer.sh" "$root/package"
}

check_pe() {
    local exe
    exe=$(find "$root/win32" -name Clipmend.exe -type f | head -n 1)
    [[ -n $exe ]] || {
        echo "no Clipmend.exe in $root/win32"
        return 1
    }
    "$repo/tools/pecheck.sh" "$exe"
    # The rebuild tool, which holds the engine and FFmpeg's decoders: Clipmend.exe must hold
    # neither (no FFmpeg string, no FFmpeg's tables in its .bss), and be small again.
    local bss
    bss=$(i686-w64-mingw32-objdump -h "$exe" | awk '$2 == ".bss" {print $3}')
    "$repo/tools/pecheck.sh" --console "$(dirname "$exe")/../rebuildtool/ClipmendRebuild.exe" &&
        ! grep -qa libavcodec "$exe" && (($(stat -c %s "$exe") < 1200 * 1024)) &&
        ((0x${bss:-0} < 1024 * 1024)) || {
        echo "Clipmend.exe holds FFmpeg, is over 1.2 MB or has 1 MB of .bss"
        return 1
    }
}

# Each Wine suite waits until the server of what ran before (the prefix set-up's, the 64-bit
# suite's) has ended on its own: that saves the registry, and the suite's first program then
# starts a server where its programs run (one started in another tools/wine32-env namespace
# could not write their memory).
wine_idle() {
    timeout 60 wineserver -w || wineserver -k 2>/dev/null
}

# The walk.

passed=0
failed=0
declare -A state=() pid=() counts_of=() log_of=()
walked=()
defs=

say() { echo "== $* ($((SECONDS - started)) s)"; }

fail() {
    echo "FAILED: $*"
    failed=$((failed + 1))
}

# Adds CTest's closing counts from a log to the totals; a run without them counts as one
# failure unless CTest itself passed.
count_ctest() {
    local name=$1 log=$2 rc=$3 line total bad
    line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [[ -n $line ]]; then
        bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
        total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
        passed=$((passed + total - bad))
        failed=$((failed + bad))
    elif ((rc != 0)); then
        fail "$name (exit code $rc, no CTest summary; log: $log)"
    fi
}

# Counts a step that has ended with exit code RC, and shows what it did.
finish() {
    local name=$1 rc=$2 runs=$3 log=$logs/${log_of[$1]}
    state[$name]=passed
    ((rc == 0)) || state[$name]=failed
    if [[ ${counts_of[$name]} == ctest ]]; then
        grep -E '^ *[0-9]+/[0-9]+ Test|tests passed|The following tests' "$log"
        ((rc == 0)) || tail -n 100 "$log"
        count_ctest "$name" "$log" "$rc"
        return
    fi
    if ((rc == 0)); then
        if [[ ${counts_of[$name]} == test || ${counts_of[$name]} == once ]]; then
            passed=$((passed + 1))
            tail -n 1 "$log"
        fi
        return
    fi
    # What runs here shows its own trouble.
    [[ $runs == here ]] || tail -n 40 "$log"
    fail "$name (log: $log)"
    if [[ ${counts_of[$name]} == fatal ]]; then
        echo "$passed passed, $failed failed"
        exit 1
    fi
}

# Waits for a step that is still running, then counts it.
await() {
    local name=$1 rc
    [[ ${state[$name]:-} == running ]] || return 0
    [[ -z ${2:-} ]] || say "waiting for $name"
    wait "${pid[$name]}"
    rc=$?
    unset "pid[$name]"
    finish "$name" "$rc" "${2:-fg}"
}

# Whether every step that NAME needs has passed, each waited for when it still runs.
needs_met() {
    local name=$1 need step matched met=0 list
    IFS=, read -ra list <<<"$2"
    for need in "${list[@]}"; do
        [[ $need != - ]] || continue
        matched=
        for step in "${walked[@]}"; do
            # shellcheck disable=SC2053 # a need may be a pattern
            [[ $step == $need ]] || continue
            matched=1
            await "$step" bg
            if [[ ${state[$step]} != passed ]]; then
                echo "not run: $name needs $step"
                met=1
            fi
        done
        if [[ -z $matched && $need != *[*?[]* ]]; then
            echo "test.sh: $name needs $need, which no earlier step is" >&2
            exit 2
        fi
    done
    return "$met"
}

# Runs one step as its row says.
run() {
    local name=$1 runs=$2 key keep=
    shift 2
    if [[ $runs == here ]]; then
        "$@"
        finish "$name" $? here
        return
    fi
    if [[ ${counts_of[$name]} == once ]]; then
        key=$("$1_key")
        keep=$root/passed/$name
        if [[ -f $keep && $(<"$keep") == "$key" ]]; then
            echo "not run: it passed with the same inputs on $(date -r "$keep")"
            state[$name]=passed
            return
        fi
        rm -f "$keep"
    fi
    [[ $runs != wine ]] || wine_idle
    [[ -n $defs ]] || defs="$(declare -p repo root logs)"$'\n'"$(declare -f)"
    # shellcheck disable=SC2016 # expanded by the step's shell
    setsid bash -c "$defs"$'\n''set -uo pipefail; "$@"' "$name" "$@" \
        </dev/null >"$logs/${log_of[$name]}" 2>&1 &
    pid[$name]=$!
    state[$name]=running
    [[ $runs == bg ]] && return
    await "$name"
    if [[ -n $keep && ${state[$name]} == passed ]]; then
        mkdir -p "$root/passed"
        echo "$key" >"$keep"
    fi
}

cleanup() {
    local name
    for name in "${!pid[@]}"; do
        kill -TERM -- "-${pid[$name]}" 2>/dev/null
    done
    if [[ -n ${state[wine-prefix]:-} ]]; then
        wineserver -k 2>/dev/null
    fi
    for name in "${!pid[@]}"; do
        wait "${pid[$name]}" 2>/dev/null
    done
    if [[ -n $xvfb_pid ]]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# shellcheck source=tools/xvfb.sh
source "$repo/tools/xvfb.sh"
mkdir -p "$logs"

mapfile -t rows < <(grep -v -e '^#' -e '^ *$' <<<"$steps")
for row in "${rows[@]}"; do
    read -r name needs runs counts log command <<<"$row"
    read -ra command <<<"$command"
    counts_of[$name]=$counts
    log_of[$name]=$log
    if [[ $runs == bg ]]; then
        say "$name, in the background"
    else
        say "$name"
    fi
    if needs_met "$name" "$needs"; then
        run "$name" "$runs" "${command[@]}"
    else
        state[$name]=skipped
    fi
    walked+=("$name")
done
# What ran in the background and nothing waited for counts too.
for name in "${walked[@]}"; do
    await "$name" bg
done

say "done, logs in $logs"
echo "$passed passed, $failed failed"
((failed == 0))
