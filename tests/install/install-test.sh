#!/usr/bin/env bash
# Installs Tolvane and starts the installed program offscreen on a folder that
# holds a one-entry ZIP, pressing U on it: the window must show the folder, the
# archiver library and the picture plug-ins must come from the installed
# lib/tolvane, and the state must land in $XDG_CONFIG_HOME/tolvane.
#   install-test.sh prefix  BUILD   cmake --install into a temporary prefix
#   install-test.sh package BUILD   the Debian package, dpkg -i, then dpkg -r (root only)
set -euo pipefail
mode="$1"
build="$(cd "$2" && pwd)"
skip=77
work="$(mktemp -d)"
installed=""
cleanup() {
  if [ -n "$installed" ]; then dpkg -P tolvane >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Starts PROGRAM on the folder with the archive focused and checks what it did.
check_run() {
  local program="$1" libdir="$2"
  local folder="$work/run/pictures and archives"
  mkdir -p "$folder" "$work/home" "$work/config" "$work/data"
  printf 'inside the archive\n' > "$work/entry.txt"
  (cd "$work" && zip -q "$folder/one.zip" entry.txt)
  local out="$work/out.txt" err="$work/err.txt"
  env -u TOLVANE_HOME HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
    QT_QPA_PLATFORM=offscreen TOLVANE_QUIT_AFTER_MS=1500 TOLVANE_KEYS=U TOLVANE_REPORT_LIBRARIES=1 \
    timeout 120 "$program" "$folder/one.zip" >"$out" 2>"$err" || fail "$program exited with $? ($(cat "$err"))"

  local state="$work/config/tolvane"
  [ -f "$state/tolvane.ini" ] || fail "no state in $state"
  [ -f "$state/log/Path1SL.text" ] || fail "no tab list in $state/log"
  local index
  index="$(sed -n 's/^TC1TabIndex=//p' "$state/tolvane.ini" | tr -d '\r')"
  local shown
  shown="$(tr -d '\r' < "$state/log/Path1SL.text" | sed -n "$((index + 1))p")"
  [ "$shown" = "$folder" ] || fail "the current left tab is '$shown', not '$folder'"
  [ "$(cat "$folder/entry.txt" 2>/dev/null)" = "inside the archive" ] || fail "U did not extract the archive"
  grep -q "^library: $libdir/UNZIP32.so$" "$out" || fail "UNZIP32.so was not loaded from $libdir: $(cat "$out")"
  grep -q "^library: $libdir/spi/.*\.spi$" "$out" || fail "no picture plug-in was loaded from $libdir/spi"
  if grep -v "^library: $libdir/" "$out" | grep -q "^library:"; then fail "a library came from elsewhere"; fi
}

validate() {
  local share="$1"
  desktop-file-validate "$share/applications/org.tolvane.Tolvane.desktop" || fail "desktop entry"
  appstreamcli validate --no-net "$share/metainfo/org.tolvane.Tolvane.metainfo.xml" >/dev/null || fail "AppStream data"
  grep -q "<project_license>MIT</project_license>" "$share/metainfo/org.tolvane.Tolvane.metainfo.xml" || fail "no licence in the AppStream data"
  [ -f "$share/icons/hicolor/scalable/apps/org.tolvane.Tolvane.svg" ] || fail "no icon"
  [ -f "$share/man/man1/tolvane.1" ] || fail "no manual page"
}

# The licence and the change log in the documentation folder DOC.
check_doc() {
  local doc="$1"
  grep -q '^License: Expat$' "$doc/copyright" 2>/dev/null || fail "no MIT licence in $doc/copyright"
  grep -q 'The Tolvane developers' "$doc/copyright" || fail "no copyright holder in $doc/copyright"
  grep -q '^ Permission is hereby granted' "$doc/copyright" || fail "no licence text in $doc/copyright"
  gzip -t "$doc/changelog.gz" 2>/dev/null || fail "no compressed change log in $doc"
  zcat "$doc/changelog.gz" | grep -q '^## [0-9]' || fail "$doc/changelog.gz lists no version"
}

case "$mode" in
  prefix)
    prefix="$work/prefix"
    cmake --install "$build" --prefix "$prefix" >/dev/null
    [ -x "$prefix/bin/tolvane" ] || fail "no program in $prefix/bin"
    validate "$prefix/share"
    check_doc "$prefix/share/doc/tolvane"
    check_run "$prefix/bin/tolvane" "$prefix/lib/tolvane"
    [ ! -e "$prefix/bin/tolvane.ini" ] || fail "the state was written beside the installed program"
    ;;
  package)
    if [ "$(id -u)" -ne 0 ] || ! command -v dpkg >/dev/null; then
      echo "needs root and dpkg"; exit $skip
    fi
    if dpkg-query -W -f='${Status}' tolvane 2>/dev/null | grep -q installed; then
      echo "a tolvane package is installed already; not touching it"; exit $skip
    fi
    (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >/dev/null)
    deb="$(ls "$work"/pkg/tolvane_*_*.deb)"
    [ -f "$deb" ] || fail "no package built"
    dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || fail "the dependencies are not the libraries'"
    dpkg-deb -f "$deb" Depends | grep -q 'fonts-noto-cjk | fonts-ipafont-gothic | fonts-vlgothic' ||
      fail "no Japanese font among the dependencies: $(dpkg-deb -f "$deb" Depends)"
    ! dpkg-deb -f "$deb" Recommends | grep -q fonts || fail "a font is only recommended"
    dpkg-deb -e "$deb" "$work/control"
    dpkg-deb -x "$deb" "$work/root"
    check_doc "$work/root/usr/share/doc/tolvane"
    if grep -rqs ldconfig "$work/control"; then fail "the package runs ldconfig for its private libraries"; fi
    dpkg-deb -c "$deb" | awk '{print $6}' | sed 's#^\./#/#' | grep -v '/$' > "$work/files.txt"
    installed=yes
    dpkg -i "$deb" >/dev/null
    validate /usr/share
    check_run /usr/bin/tolvane /usr/lib/tolvane
    dpkg -r tolvane >/dev/null
    installed=""
    while read -r file; do
      [ ! -e "$file" ] || fail "$file is left after removal"
    done < "$work/files.txt"
    [ ! -e /usr/lib/tolvane ] || fail "/usr/lib/tolvane is left after removal"
    dpkg -P tolvane >/dev/null 2>&1 || true  # the package database's own record
    ;;
  *) echo "usage: $0 prefix|package BUILD" >&2; exit 2 ;;
esac
echo "ok: $mode"
