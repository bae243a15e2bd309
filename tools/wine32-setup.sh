#!/usr/bin/env bash
# Provides a 32-bit Wine for the tests of the 32-bit release, in a folder of its own and
# nothing outside it. Prints the folder's kind on its last line:
#   native  the kernel runs 32-bit programs and Debian's wine32 is installed
#   qemu    Wine's 32-bit half (Debian's wine32:i386 of the system's Wine version) unpacked
#           into <dir>/root and run by qemu-i386 (see tools/wine32-env)
# The qemu route fetches the packages through an apt configuration of its own (own sources
# list, lists, cache and an empty status file): no i386 architecture is added and the
# system's apt and dpkg state stay as they are. A finished folder is reused.
#   CLIPMEND_WINE32_DIR  the folder (default <build root>/wine32)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
root=${CLIPMEND_BUILD_ROOT:-$repo/build}
dir=${CLIPMEND_WINE32_DIR:-$root/wine32}
stamp=$dir/ready

version=$(dpkg-query -W -f='${Version}' wine64 2>/dev/null || true)
[[ -n $version ]] || {
    echo "wine32-setup: the system's wine64 is not installed (tools/setup.sh installs it)" >&2
    exit 1
}
# The QEMU build that runs Wine quickly (older ones mishandle MAP_FIXED_NOREPLACE and make
# each start a hundred times slower) comes from the next Debian release.
qemu_suite=trixie
key="wine32 $version; qemu-i386 from $qemu_suite"

# The page-fault fix (tools/wine32-trapno.c), preloaded into every 32-bit program through the
# root's own ld.so.preload; rebuilt when its source differs from the copy kept beside it (not
# by file times: a fresh clone's are all new, and clones may share the folder), under names of
# its own, so that two clones doing it at once each move a whole file into place.
trapno_fix() {
    local so=$1/usr/lib/clipmend-trapno.so src=$repo/tools/wine32-trapno.c
    if [[ ! -f $so ]] || ! cmp -s "$src" "$so.c"; then
        clang --target=i386-linux-gnu -shared -fPIC -nostdlib -O2 -Wall -Wextra -Werror \
            -o "$so.$$" "$src"
        mv "$so.$$" "$so"
        cp "$src" "$so.c.$$"
        mv "$so.c.$$" "$so.c"
    fi
    echo /usr/lib/clipmend-trapno.so >"$1/etc/ld.so.preload"
}

if [[ -f $stamp && $(cat "$stamp") == "$key" ]]; then
    trapno_fix "$dir/root"
    echo qemu
    exit 0
fi

# Where 32-bit programs run natively, Debian's own package is the simple route.
if [[ $(dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null || true) == "install ok installed" ]] &&
    /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo native
    exit 0
fi

started=$SECONDS
mkdir -p "$dir"
tmp=$dir/tmp
rm -rf "$tmp" "$dir/root" "$stamp"
mkdir -p "$tmp" "$dir/debs"

# The system's own Debian mirror and release, so that the same registry is used.
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
mirror=$(apt-cache policy | awk -v s="$codename/main" '$3 == s && $2 ~ /^https?:/ { print $2; exit }')
[[ -n $mirror ]] || {
    echo "wine32-setup: no $codename main source in the system's apt configuration" >&2
    exit 1
}
keyring=/usr/share/keyrings/debian-archive-keyring.gpg

# apt with a private state for one architecture and one release.
#   private_apt NAME ARCH SUITE  (then: apt_in NAME apt-get|apt-cache args...)
private_apt() {
    local a=$dir/apt-$1
    mkdir -p "$a/lists/partial" "$a/cache/archives/partial" "$a/parts" "$a/prefs"
    : >"$a/status"
    echo "deb [arch=$2 signed-by=$keyring] $mirror $3 main" >"$a/sources.list"
    cat >"$a/apt.conf" <<EOF
APT::Architecture "$2";
APT::Architectures { "$2"; };
Dir::Etc::SourceList "$a/sources.list";
Dir::Etc::SourceParts "$a/parts";
Dir::Etc::Preferences "$a/prefs/none";
Dir::Etc::PreferencesParts "$a/prefs";
Dir::State "$a";
Dir::State::Lists "$a/lists";
Dir::State::status "$a/status";
Dir::Cache "$a/cache";
APT::Install-Recommends "false";
EOF
}
apt_in() {
    local name=$1 tool=$2
    shift 2
    APT_CONFIG=$dir/apt-$name/apt.conf "$tool" -q "$@"
}

private_apt i386 i386 "$codename"
private_apt qemu amd64 "$qemu_suite"
apt_in i386 apt-get update >"$tmp/update-i386.log" 2>&1 || {
    cat "$tmp/update-i386.log" >&2
    exit 1
}
apt_in qemu apt-get update >"$tmp/update-qemu.log" 2>&1 || {
    cat "$tmp/update-qemu.log" >&2
    exit 1
}

# Everything wine32 needs, as an empty i386 system would install it.
apt_in i386 apt-get -s install "wine32=$version" "libwine=$version" >"$tmp/plan.log" 2>&1 || {
    cat "$tmp/plan.log" >&2
    exit 1
}
mapfile -t wanted < <(sed -nE 's/^Inst ([^ ]+) \(([^ ]+) .*/\1=\2/p' "$tmp/plan.log")
((${#wanted[@]} > 0)) || {
    echo "wine32-setup: apt planned nothing for wine32=$version" >&2
    exit 1
}
qemu_version=$(apt_in qemu apt-cache policy qemu-user | awk '/Candidate:/ { print $2 }')
[[ -n $qemu_version && $qemu_version != "(none)" ]] || {
    echo "wine32-setup: no qemu-user in $qemu_suite" >&2
    exit 1
}

# The cached .deb of NAME=VERSION (apt-get download writes an epoch's colon as %3a).
deb_of() {
    local v=${1#*=}
    compgen -G "$dir/debs/${1%%=*}_${v//:/%3a}_*.deb" | head -n 1 | grep .
}

# Downloads only what the cache does not hold yet.
fetch() {
    local name=$1 list=() p
    shift
    for p in "$@"; do
        deb_of "$p" >/dev/null || list+=("$p")
    done
    ((${#list[@]} == 0)) && return 0
    (cd "$dir/debs" && apt_in "$name" apt-get download "${list[@]}") >"$tmp/download-$name.log" 2>&1 || {
        cat "$tmp/download-$name.log" >&2
        exit 1
    }
}
fetch i386 "${wanted[@]}"
fetch qemu "qemu-user=$qemu_version"
echo "wine32-setup: ${#wanted[@]} i386 packages and qemu-user $qemu_version fetched" \
    "($((SECONDS - started)) s)" >&2

# The i386 packages unpacked into one root, as QEMU_LD_PREFIX wants it.
mkdir -p "$tmp/root"
for p in "${wanted[@]}"; do
    dpkg -x "$(deb_of "$p")" "$tmp/root"
done
# The i386 loader's library cache; without it libz and FreeType are not found and windows
# draw no text.
mkdir -p "$tmp/root/etc"
[[ -f $tmp/root/etc/ld.so.conf ]] || echo 'include /etc/ld.so.conf.d/*.conf' >"$tmp/root/etc/ld.so.conf"
ldconfig -r "$tmp/root"
trapno_fix "$tmp/root"
# A 32-bit Wine finds the wineserver and the 64-bit loader beside its own loader.
for f in wineserver wine64; do
    [[ -e $tmp/root/usr/lib/wine/$f ]] || ln -s "/usr/lib/wine/$f" "$tmp/root/usr/lib/wine/$f"
done

mkdir -p "$tmp/qemu"
dpkg -x "$(deb_of "qemu-user=$qemu_version")" "$tmp/qemu"
cp "$tmp/qemu/usr/bin/qemu-i386" "$dir/qemu-i386.new"
mv "$dir/qemu-i386.new" "$dir/qemu-i386"

# What /usr/lib/wine shows inside tools/wine32-env: the system's loaders (copies, so that
# their own path stays /usr/lib/wine) and the 32-bit one, where wine64 looks for it.
mkdir -p "$tmp/loaders"
cp -p /usr/lib/wine/* "$tmp/loaders/"
ln -s "$dir/root/usr/lib/wine/wine" "$tmp/loaders/wine"

rm -rf "$dir/loaders"
mv "$tmp/loaders" "$dir/loaders"
mv "$tmp/root" "$dir/root"
rm -rf "$tmp"
echo "$key" >"$stamp"
echo "wine32-setup: ready in $((SECONDS - started)) s, $(du -sh "$dir" | cut -f1) in $dir" >&2
echo qemu
