#!/usr/bin/env bash
# Finds what Orrin needs to build, test and run the way CMake and pkg-config will look for
# it, and installs only what is missing, as Debian 12 packages. A machine that has it all
# (from any distribution) never needs apt. Non-interactive; uses sudo when not run as root.
set -euo pipefail

have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pc() { pkg-config --exists "$1" 2>/dev/null; }
have_file() { compgen -G "$1" >/dev/null; }

missing=()
need() {  # need PACKAGE CHECK...: the Debian package that provides what CHECK looks for
  local package=$1
  shift
  "$@" || missing+=("$package")
}

# build
need build-essential have_cmd g++
need cmake have_cmd cmake
need ninja-build have_cmd ninja
need pkg-config have_cmd pkg-config
need git have_cmd git
# libraries (pkg-config names as CMake asks for them)
need libssl-dev have_pc libcrypto
need libturbojpeg0-dev have_pc libturbojpeg
need libsdl2-dev have_pc sdl2
need libsdl2-ttf-dev have_pc SDL2_ttf
need libfontconfig-dev have_pc fontconfig
need libwayland-dev have_pc wayland-client
need libx11-dev have_pc x11
need libpng-dev have_pc libpng
need libcli11-dev have_pc CLI11
need libavformat-dev have_pc libavformat
need libcivetweb-dev have_file '/usr/include/civetweb.h'
need fonts-noto-cjk eval '[ -n "$(fc-list :lang=zh-cn 2>/dev/null)" ]'
# tests
need libgtest-dev have_pc gtest
need libgmock-dev have_pc gmock
need libjpeg-dev have_pc libjpeg
need python3 have_cmd /usr/bin/python3
need python3-websockets eval '/usr/bin/python3 -c "import websockets" 2>/dev/null'
need xvfb have_cmd Xvfb
need xdotool have_cmd xdotool
need imagemagick have_cmd import
need x11-utils have_cmd xwininfo
need openbox have_cmd openbox
need xserver-xorg-video-dummy have_file '/usr/lib/xorg/modules/drivers/dummy_drv.so'
need x11-xserver-utils have_cmd xrandr
need libxss1 have_file '/usr/lib/*/libXss.so.1'
need weston have_cmd weston-screenshooter
need dbus have_cmd dbus-daemon
need python3-dbus eval '/usr/bin/python3 -c "import dbus.mainloop.glib" 2>/dev/null'
need python3-gi eval '/usr/bin/python3 -c "from gi.repository import GLib" 2>/dev/null'
need ffmpeg have_cmd ffprobe
need chromium have_cmd chromium
need prometheus have_cmd promtool
need iproute2 have_cmd ip
need nftables have_cmd nft
need desktop-file-utils have_cmd desktop-file-validate
need appstream have_cmd appstreamcli
need systemd have_cmd systemd-analyze
need man-db have_cmd man
need libxml2-utils have_cmd xmllint
need lintian have_cmd lintian
# benchmarks and fuzzing
need libbenchmark-dev have_pc benchmark
need libjpeg-turbo-progs have_cmd tjbench
need libboost-dev have_file '/usr/include/boost/beast.hpp'
need clang have_cmd clang
need libclang-rt-14-dev have_file '/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a'

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: everything needed is present"
  exit 0
fi

if ! have_cmd apt-get; then
  echo "setup: missing (Debian package names): ${missing[*]}" >&2
  echo "setup: no apt-get here; install the same with your package manager (see README)" >&2
  exit 1
fi
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if have_cmd sudo; then SUDO="sudo"; else
    echo "setup: missing packages (${missing[*]}) and not root, and no sudo to install them" >&2
    exit 1
  fi
fi

echo "setup: refreshing the package lists (apt-get update)"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
echo "setup: installing ${#missing[@]} missing packages: ${missing[*]}"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: packages installed"
