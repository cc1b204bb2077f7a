#!/usr/bin/env bash
# Remakes the picture decoder's fuzz seeds in fuzz/corpus/jpeg_decoder_fuzz/seed_*:
# TurboJPEG-made pictures (jpeg_seed_maker) plus lossless jpegtran variants that TurboJPEG's
# own API cannot write (arithmetic coding, restart markers, a custom many-scan script).
# Needs the fuzz preset built: cmake --build --preset fuzz --target jpeg_seed_maker
set -euo pipefail
cd "$(dirname "$0")/.."
out=fuzz/corpus/jpeg_decoder_fuzz
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
build-fuzz/bin/jpeg_seed_maker "$tmp"
jpegtran -arithmetic -outfile "$tmp/arithmetic_420.jpg" "$tmp/baseline_420.jpg"
jpegtran -arithmetic -progressive -outfile "$tmp/arithmetic_progressive_444.jpg" "$tmp/baseline_444.jpg"
jpegtran -restart 1B -outfile "$tmp/restart_420.jpg" "$tmp/baseline_420.jpg"
jpegtran -optimize -outfile "$tmp/optimized_422.jpg" "$tmp/baseline_422.jpg"
# Successive approximation down to the last bit: many refinement scans in one small file.
cat > "$tmp/scans.txt" <<'SCANS'
0,1,2: 0-0, 0, 2;
0,1,2: 0-0, 2, 1;
0,1,2: 0-0, 1, 0;
0: 1-5, 0, 3;  1: 1-63, 0, 3;  2: 1-63, 0, 3;
0: 6-63, 0, 3;
0: 1-63, 3, 2; 1: 1-63, 3, 2;  2: 1-63, 3, 2;
0: 1-63, 2, 1; 1: 1-63, 2, 1;  2: 1-63, 2, 1;
0: 1-63, 1, 0; 1: 1-63, 1, 0;  2: 1-63, 1, 0;
SCANS
jpegtran -scans "$tmp/scans.txt" -outfile "$tmp/many_scans_444.jpg" "$tmp/baseline_444.jpg"
for f in "$tmp"/*.jpg; do cp "$f" "$out/seed_$(basename "$f" .jpg)"; done
ls -l "$out"/seed_* | awk '{ total += $5 } END { print NR " seeds, " total " bytes" }'
