#!/usr/bin/env bash
# Checks the formatting of every tracked C++ file (clang-format, the nearest
# .clang-format) and the layer order of their #include lines (scripts/check-layers.sh),
# and runs clang-tidy (.clang-tidy) on the C++ files a change touches.
#   scripts/lint.sh [BASE]          format check, then clang-tidy on what differs from BASE
#                                   (default: main), committed or not
#   scripts/lint.sh --format-only   the format and layer checks alone (CI)
#   scripts/lint.sh --all           format check, then clang-tidy on every compiled file (slow)
#   scripts/lint.sh --fix           reformat every tracked C++ file in place
# LINT_BUILD_DIR names the build folder whose compile_commands.json clang-tidy reads
# (default: build; configured here when it has none).
set -euo pipefail
cd "$(dirname "$0")/.."
mode=all
base=main
case "${1:-}" in
  --format-only) mode=format ;;
  --fix) mode=fix ;;
  --all) base="" ;;
  "") ;;
  *) base="$1" ;;
esac
build="${LINT_BUILD_DIR:-build}"
if [ "$mode" = all ]; then ./scripts/deps.sh lint; else ./scripts/deps.sh; fi
need() { command -v "$1" >/dev/null || { echo "lint: $1 is missing (scripts/deps.sh lint installs it)" >&2; exit 2; }; }
need clang-format

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
if [ "$mode" = fix ]; then
  clang-format -i "${sources[@]}"
  exit 0
fi

status=0
if ! clang-format --dry-run --Werror "${sources[@]}" 2>"${TMPDIR:-/tmp}/lint-format.$$"; then
  grep -o '^[^:]*\.\(cpp\|h\):' "${TMPDIR:-/tmp}/lint-format.$$" | sort -u | sed 's/:$//; s/^/not formatted: /' >&2
  echo "lint: formatting differs; scripts/lint.sh --fix reformats" >&2
  status=1
fi
rm -f "${TMPDIR:-/tmp}/lint-format.$$"
./scripts/check-layers.sh || status=1
[ "$mode" = format ] && exit $status

need clang-tidy
# The files this change touches, against where it left BASE, committed or not.
if [ -n "$base" ]; then
  merge_base="$(git merge-base "$base" HEAD)"
  mapfile -t changed < <({ git diff --name-only --diff-filter=ACMR "$merge_base" -- '*.cpp' '*.h'
                            git ls-files --others --exclude-standard -- '*.cpp' '*.h'; } | sort -u)
else
  mapfile -t changed < <(git ls-files '*.cpp')
fi
if [ ${#changed[@]} -eq 0 ]; then
  echo "lint: no C++ file differs from $base"
  exit $status
fi
if [ ! -f "$build/compile_commands.json" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
# Files that include their moc output need it generated.
mapfile -t autogen < <(ninja -C "$build" -t targets all | sed -n 's/^\([A-Za-z0-9_]*_autogen\): phony$/\1/p')
[ ${#autogen[@]} -eq 0 ] || cmake --build "$build" --target "${autogen[@]}" >/dev/null

# clang-tidy reads translation units: a changed header is checked through the source
# of the same name, and through the header filter in every changed source.
units=()
for file in "${changed[@]}"; do
  unit="$file"
  [[ "$file" == *.h ]] && unit="${file%.h}.cpp"
  if [ -f "$unit" ] && grep -q "\"file\": \"$PWD/$unit\"" "$build/compile_commands.json"; then
    units+=("$unit")
  fi
done
mapfile -t units < <(printf '%s\n' "${units[@]}" | sort -u | sed '/^$/d')
if [ ${#units[@]} -eq 0 ]; then
  echo "lint: no changed file is compiled"
  exit $status
fi
echo "clang-tidy: ${#units[@]} file(s)"
printf '%s\n' "${units[@]}" | xargs -P "${JOBS:-$(nproc)}" -n 1 clang-tidy -p "$build" --quiet \
  2> >(grep -v '^[0-9]* warnings\? generated\.$' >&2) || status=1
exit $status
