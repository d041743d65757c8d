#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
# With CI=true, compiler warnings are errors.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh
werror=OFF
[ "${CI:-}" = true ] && werror=ON
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVANE_WERROR="$werror" >/dev/null
cmake --build build -j "$(nproc)"
cd build
ctest --output-on-failure --no-tests=error -j "$(nproc)" --timeout 300
