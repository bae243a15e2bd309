#!/usr/bin/env bash
# Checks Clipmend's downloads as a user gets them: the zip's listing, then, under the 32-bit
# Wine (tools/wine32-env), a silent install (files in Program Files, the all-users Start-menu
# shortcut, the Add/Remove Programs entry), an optional check of the installed program, and the
# silent uninstall that Add/Remove Programs would run, after which nothing of Clipmend is left.
#   tests/package/check_installer.sh <out dir of tools/package.sh>
#   CLIPMEND_INSTALLED_CHECK  a command, run by bash with the installed exe's Windows path as
#                             its last argument; the test fails when it does
# WINEPREFIX (default: the build root's) names a prefix made by tools/wine-prefix.sh inside
# tools/wine32-env.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
out=${1:?usage: check_installer.sh <out dir of tools/package.sh>}
# shellcheck source=tools/wine-env.sh
source "$repo/tools/wine-env.sh"
wine_env keep
if [[ -z ${WINE32_LOADER:-} ]]; then
    "$repo/tools/setup.sh" python3 python3-pefile
    exec "$repo/tools/wine32-env" "$0" "$@"
fi

version=$(sed -n 's/.*"Clipmend Version \([0-9][0-9.]*\)".*/\1/p' "$repo/res/Clipmend.rc")
zip=$out/Clipmend-$version-win32.zip
setup=$out/Clipmend-$version-setup.exe
# A 32-bit installer on 64-bit Windows: Program Files (x86), and the 32-bit registry view.
dir_win='C:\Program Files (x86)\Clipmend'
dir=$WINEPREFIX/drive_c/Program\ Files\ \(x86\)/Clipmend
link=$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Clipmend.lnk
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Clipmend'
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
wine32() { "$WINE32_LOADER" "$@"; }
# The server ends once the last program has; a timeout keeps a hung one from hanging the test.
wine_settle() { timeout 120 wineserver -w || fail "Wine programs still running after 120 s"; }

echo "== zip"
# Same names, both exes 32-bit, the installer asks for administrator rights.
/usr/bin/python3 - "$zip" "$setup" "$version" <<'PY' || fail "zip or installer"
import re, sys, zipfile, pefile
zip_path, setup, version = sys.argv[1:]
z = zipfile.ZipFile(zip_path)
names = sorted(n for n in z.namelist() if not n.endswith("/"))
want = ["Clipmend.exe", "README.txt", "tool/ClipmendRebuild.exe", "tool/FFMPEG-COPYING.txt",
        "tool/FFMPEG-SOURCE.txt", "tool/GPAC-COPYING.txt", "tool/GPAC-SOURCE.txt",
        "tool/MP4Box.exe"]
assert names == want, f"zip holds {names}"
for exe in ("Clipmend.exe", "tool/ClipmendRebuild.exe", "tool/MP4Box.exe"):
    machine = pefile.PE(data=z.read(exe), fast_load=True).FILE_HEADER.Machine
    assert machine == 0x14C, f"{exe} is not i386"
source = z.read("tool/GPAC-SOURCE.txt").decode()
for needed in ("a07cbfff238a331233e11e916f9fb185d5da8604", "LGPL-2.1-or-later", "./configure"):
    assert needed in source, f"GPAC-SOURCE.txt lacks {needed}"
assert b"GNU LESSER GENERAL PUBLIC LICENSE" in z.read("tool/GPAC-COPYING.txt")
# FFmpeg is linked into the rebuild tool, never into Clipmend.exe: its licence beside the tool,
# its exact source, and how to relink.
assert b"libavcodec" not in z.read("Clipmend.exe"), "FFmpeg in Clipmend.exe"
assert b"libavcodec" in z.read("tool/ClipmendRebuild.exe"), "no FFmpeg in the rebuild tool"
source = z.read("tool/FFMPEG-SOURCE.txt").decode()
for needed in ("de668509caf9e35e3cd162473441fdb29538c6d96ed080292b3cf9e6fc5d558f",
               "LGPL-2.1-or-later", "./configure", "--enable-decoder=h264,hevc,aac",
               "CLIPMEND_FFMPEG_PREFIX="):
    assert needed in source, f"FFMPEG-SOURCE.txt lacks {needed}"
assert re.search(r"--(enable|disable)-(gpl|nonfree)|--enable-version3", source) is None, "GPL"
assert b"Version 2.1, February 1999" in z.read("tool/FFMPEG-COPYING.txt"), "FFMPEG-COPYING.txt"
readme = z.read("README.txt").decode()
assert f"Clipmend {version}\r\n" in readme and "administrator" in readme, "README.txt"
pe = pefile.PE(setup)
rt_manifest = next(e for e in pe.DIRECTORY_ENTRY_RESOURCE.entries if e.id == 24)
data = rt_manifest.directory.entries[0].directory.entries[0].data.struct
text = pe.get_data(data.OffsetToData, data.Size).decode()
assert re.search(r'requestedExecutionLevel\s+level="requireAdministrator"', text), "manifest"
print("zip:", *names)
PY

echo "== clean prefix"
# What an earlier, interrupted run may have left, so that the checks below see this run's.
if [[ -e $dir || -e $link ]] || wine32 reg query "$key" >/dev/null 2>&1; then
    echo "removing an earlier test install"
    rm -rf "$dir" "$link"
    wine32 reg delete "$key" /f >/dev/null 2>&1 || true
fi

echo "== silent install"
wine32 "$setup" /S || fail "installer exit code $?"
wine_settle
expected=(Clipmend.exe README.txt Uninstall.exe tool tool/ClipmendRebuild.exe
    tool/FFMPEG-COPYING.txt tool/FFMPEG-SOURCE.txt tool/GPAC-COPYING.txt tool/GPAC-SOURCE.txt
    tool/MP4Box.exe)
installed=$(cd "$dir" 2>/dev/null && find . -mindepth 1 | sed 's|^\./||' | LC_ALL=C sort |
    tr '\n' ' ')
[[ $installed == "${expected[*]} " ]] || fail "installed files: $installed"
# The installed files are the zip's, byte for byte.
/usr/bin/python3 - "$zip" "$dir" <<'PY' || fail "installed files differ from the zip's"
import sys, zipfile
from pathlib import Path
z = zipfile.ZipFile(sys.argv[1])
for name in (n for n in z.namelist() if not n.endswith("/")):
    assert (Path(sys.argv[2]) / name).read_bytes() == z.read(name), name
PY
# The shortcut's target, as its link information stores it.
grep -qaF "$dir_win\\Clipmend.exe" "$link" 2>/dev/null || fail "no Start-menu shortcut to the exe"
reg=$(wine32 reg query "$key" 2>/dev/null | tr -d '\r') || fail "no uninstall key"
for entry in "DisplayName|REG_SZ|Clipmend" "DisplayVersion|REG_SZ|$version" \
    "Publisher|REG_SZ|Velmora" "InstallLocation|REG_SZ|$dir_win" \
    "UninstallString|REG_SZ|\"$dir_win\\Uninstall.exe\"" \
    "QuietUninstallString|REG_SZ|\"$dir_win\\Uninstall.exe\" /S" \
    "NoModify|REG_DWORD|0x1" "NoRepair|REG_DWORD|0x1"; do
    grep -qxF "    ${entry//|/    }" <<<"$reg" || fail "uninstall key lacks: ${entry//|/ }"
done

echo "== installed program check"
# >>> The end-to-end run of the installed program with the real tool plugs in here. <<<
if [[ -n ${CLIPMEND_INSTALLED_CHECK:-} ]]; then
    bash -c "$CLIPMEND_INSTALLED_CHECK \"\$1\"" installed-check "$dir_win\\Clipmend.exe" ||
        fail "CLIPMEND_INSTALLED_CHECK failed"
else
    echo "CLIPMEND_INSTALLED_CHECK not set: skipped"
fi

echo "== silent uninstall"
# As Add/Remove Programs runs it: the uninstaller copies itself to the temp folder, starts the
# copy and returns at once; the copy's end is the Wine server's.
quiet=$(sed -n 's/^    QuietUninstallString    REG_SZ    //p' <<<"$reg")
[[ $quiet == '"'*'" /S' ]] || fail "unexpected QuietUninstallString: $quiet"
uninstaller=${quiet#\"}
uninstaller=${uninstaller%\" /S}
temp=$(find "$WINEPREFIX/drive_c/users" -mindepth 2 -maxdepth 2 -name Temp | head -n 1)
before=$(LC_ALL=C ls -A "$temp")
wine32 "$uninstaller" /S || fail "uninstaller exit code $?"
wine_settle
# Of that copy only what it scheduled for deletion at the next start may stay, as on Windows
# (the registry file holds the schedule once the server has ended).
pending=$(grep -F '"PendingFileRenameOperations"' "$WINEPREFIX/system.reg" || true)
for f in $(LC_ALL=C comm -13 <(echo "$before") <(LC_ALL=C ls -A "$temp")); do
    [[ $f == "~nsu"*.tmp && $(ls -A "$temp/$f") == ?(Un.exe) && $pending == *"\\$f\\"* ]] ||
        fail "left in the temp folder: $f"
done
[[ ! -e $dir ]] || fail "left in Program Files: $(cd "$dir" && find . -mindepth 1 | tr '\n' ' ')"
[[ ! -e $link ]] || fail "Start-menu shortcut left"
if wine32 reg query "$key" >/dev/null 2>&1; then
    fail "uninstall key left"
fi

if ((failures)); then
    echo "check_installer: $failures failed" >&2
    exit 1
fi
echo "check_installer: passed"
