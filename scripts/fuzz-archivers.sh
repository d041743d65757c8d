#!/usr/bin/env bash
# Builds a libFuzzer target per reading archiver library (clang, AddressSanitizer) and runs
# each for a bounded time: scripts/fuzz-archivers.sh [seconds per target] [library ...]
# Each input is listed and extracted into a folder that already holds files and a link to
# a folder beside it; the target aborts when anything outside it or already in it changed.
# Not part of the build or of ctest. Crashes are kept in build-fuzz/<library>/crashes.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-120}
shift || true
./scripts/deps.sh fuzz
out=$root/build-fuzz
mkdir -p "$out/obj"
flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined
       -DTOLVANE_ARC_NO_QT -DTOLVANE_ARC_FUZZ_PASSWORD='"fuzz"' -I"$root" -I"$root/plugins/archivers"
       $(pkg-config --cflags libarchive liblzma libcrypto))
# The shared core, once.
core=()
for src in plugins/archivers/core/*.cpp; do
  obj=$out/obj/$(basename "${src%.cpp}").o
  if [ ! -f "$obj" ] || [ "$src" -nt "$obj" ]; then clang++ "${flags[@]}" -c "$src" -o "$obj"; fi
  core+=("$obj")
done

# library file, prefix, dialect (0 LHA, 1 tar, 2 7z, 3 ZIP/CAB/RAR), sample archives
targets=(
  "UNLHA32 Unlha32.cpp Unlha 0 lzh"
  "UNZIP32 Unzip32.cpp UnZip 3 zip"
  "CAB32 Cab32.cpp Cab 3 cab"
  "TAR32 Tar32.cpp Tar 1 tar"
  "UNRAR32 Unrar32.cpp Unrar 3 rar"
  "7-zip32 SevenZip32.cpp SevenZip 2 7z"
)
wanted=("$@")
seeds=$out/seeds
if [ ! -d "$seeds" ]; then
  mkdir -p "$seeds/src/sub" && cd "$seeds/src"
  echo hello > a.txt && head -c 20000 /dev/urandom > sub/b.bin && ln -sf a.txt link
  zip -qry ../s.zip . && bsdtar -czf ../s.tgz . && bsdtar -cf ../s.tar . && bsdtar -cjf ../s.tbz .
  bsdtar --format cpio -cf ../s.cpio . && gzip -c a.txt > ../a.txt.gz && 7zz a -bd ../s.7z . >/dev/null
  # Encrypted with the password the fuzz build answers, data only and names too.
  7zz a -bd -pfuzz -mhc=off ../e.7z a.txt sub >/dev/null && 7zz a -bd -pfuzz -mhe=on ../n.7z . >/dev/null
  gcab -c ../s.cab a.txt sub/b.bin
  ln a.txt hard.txt && printf 'a.txt\nhard.txt\nsub/b.bin\n' | cpio -o -H newc > ../h.cpio 2>/dev/null
  # Links chained to lead out, a hard link to a file that was there, a device node.
  python3 - <<'PY'
import tarfile, io
with tarfile.open("../evil.tar", "w") as tf:
    for name, kind, link in (("x/up", tarfile.SYMTYPE, ".."), ("etc", tarfile.SYMTYPE, "x/up/x/up/../../etc"),
                             ("h", tarfile.LNKTYPE, "existing.txt"), ("dev", tarfile.CHRTYPE, ""),
                             ("linkout/in.txt", tarfile.REGTYPE, "")):
        ti = tarfile.TarInfo(name); ti.type = kind; ti.linkname = link; tf.addfile(ti)
    ti = tarfile.TarInfo("a.txt"); ti.size = 2; tf.addfile(ti, io.BytesIO(b"hi"))
PY
  cd "$root"
fi
archives=$root/tests/data/archives

for t in "${targets[@]}"; do
  read -r name source prefix dialect kind <<<"$t"
  if [ ${#wanted[@]} -gt 0 ] && [[ ! " ${wanted[*]} " =~ " $name " ]]; then continue; fi
  dir=$out/$name
  mkdir -p "$dir/corpus" "$dir/crashes"
  bin=$dir/fuzz_$name
  clang++ "${flags[@]}" -fsanitize=fuzzer -DARC_PREFIX="$prefix" -DARC_DIALECT="$dialect" \
    "$root/tests/fuzz/ArchiverFuzz.cpp" "$root/plugins/archivers/$source" "${core[@]}" \
    $(pkg-config --libs libarchive liblzma libcrypto) -o "$bin"
  # Seeds: a 0 byte then an archive; a 1 byte then a command line.
  seed() { [ -f "$1" ] || return 0; { printf '\0'; cat "$1"; } > "$dir/corpus/seed-$(basename "$1")"; }
  case $kind in
    lzh) for f in "$archives"/lha_*.lzh; do seed "$f"; done ;;
    zip) for f in "$archives"/zip_*.zip "$seeds/s.zip"; do seed "$f"; done ;;
    cab) for f in "$archives"/cab_*.cab "$seeds/s.cab"; do seed "$f"; done ;;
    tar) for f in "$seeds"/s.tgz "$seeds"/s.tar "$seeds"/s.tbz "$seeds"/s.cpio "$seeds"/h.cpio "$seeds"/evil.tar \
                  "$seeds"/a.txt.gz; do seed "$f"; done ;;
    rar) for f in "$archives"/rar*.rar; do seed "$f"; done ;;
    7z) for f in "$seeds"/s.7z "$seeds"/e.7z "$seeds"/n.7z; do seed "$f"; done ;;
  esac
  printf '\1x -+ -x1 -jse1 -jso1 -n1  "a.lzh" "out_" "@resp"' > "$dir/corpus/cmd1"
  printf '\1c -z9 -f "a.tgz" -o "d" "a.txt"' > "$dir/corpus/cmd2"
  printf '\1-x -o --i -j  "a.zip" "d" "[-]x" "a[[]1].txt"' > "$dir/corpus/cmd3"
  printf '\1x -aoa -hide -r- "-wt" -y "-x!*.c" "-oo" "a.7z" "f"' > "$dir/corpus/cmd4"
  echo "== $name: ${seconds}s"
  start=$(date +%s)
  # Forked jobs: a finding is kept and the run goes on for its whole time. libarchive asks
  # for what a header declares (4 GB for a cut LHA header) before it finds the file short;
  # untouched, that costs nothing outside the sanitizer, so such out-of-memory reports are
  # kept apart from the findings.
  ( cd "$dir" && "$bin" "$dir/corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -fork=1 -ignore_ooms=1 -ignore_timeouts=1 -ignore_crashes=1 \
      -artifact_prefix="$dir/crashes/" -print_final_stats=1 >"$dir/log.txt" 2>&1 ) || true
  end=$(date +%s)
  execs=$(grep -o '^#[0-9]*: cov' "$dir/log.txt" | tail -1 | grep -o '[0-9]*' || echo '?')
  found=$(ls "$dir/crashes" | grep -vc '^\(oom\|timeout\)-' || true)
  ooms=$(ls "$dir/crashes" | grep -c '^oom-' || true)
  # A timeout is kept apart too: the sanitizer fills every freed block, so a buffer as
  # large as a header declares costs seconds here and nothing in the library as built.
  # Each one is worth running through the ordinary build before it is called a finding.
  timeouts=$(ls "$dir/crashes" | grep -c '^timeout-' || true)
  echo "$name seconds=$((end - start)) executions=$execs findings=$found sanitizer-ooms=$ooms timeouts=$timeouts"
done
