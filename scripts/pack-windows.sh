#!/usr/bin/env bash
# Packs the Windows build into dist/orrin-<version>-windows-x64.zip: both programs
# (stripped), a README for Windows users and the licence texts of what is linked in.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-windows
deps=${ORRIN_WINDOWS_DEPS:-$build/deps}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "pack-windows: no configured build in $build" >&2; exit 1; }
name=orrin-$version-windows-x64
stage=$build/pack/$name

rm -rf "$build/pack"
mkdir -p "$stage/licences" "$root/dist"
for program in orrin-receiver orrin-cast; do
  x86_64-w64-mingw32-strip -o "$stage/$program.exe" "$build/bin/$program.exe"
done
# Windows users read text files with CR LF line ends.
sed 's/$/\r/' "$root/data/windows/README.txt" >"$stage/README.txt"

licence() {  # licence NAME FILE...: one text file per library, its files one after the other
  local out=$stage/licences/$1.txt
  shift
  local f
  for f in "$@"; do
    [ -f "$f" ] || { echo "pack-windows: missing licence text $f" >&2; exit 1; }
    printf '==> %s <==\n\n' "$(basename "$f")"
    cat "$f"
    printf '\n\n'
  done | sed 's/$/\r/' >"$out"
}
licence SDL2 "$deps"/share/licenses/SDL2/*
licence SDL2_ttf "$deps"/share/licenses/SDL2_ttf/*
licence FreeType "$deps"/share/licenses/freetype/*
licence libjpeg-turbo "$deps"/share/licenses/libjpeg-turbo/*
licence CLI11 "$deps"/share/licenses/CLI11/*
licence civetweb "$deps"/share/licenses/civetweb/*
licence mingw-w64-runtime-and-winpthreads /usr/share/doc/mingw-w64-x86-64-dev/copyright
licence gcc-runtime /usr/share/doc/gcc-mingw-w64-base/copyright

zip_file=$root/dist/$name.zip
rm -f "$zip_file"
(cd "$build/pack" && zip -q -r -X "$zip_file" "$name")
echo "pack-windows: $zip_file ($(du -k "$zip_file" | cut -f1) KiB)"

# The installer beside it, where NSIS is at hand (Debian: nsis).
if command -v makensis >/dev/null 2>&1; then
  installer=$root/dist/$name-setup.exe
  cp "$build/generated/windows/orrin-receiver.ico" "$build/pack/orrin-receiver.ico"
  makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$installer" "$root/data/windows/orrin.nsi"
  echo "pack-windows: $installer ($(du -k "$installer" | cut -f1) KiB)"
else
  echo "pack-windows: no makensis (Debian: nsis), so no installer"
fi
