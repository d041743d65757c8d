#!/usr/bin/env bash
# Builds Tolvane and its tests with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-sanitize/ and runs the test suite there. Any report fails the test it happens in.
#   scripts/sanitize.sh                       every suite
#   scripts/sanitize.sh platform archive      only these libraries' tests
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
build="${SANITIZE_BUILD_DIR:-build-sanitize}"
jobs="${JOBS:-$(nproc)}"
suites=("$@")
[ ${#suites[@]} -gt 0 ] || suites=(platform shell archive image app network)
# Warnings stay warnings here: the sanitizers' instrumentation makes GCC warn falsely
# (maybe-uninitialized inside std::regex); the ordinary CI build holds them as errors.
werror=OFF
# Precompiled headers: most of a sanitizer build's time goes to parsing Qt's headers.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTOLVANE_ASAN=ON -DTOLVANE_UBSAN=ON -DTOLVANE_PCH=ON -DTOLVANE_WERROR="$werror" >/dev/null
targets=()
for suite in "${suites[@]}"; do targets+=("tolvane_${suite}_tests"); done
# The benchmarks are not tests; everything a test loads is a dependency of its executable.
start=$(date +%s)
cmake --build "$build" -j "$jobs" --target "${targets[@]}"
built=$(date +%s)
# Reports go to standard error, which ctest shows for the failing test.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp:print_suppressions=0}"
labels="$(IFS='|'; echo "${suites[*]}")"
status=0
# The tests run several times slower under the sanitizers.
(cd "$build" && ctest --output-on-failure --no-tests=error -j "$jobs" --timeout 900 -L "^($labels)\$") || status=$?
echo "sanitizer build: $((built - start)) s, tests: $(($(date +%s) - built)) s"
exit $status
