#!/usr/bin/env bash
# Builds the libraries the Windows programs link, statically, with Debian's mingw-w64:
# FreeType, SDL2, SDL2_ttf, libjpeg-turbo and civetweb from Debian's own source packages of the
# versions the Linux build uses, plus CLI11's headers, into build-windows/deps (or
# $ORRIN_WINDOWS_DEPS). Each library is built once and reused; run it as often as you like.
#
# The sources come through an apt configuration private to build-windows/ (deb-src entries
# for the mirror and suites this machine already uses); the machine's apt set-up is left
# as it is. Logs of each step are in build-windows/deps-build/<step>.log.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build-windows
deps=${ORRIN_WINDOWS_DEPS:-$out/deps}
apt_dir=$out/apt
src_dir=$out/sources
work=$out/deps-build
toolchain=$root/cmake/mingw-w64-x86_64.cmake
jobs=${JOBS:-2}
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

# The Linux build's versions when its packages are installed, else Debian 12's.
installed_source_version() { dpkg-query -W -f='${source:Version}' "$1" 2>/dev/null || true; }
version_of() { local v; v=$(installed_source_version "$2"); echo "${v:-$3}"; }
freetype_v=$(version_of freetype libfreetype-dev 2.12.1+dfsg-5+deb12u4)
sdl2_v=$(version_of libsdl2 libsdl2-dev 2.26.5+dfsg-1)
ttf_v=$(version_of libsdl2-ttf libsdl2-ttf-dev 2.20.1+dfsg-2)
jpeg_v=$(version_of libjpeg-turbo libturbojpeg0-dev 1:2.1.5-2)
civetweb_v=$(version_of civetweb libcivetweb-dev 1.15+dfsg-4)

stamp() { echo "$deps/.built/$1-${2#*:}"; }
all_stamps=("$(stamp freetype "$freetype_v")" "$(stamp sdl2 "$sdl2_v")" "$(stamp sdl2-ttf "$ttf_v")"
            "$(stamp libjpeg-turbo "$jpeg_v")" "$(stamp cli11 headers)" "$(stamp civetweb "$civetweb_v")")

step() {  # step NAME COMMAND...: runs one step, its output into its log, and says how long it took
  local name=$1 started=$SECONDS
  shift
  mkdir -p "$work"
  if ! "$@" >"$work/$name.log" 2>&1; then
    echo "windows deps: $name failed; the end of $work/$name.log:" >&2
    tail -n 30 "$work/$name.log" >&2
    exit 1
  fi
  echo "windows deps: $name ($((SECONDS - started)) s)"
}

install_missing() {  # what the cross build needs, from Debian; nothing when all is there
  local missing=() pair
  for pair in x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix x86_64-w64-mingw32-pkg-config:mingw-w64-tools \
              nasm:nasm dpkg-source:dpkg-dev zip:zip makensis:nsis cmake:cmake ninja:ninja-build pkg-config:pkg-config; do
    command -v "${pair%%:*}" >/dev/null 2>&1 || missing+=("${pair#*:}")
  done
  [ -d /usr/share/cmake/CLI11 ] || missing+=(libcli11-dev)
  [ -d /usr/src/googletest ] || missing+=(googletest)
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing ${missing[*]}"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
    --no-install-recommends "${missing[@]}"
}

# deb-src twins of this machine's own Debian entries (same mirror, same release suites).
write_source_entries() {
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
  mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  rm -f "$apt_dir"/sources.list.d/*
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    awk -v codename="$codename" -v RS= -v ORS='\n\n' '
      {
        types = uris = suites = comps = signed = ""; enabled = 1
        n = split($0, lines, "\n")
        for (i = 1; i <= n; i++) {
          line = lines[i]
          if (line ~ /^#/) continue
          key = tolower(line); sub(/:.*/, "", key)
          value = line; sub(/^[^:]*:[ \t]*/, "", value)
          if (key == "types") types = value
          else if (key == "uris") uris = value
          else if (key == "suites") suites = value
          else if (key == "components") comps = value
          else if (key == "signed-by") signed = value
          else if (key == "enabled" && tolower(value) == "no") enabled = 0
        }
        if (!enabled || (" " types " ") !~ / deb / || (" " comps " ") !~ / main /) next
        keep = ""
        m = split(suites, s, /[ \t]+/)
        for (i = 1; i <= m; i++)
          if (s[i] ~ ("^" codename "(-updates|-security)?$")) keep = keep (keep == "" ? "" : " ") s[i]
        if (keep == "") next
        print "Types: deb-src\nURIs: " uris "\nSuites: " keep "\nComponents: main" (signed == "" ? "" : "\nSigned-By: " signed)
      }' "$f" >>"$apt_dir/sources.list.d/orrin-deb-src.sources"
  done
  if [ -f /etc/apt/sources.list ]; then
    awk -v codename="$codename" '
      $1 == "deb" {
        opts = ""; i = 2
        if ($2 ~ /^\[/) { while ($i !~ /\]$/) { opts = opts $i " "; i++ } opts = opts $i " "; i++ }
        uri = $i; suite = $(i + 1); main = 0
        for (j = i + 2; j <= NF; j++) if ($j == "main") main = 1
        if (main && suite ~ ("^" codename "(-updates|-security)?$")) print "deb-src " opts uri " " suite " main"
      }' /etc/apt/sources.list >"$apt_dir/sources.list.d/orrin-deb-src.list"
  fi
  if ! grep -qs '^Types: deb-src\|^deb-src' "$apt_dir"/sources.list.d/*; then
    echo "no Debian $codename entry in this machine's apt sources to take the mirror from"
    return 1
  fi
  cat "$apt_dir"/sources.list.d/*
  private_apt update -qq
}

private_apt() {
  apt-get -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$apt_dir/sources.list.d" \
    -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache" -o APT::Sandbox::User=root "$@"
}

fetch_source() {  # fetch_source PACKAGE VERSION: unpacked, with Debian's patches, in sources/PACKAGE
  local package=$1 version=$2
  [ -f "$src_dir/$package/.unpacked-${version#*:}" ] && return 0
  mkdir -p "$src_dir/download"
  (cd "$src_dir/download" && private_apt source --download-only "$package=$version")
  rm -rf "$src_dir/$package"
  dpkg-source -x "$src_dir/download/${package}_${version#*:}.dsc" "$src_dir/$package"
  touch "$src_dir/$package/.unpacked-${version#*:}"
}

fetch_all() {
  fetch_source freetype "$freetype_v"
  fetch_source libsdl2 "$sdl2_v"
  fetch_source libsdl2-ttf "$ttf_v"
  fetch_source libjpeg-turbo "$jpeg_v"
  fetch_source civetweb "$civetweb_v"
}

cmake_build() {  # cmake_build NAME SOURCE_DIR CMAKE_OPTIONS...: configure, build all, install
  local name=$1 source=$2
  shift 2
  local launcher=()
  command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  rm -rf "$work/$name"
  cmake -S "$source" -B "$work/$name" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DORRIN_WINDOWS_DEPS="$deps" -DCMAKE_INSTALL_PREFIX="$deps" \
    "${launcher[@]}" "$@"
  cmake --build "$work/$name" -j "$jobs"
  cmake --install "$work/$name"
}

keep_licence() {  # keep_licence NAME FILE...: the texts the Windows package carries
  mkdir -p "$deps/share/licenses/$1"
  local name=$1
  shift
  cp "$@" "$deps/share/licenses/$name/"
}

build_freetype() {
  fetch_source freetype "$freetype_v"
  cmake_build freetype "$src_dir/freetype" -DBUILD_SHARED_LIBS=OFF -DFT_DISABLE_ZLIB=ON -DFT_DISABLE_BZIP2=ON \
    -DFT_DISABLE_PNG=ON -DFT_DISABLE_HARFBUZZ=ON -DFT_DISABLE_BROTLI=ON
  keep_licence freetype "$src_dir/freetype/LICENSE.TXT" "$src_dir/freetype/docs/FTL.TXT" "$src_dir/freetype/debian/copyright"
  touch "$(stamp freetype "$freetype_v")"
}

build_sdl2() {
  fetch_source libsdl2 "$sdl2_v"
  cmake_build sdl2 "$src_dir/libsdl2" -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF
  # The programs choose their own entry point and subsystem: take SDL's main renaming,
  # SDL2main and -mwindows out of what every user of sdl2.pc gets.
  keep_licence SDL2 "$src_dir/libsdl2/LICENSE.txt" "$src_dir/libsdl2/debian/copyright"
  sed -i -e '/^Libs:/s/ -lmingw32\| -lSDL2main\| -mwindows//g' -e 's/ -Dmain=SDL_main//' "$deps/lib/pkgconfig/sdl2.pc"
  touch "$(stamp sdl2 "$sdl2_v")"
}

build_sdl2_ttf() {
  fetch_source libsdl2-ttf "$ttf_v"
  # Debian strips the bundled FreeType and HarfBuzz: use the FreeType built above.
  cmake_build sdl2-ttf "$src_dir/libsdl2-ttf" -DBUILD_SHARED_LIBS=OFF -DSDL2TTF_VENDORED=OFF \
    -DSDL2TTF_HARFBUZZ=OFF -DSDL2TTF_SAMPLES=OFF
  keep_licence SDL2_ttf "$src_dir/libsdl2-ttf/LICENSE.txt" "$src_dir/libsdl2-ttf/debian/copyright"
  # Its CMake route installs no pkg-config file; the project finds every library through one.
  local version=${ttf_v#*:}
  cat >"$deps/lib/pkgconfig/SDL2_ttf.pc" <<EOF
prefix=$deps
exec_prefix=\${prefix}
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: SDL2_ttf
Description: TrueType font rendering library for SDL2 (static, for Windows)
Version: ${version%%+*}
Requires: sdl2
Requires.private: freetype2
Libs: -L\${libdir} -lSDL2_ttf
Cflags: -I\${includedir}/SDL2
EOF
  touch "$(stamp sdl2-ttf "$ttf_v")"
}

build_libjpeg_turbo() {
  fetch_source libjpeg-turbo "$jpeg_v"
  # All targets are built: its install step expects the programs too.
  cmake_build libjpeg-turbo "$src_dir/libjpeg-turbo" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DREQUIRE_SIMD=ON \
    -DWITH_TURBOJPEG=ON
  keep_licence libjpeg-turbo "$src_dir/libjpeg-turbo/LICENSE.md" "$src_dir/libjpeg-turbo/README.ijg" \
    "$src_dir/libjpeg-turbo/debian/copyright"
  touch "$(stamp libjpeg-turbo "$jpeg_v")"
}

build_civetweb() {
  fetch_source civetweb "$civetweb_v"
  # The shared view's HTTP server: the library only, no TLS, no CGI, no files served.
  cmake_build civetweb "$src_dir/civetweb" -DBUILD_SHARED_LIBS=OFF -DCIVETWEB_BUILD_TESTING=OFF \
    -DCIVETWEB_ENABLE_SERVER_EXECUTABLE=OFF -DCIVETWEB_INSTALL_EXECUTABLE=OFF -DCIVETWEB_ENABLE_SSL=OFF \
    -DCIVETWEB_SERVE_NO_FILES=ON -DCIVETWEB_DISABLE_CGI=ON -DCIVETWEB_ENABLE_CXX=OFF -DCIVETWEB_ENABLE_ASAN=OFF
  keep_licence civetweb "$src_dir/civetweb/LICENSE.md" "$src_dir/civetweb/debian/copyright"
  touch "$(stamp civetweb "$civetweb_v")"
}

copy_cli11() {  # header-only; its CMake package finds the headers relative to itself
  mkdir -p "$deps/include" "$deps/share/cmake"
  rm -rf "$deps/include/CLI" "$deps/share/cmake/CLI11"
  cp -r /usr/include/CLI "$deps/include/"
  cp -r /usr/share/cmake/CLI11 "$deps/share/cmake/"
  keep_licence CLI11 /usr/share/doc/libcli11-dev/copyright
  touch "$(stamp cli11 headers)"
}

if [ "${1:-}" = --fetch-only ]; then  # sources only, nothing built
  mkdir -p "$src_dir"
  step tools install_missing
  step sources-list write_source_entries
  step fetch fetch_all
  exit 0
fi

missing_stamps=0
for s in "${all_stamps[@]}"; do [ -f "$s" ] || missing_stamps=1; done
if [ "$missing_stamps" -eq 0 ]; then
  echo "windows deps: reused $deps"
  exit 0
fi
mkdir -p "$deps/.built" "$deps/lib/pkgconfig" "$src_dir"
started=$SECONDS
step tools install_missing
[ -f "${all_stamps[0]}" ] && [ -f "${all_stamps[1]}" ] && [ -f "${all_stamps[2]}" ] && [ -f "${all_stamps[3]}" ] &&
  [ -f "${all_stamps[5]}" ] || step sources-list write_source_entries
[ -f "${all_stamps[0]}" ] || step freetype build_freetype
[ -f "${all_stamps[1]}" ] || step sdl2 build_sdl2
[ -f "${all_stamps[2]}" ] || step sdl2-ttf build_sdl2_ttf
[ -f "${all_stamps[3]}" ] || step libjpeg-turbo build_libjpeg_turbo
[ -f "${all_stamps[4]}" ] || step cli11 copy_cli11
[ -f "${all_stamps[5]}" ] || step civetweb build_civetweb
echo "windows deps: built into $deps in $((SECONDS - started)) s"
