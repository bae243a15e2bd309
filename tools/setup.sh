#!/usr/bin/env bash
# Installs what building and testing Clipmend needs on a Debian machine, only what is
# missing. Extra package names may be given as arguments (run.sh adds its own).
set -euo pipefail

# ffmpeg: the tests make their videos with it at run time; python3-pefile reads the built
# executables' resources.
packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 wine xvfb imagemagick
    clang libclang-rt-14-dev googletest cmake python3-pefile ffmpeg "$@")

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ $status == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "setup: installing ${missing[*]}"
sudo=()
if [[ $(id -u) != 0 ]]; then
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
# No i386 architecture and no wine32: with it, wine picks the 32-bit loader, which this
# kernel cannot run.
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q "${missing[@]}"
