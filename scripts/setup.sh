#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking need, when any is missing.
set -euo pipefail

packages=(
  build-essential cmake make pkg-config ccache
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-translations-l10n
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  socat python3 python3-serial
  xvfb xauth x11-apps x11-utils xdotool openbox imagemagick fonts-dejavu-core
  librsvg2-bin dpkg-dev fakeroot file lintian desktop-file-utils appstream man-db
  xdg-utils
  qemu-system-x86 linux-image-amd64 busybox-static kmod
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
