#!/usr/bin/env bash
# Installs the Debian packages Tolvane needs, only when one is missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev libqt6svg6
  libgtest-dev
  libarchive-dev libpng-dev libjpeg-dev libacl1-dev
  shared-mime-info breeze-icon-theme fonts-noto-cjk
  trash-cli xvfb xauth xdotool
  acl attr libcap2-bin fusefat dosfstools e2fsprogs
  libarchive-tools zip unzip 7zip gcab lhasa cpio
  libgif-dev libwebp-dev libuchardet-dev zlib1g-dev
  desktop-file-utils appstream dpkg-dev file
  clang-format
  ripgrep
  libglib2.0-dev gvfs gvfs-backends gvfs-fuse openssh-server dbus
)
# Fuzzing and profiling are run by hand, not by the tests: `deps.sh fuzz`.
if [ "${1:-}" = fuzz ]; then
  packages+=(clang libclang-rt-14-dev)
fi
# clang-tidy for scripts/lint.sh: `deps.sh lint`.
if [ "${1:-}" = lint ]; then
  packages+=(clang-tidy)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
