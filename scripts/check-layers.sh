#!/usr/bin/env bash
# Fails when an #include crosses the layer order:
#   app -> shell, archive, image -> platform
# and inside platform/ (each folder its own library, see platform/Sources.cmake):
#   system -> state -> namespace -> fileops -> desktop -> ui, graphics on system,
#   search on namespace, network on fileops.
# Below ui no file may include a Qt Widgets header: those libraries run without a display.
#   scripts/check-layers.sh [FILE...]   checks the files given, else every tracked source
set -euo pipefail
cd "$(dirname "$0")/.."

# What each layer may include besides itself.
declare -A uses=(
  [platform/system]=""
  [platform/state]="platform/system"
  [platform/graphics]="platform/system"
  [platform/namespace]="platform/system platform/state"
  [platform/search]="platform/system platform/state platform/namespace"
  [platform/network]="platform/system platform/state platform/namespace platform/fileops"
  [platform/fileops]="platform/system platform/state platform/namespace"
  [platform/desktop]="platform/system platform/state platform/namespace platform/fileops"
  [platform/ui]="platform/system platform/state platform/graphics platform/namespace platform/search platform/network platform/fileops platform/desktop"
  [shell]="platform"
  [archive]="platform"
  [image]="platform"
  [app]="platform shell archive image"
)
top_layers=" app shell archive image platform "

# The layer of a path into $layer: its top folder, and inside platform/ its sub-folder.
layer_of() {
  local path="$1" top="${1%%/*}"
  [[ "$top_layers" == *" $top "* ]] || return 1
  if [ "$top" = platform ]; then
    local rest="${path#platform/}"
    [[ "$rest" == */* ]] || return 1
    layer="platform/${rest%%/*}"
  else
    layer="$top"
  fi
}

# May layer `from` include something of layer `to`?
allowed() {
  local from="$1" to="$2" dep
  [ "$from" = "$to" ] && return 0
  for dep in ${uses[$from]}; do
    [ "$dep" = "$to" ] && return 0
    [ "$dep" = platform ] && [[ "$to" == platform/* ]] && return 0
  done
  return 1
}

widgets_dir="$(ls -d /usr/include/*/qt6/QtWidgets /usr/include/qt6/QtWidgets 2>/dev/null | head -n 1 || true)"
is_widgets_header() {
  local header="$1"
  [[ "$header" == QtWidgets/* ]] && return 0
  [ -n "$widgets_dir" ] && [[ "$header" == Q* ]] && [ -e "$widgets_dir/$header" ]
}

if [ $# -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files -- app shell archive image platform | grep -E '\.(cpp|h)$')
fi

status=0
fail() {
  echo "$1" >&2
  status=1
}
declare -A unplaced=()
# One grep over every file: file:line:text.
while IFS=: read -r file line text; do
  layer_of "$file" || continue
  from="$layer"
  if [ -z "${uses[$from]+set}" ]; then
    [ -n "${unplaced[$from]+set}" ] || fail "$file: the folder $from has no place in the layer order (scripts/check-layers.sh)"
    unplaced[$from]=1
    continue
  fi
  if [[ "$text" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
    target="${BASH_REMATCH[1]}"
    layer_of "$target" || continue
    to="$layer"
    allowed "$from" "$to" || fail "$file:$line: includes $target ($from may not use $to)"
  elif [[ "$text" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<([^\>]+)\> ]]; then
    target="${BASH_REMATCH[1]}"
    if [[ "$from" == platform/* && "$from" != platform/ui ]] && is_widgets_header "$target"; then
      fail "$file:$line: includes <$target>, a Qt Widgets header ($from builds without widgets)"
    fi
  fi
done < <(grep -Hn '^[[:space:]]*#[[:space:]]*include' "${files[@]}" /dev/null || true)
[ $status -eq 0 ] && echo "layers: ${#files[@]} files keep the order"
exit $status
