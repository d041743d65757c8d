#!/usr/bin/env bash
# Builds and runs a benchmark: bench/run.sh list [folder for the generated files]
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
  list) bench=ListBench ;;
  fileops) bench=FileOpsBench ;;
  listview) bench=ListViewBench ;;
  startup) bench=StartupBench ;;
  commands) bench=CommandsBench ;;
  archive) bench="ArchiveBench ArchiveFolderBench" ;;
  image) bench=ImageBench ;;
  preview) bench=PreviewBench ;;
  search) bench=SearchBench ;;
  network) bench=NetworkBench ;;
  *) echo "usage: bench/run.sh list|fileops|listview|startup|commands|archive|image|preview|search|network [work folder]" >&2; exit 2 ;;
esac
shift
./scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
status=0
for b in $bench; do
  cmake --build build -j "$(nproc)" --target "bench_$b" >/dev/null
  "build/bin/bench_$b" "$@" || status=1
done
exit $status
