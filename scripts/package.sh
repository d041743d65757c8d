#!/usr/bin/env bash
# Builds the Debian package tolvane_<version>_<arch>.deb in the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)"
(cd "$build" && cpack -G DEB >/dev/null)
ls -1 "$build"/tolvane_*.deb
