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
root=${CLIPMEND_BUILD_ROOT:-$repo/build}
export CLIPMEND_BUILD_ROOT=$root
export WINEPREFIX=$root/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES=mscoree,mshtml=
logs=$root/logs
started=$SECONDS

passed=0
failed=0
xvfb_pid=
wine_started=
wineboot_pid=
gpac_pid=
ffmpeg_pid=

step_pid=

# Runs a long step in a session of its own, in the background, so that a signal reaches the
# trap at once and the cleanup can end the whole step by its process group.
#   run_step LOG command...
run_step() {
    local log=$1 rc
    shift
    setsid "$@" >"$log" 2>&1 &
    step_pid=$!
    wait "$step_pid"
    rc=$?
    step_pid=
    return "$rc"
}

cleanup() {
    if [[ -n $step_pid ]]; then
        kill -TERM -- "-$step_pid" 2>/dev/null
    fi
    if [[ -n $wineboot_pid ]]; then
        kill -TERM -- "-$wineboot_pid" 2>/dev/null
    fi
    if [[ -n $gpac_pid ]]; then
        kill -TERM -- "-$gpac_pid" 2>/dev/null
        wait "$gpac_pid" 2>/dev/null
    fi
    if [[ -n $ffmpeg_pid ]]; then
        kill -TERM -- "-$ffmpeg_pid" 2>/dev/null
        wait "$ffmpeg_pid" 2>/dev/null
    fi
    if [[ -n $wine_started ]]; then
        wineserver -k 2>/dev/null
    fi
    if [[ -n $step_pid ]]; then
        wait "$step_pid" 2>/dev/null
    fi
    if [[ -n $wineboot_pid ]]; then
        wait "$wineboot_pid" 2>/dev/null
    fi
    if [[ -n $xvfb_pid ]]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

say() { echo "== $* ($((SECONDS - started)) s)"; }

# A failed step outside CTest counts as one failed test.
step_failed() {
    echo "FAILED: $*"
    failed=$((failed + 1))
}

# Adds CTest's closing counts from a log to the totals; a run without them counts as one
# failure unless CTest itself passed.
count_ctest() {
    local log=$1 rc=$2 line total bad
    line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [[ -n $line ]]; then
        bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
        total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
        passed=$((passed + total - bad))
        failed=$((failed + bad))
    elif ((rc != 0)); then
        step_failed "ctest in $3 (exit code $rc, no summary)"
    fi
}

mkdir -p "$logs"

say "set-up"
# With what GPAC's build and the package need, so that nothing installs while they run.
if ! "$repo/tools/setup.sh" libz-mingw-w64-dev make pkgconf xz-utils git nsis python3 nasm \
    curl; then
    echo "set-up failed"
    echo "0 passed, 1 failed"
    exit 1
fi

# ---- FFmpeg's decoders: started first ----------------------------------------------------
# Every build links them: their three builds (minutes the first time, then cached outside the
# build root) run side by side while the display and the Wine prefix are made, at a higher
# priority than GPAC's; tools/build.sh waits for the one of its arch.
setsid nice -n 5 "$repo/tools/ffmpeg-build.sh" native x86_64 i686 >"$logs/ffmpeg-build.out" \
    2>"$logs/ffmpeg-build.log" &
ffmpeg_pid=$!
# ---- end of FFmpeg's decoders --------------------------------------------------------------

# GPAC's MP4Box for both arches (minutes the first time, then cached outside the build root)
# builds beside everything else, at a lower priority; the real-tool tests wait for it.
setsid nice -n 10 "$repo/tools/gpac-build.sh" >"$logs/gpac-build.out" 2>"$logs/gpac-build.log" &
gpac_pid=$!

# The display and the Wine prefix are made while the builds run.
say "Xvfb"
# shellcheck source=tools/xvfb.sh
source "$repo/tools/xvfb.sh"
if start_xvfb "$logs/xvfb.log"; then
    echo "display $DISPLAY (Xvfb pid $xvfb_pid)"
else
    step_failed "Xvfb did not start"
    unset DISPLAY
fi

# The 32-bit Wine (downloaded the first time) and then the prefix, with its 32-bit half when
# that Wine is there. Its last log line says which kind it is, or nothing when it failed.
wine_started=1
wine32_log=$logs/wine32-setup.log
: >"$wine32_log"
if [[ -n ${DISPLAY:-} ]]; then
    # shellcheck disable=SC2016
    setsid bash -c '
        if "$1/tools/wine32-setup.sh" >"$2" 2>&1; then
            exec "$1/tools/wine32-env" "$1/tools/wine-prefix.sh"
        fi
        echo "no 32-bit Wine: the prefix gets its 64-bit half only"
        exec "$1/tools/wine-prefix.sh"' wine-prefix "$repo" "$wine32_log" \
        >"$logs/wineprefix.log" 2>&1 &
    wineboot_pid=$!
else
    echo "no display for Wine" >"$logs/wineprefix.log"
fi

built=()
for b in native win64 win32; do
    say "build $b"
    if run_step "$logs/build-$b.log" "$repo/tools/build.sh" "$b"; then
        built+=("$b")
    else
        tail -n 40 "$logs/build-$b.log"
        step_failed "build $b (log: $logs/build-$b.log)"
    fi
done

# ---- FFmpeg's decoders: their builds' outcome (tools/build.sh has waited for them) ----------
say "FFmpeg's decoders"
if wait "$ffmpeg_pid"; then
    grep -F 'built in' "$logs/ffmpeg-build.log" || echo "cached: $(paste -sd' ' "$logs/ffmpeg-build.out")"
else
    tail -n 40 "$logs/ffmpeg-build.log"
    step_failed "FFmpeg's build (log: $logs/ffmpeg-build.log)"
fi
ffmpeg_pid=
# ---- end of FFmpeg's decoders --------------------------------------------------------------

# Runs one build's CTest suite, shows its outline (and its tail when it failed), adds its counts.
#   run_ctest BUILD TAIL_LINES [WRAPPER...]
run_ctest() {
    local log=$logs/ctest-$1.log rc
    run_step "$log" "${@:3}" ctest --test-dir "$root/$1" --output-on-failure --timeout 300 \
        -j "$(nproc)"
    rc=$?
    grep -E '^ *[0-9]+/[0-9]+ Test|tests passed|The following tests' "$log"
    ((rc == 0)) || tail -n "$2" "$log"
    count_ctest "$log" "$rc" "$1"
}

# Each Wine suite waits until the server of what ran before (the prefix set-up's, the 64-bit
# suite's) has ended on its own: that saves the registry, and the suite's first program then
# starts a server where its programs run (one started in another tools/wine32-env namespace
# could not write their memory).
wine_idle() {
    timeout 60 wineserver -w || wineserver -k 2>/dev/null
}

is_built() { [[ " ${built[*]} " == *" $1 "* ]]; }

if is_built native; then
    say "native tests"
    run_ctest native 60
fi

say "Wine prefix"
if [[ -z $wineboot_pid ]] || ! wait "$wineboot_pid"; then
    cat "$logs/wineprefix.log"
    step_failed "Wine prefix set-up"
fi
wineboot_pid=

if is_built win64; then
    say "Wine tests"
    wine_idle
    run_ctest win64 100
fi

say "32-bit Wine"
wine32=$(tail -n 1 "$wine32_log")
if [[ $wine32 == native || $wine32 == qemu ]]; then
    grep -F 'wine32-setup:' "$wine32_log"
    echo "32-bit Wine: $wine32"
else
    cat "$wine32_log"
    step_failed "32-bit Wine set-up (log: $wine32_log)"
    wine32=
fi

if is_built win32 && [[ -n $wine32 ]]; then
    say "Wine tests of the 32-bit release"
    wine_idle
    run_ctest win32 100 "$repo/tools/wine32-env"
fi

say "GPAC's MP4Box"
gpac=()
if wait "$gpac_pid"; then
    mapfile -t gpac <"$logs/gpac-build.out"
    grep -F 'built in' "$logs/gpac-build.log"
else
    tail -n 40 "$logs/gpac-build.log"
    step_failed "GPAC's MP4Box build (log: $logs/gpac-build.log)"
fi
gpac_pid=
# Both exes run under Wine on the kinds of files users have. The same exes, check, Wine and
# ffmpeg give the same result: once passed, the check runs again only when one of them changes.
if ((${#gpac[@]} == 2)) && [[ -n $wine32 ]]; then
    gpac_key=$(cat "${gpac[@]}" "$repo"/tests/gpac/* | sha256sum | cut -d' ' -f1)
    gpac_key+=" $(wine --version) $(ffmpeg -version | head -n 1)"
    gpac_passed=$root/gpac-check/passed
    if [[ -f $gpac_passed && $(<"$gpac_passed") == "$gpac_key" ]]; then
        echo "not run: the same exes passed this check on $(date -r "$gpac_passed")"
    elif
        rm -f "$gpac_passed"
        wine_idle
        run_step "$logs/gpac-check.log" "$repo/tests/gpac/check_tool.sh" "$root/gpac-check" \
            "${gpac[@]}"; then
        passed=$((passed + 1))
        tail -n 1 "$logs/gpac-check.log"
        echo "$gpac_key" >"$gpac_passed"
    else
        tail -n 40 "$logs/gpac-check.log"
        step_failed "GPAC's MP4Box under Wine (log: $logs/gpac-check.log)"
    fi
fi

say "package"
if is_built win32 && ((${#gpac[@]} == 2)); then
    if run_step "$logs/package.log" "$repo/tools/package.sh" "$root/win32" "${gpac[0]}" \
        "$root/package"; then
        passed=$((passed + 1))
        tail -n 2 "$logs/package.log"
        if [[ -n $wine32 ]]; then
            # The installed program runs a video made by the 32-bit real-tool test.
            e2e32=$(find "$root/win32" -name e2e_tests.exe -type f | head -n 1)
            media=$root/win32/tests/e2e/real/media
            export CLIPMEND_INSTALLED_CHECK="installed() {
                CLIPMEND_INSTALLED_EXE=\$1 CLIPMEND_MEDIA='Z:${media//\//\\}' \\
                    '$repo/tools/wine-run32' '$e2e32' --gtest_filter=Installed.*; }; installed"
            say "installer"
            wine_idle
            if run_step "$logs/installer.log" "$repo/tests/package/check_installer.sh" \
                "$root/package"; then
                passed=$((passed + 1))
            else
                tail -n 40 "$logs/installer.log"
                step_failed "the installer under Wine (log: $logs/installer.log)"
            fi
        fi
    else
        tail -n 40 "$logs/package.log"
        step_failed "package (log: $logs/package.log)"
    fi
else
    step_failed "package (no 32-bit build or no MP4Box)"
fi

say "32-bit release executable"
if is_built win32; then
    exe=$(find "$root/win32" -name Clipmend.exe -type f | head -n 1)
    if [[ -n $exe ]] && "$repo/tools/pecheck.sh" "$exe"; then
        passed=$((passed + 1))
    else
        step_failed "PE check of ${exe:-Clipmend.exe (not built)}"
    fi
else
    step_failed "PE check (no 32-bit build)"
fi

say "done, logs in $logs"
echo "$passed passed, $failed failed"
((failed == 0))
