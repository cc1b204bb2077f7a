#!/usr/bin/env bash
# Installs the Debian 12 packages Orrin needs to build, test and run, when they are missing.
# Non-interactive; uses sudo when not run as root. Prints one line per step.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config git
  # libraries
  libssl-dev libturbojpeg0-dev libsdl2-dev libsdl2-ttf-dev libfontconfig-dev fonts-noto-cjk libcli11-dev
  # tests
  libgtest-dev libgmock-dev libjpeg-dev python3 python3-websockets xvfb xdotool imagemagick x11-utils openbox
  # benchmarks and fuzzing
  libbenchmark-dev libjpeg-turbo-progs libboost-dev clang libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#PACKAGES[@]} Debian packages are present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then SUDO="sudo"; else
    echo "setup: missing packages (${missing[*]}) and not root, and no sudo to install them" >&2
    exit 1
  fi
fi

echo "setup: refreshing the package lists (apt-get update)"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
echo "setup: installing ${#missing[@]} missing packages: ${missing[*]}"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: packages installed"
