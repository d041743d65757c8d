#!/usr/bin/env bash
# Fuzzes the picture plug-ins: builds one libFuzzer target per plug-in with clang
# (AddressSanitizer and UndefinedBehaviorSanitizer) outside the normal build, seeds each
# with small pictures made by ImageMagick, and runs it for a bounded time.
#   scripts/fuzz-plugins.sh [seconds per plug-in, default 180] [plug-in names...]
# Crashes are kept in build-fuzz/artifacts/<plug-in>/; the summary ends the output.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh fuzz

seconds=${1:-180}
shift || true
plugins=("$@")
[ ${#plugins[@]} -eq 0 ] && plugins=(ifjpeg ifpng ifgif ifwebp)
out=build-fuzz
mkdir -p "$out"

libs_for() {
  case "$1" in
    ifjpeg) echo "-ljpeg" ;;
    ifpng) echo "-lpng16" ;;
    ifgif) echo "-lgif" ;;
    ifwebp) echo "-lwebp" ;;
  esac
}

seed() {  # seed <plug-in> <folder>
  local dir=$2
  mkdir -p "$dir"
  [ -n "$(ls -A "$dir")" ] && return 0
  local src="$out/seed-src.png"
  convert -size 40x30 gradient:red-blue -fill yellow -draw 'circle 20,15 25,20' "$src"
  case "$1" in
    ifjpeg)
      convert "$src" -quality 80 "$dir/base.jpg"
      convert "$src" -interlace JPEG "$dir/progressive.jpg"
      convert "$src" -colorspace Gray "$dir/grey.jpg"
      convert "$src" -colorspace CMYK "$dir/cmyk.jpg"
      convert "$src" -sampling-factor 2x2 -quality 50 "$dir/subsampled.jpg" ;;
    ifpng)
      convert "$src" "$dir/rgb.png"
      convert "$src" -alpha set -channel A -evaluate set 50% "$dir/rgba.png"
      convert "$src" -colors 16 PNG8:"$dir/palette.png"
      convert "$src" -colorspace Gray -depth 16 "$dir/grey16.png"
      convert "$src" -colorspace Gray -depth 1 "$dir/mono.png"
      convert "$src" -interlace PNG "$dir/interlaced.png" ;;
    ifgif)
      convert "$src" "$dir/still.gif"
      convert "$src" -transparent yellow "$dir/transparent.gif"
      convert "$src" -interlace GIF "$dir/interlaced.gif" ;;
    ifwebp)
      convert "$src" -quality 80 "$dir/lossy.webp"
      convert "$src" -define webp:lossless=true "$dir/lossless.webp"
      convert "$src" -alpha set -channel A -evaluate set 50% "$dir/alpha.webp" ;;
  esac
}

summary=()
for p in "${plugins[@]}"; do
  [ -f "plugins/spi/$p.cpp" ] || { echo "no plug-in $p" >&2; continue; }
  echo "== $p: building"
  # Small pictures only: the time goes into the parsers, not into filling big blocks.
  clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -DSPI_MAX_PIXELS='(UINT64_C(1) << 22)' -I. \
    tests/fuzz/FuzzPlugin.cpp "plugins/spi/$p.cpp" plugins/spi/SpiCommon.cpp $(libs_for "$p") \
    -o "$out/fuzz_$p"
  seed "$p" "$out/corpus/$p"
  mkdir -p "$out/artifacts/$p"
  echo "== $p: fuzzing for ${seconds}s"
  status=0
  "$out/fuzz_$p" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=20 -print_final_stats=1 \
    -artifact_prefix="$out/artifacts/$p/" "$out/corpus/$p" >"$out/$p.log" 2>&1 || status=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$out/$p.log" | grep -o '[0-9]*$' || echo "?")
  crashes=$(find "$out/artifacts/$p" -type f | wc -l)
  summary+=("$p: ${seconds}s, ${runs} executions, exit ${status}, ${crashes} artifact(s) in $out/artifacts/$p")
done
echo "== summary"
printf '%s\n' "${summary[@]}"
