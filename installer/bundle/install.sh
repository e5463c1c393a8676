#!/bin/sh
# Installs the input method package: install.sh PACKAGE.zip
# The zip holds Quillo.app; it replaces "$QUILLO_SYSTEM_ROOT/Library/Input Methods/Quillo.app"
# (quillo-install-helper sets QUILLO_SYSTEM_ROOT from its --system-root).
# Runs as root: every path stays quoted, and any failure stops the script
# with a non-zero status before the installed copy is touched. The installer
# runs it through quillo-install-helper, on private copies of itself and of
# the verified package.
set -eu
umask 022

fail() {
  echo "install.sh: $*" >&2
  exit 1
}

[ "$#" -eq 1 ] || fail "usage: install.sh PACKAGE.zip"
package=$1
case $package in
  /*) ;;
  *) package=./$package ;;  # never let a name pass for an option
esac
[ -f "$package" ] || fail "package not found: $package"

root=${QUILLO_SYSTEM_ROOT:-}
target_dir="$root/Library/Input Methods"
target="$target_dir/Quillo.app"

mkdir -p "$target_dir"
stage=$(mktemp -d "$target_dir/.quillo-install.XXXXXX")
# Whenever the script ends, stopped by a signal too: a copy moved aside and
# not replaced yet goes back in place, and the staging folder goes.
cleanup() {
  if [ -e "$stage/previous" ] && [ ! -e "$target" ]; then
    mv "$stage/previous" "$target"
  fi
  rm -rf "$stage"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

unzip -q "$package" -d "$stage" || fail "cannot unpack $package"
# Decide on what was unpacked, not on the archive's listing (an entry can
# pass for a plain file there and still come out as a link): anything but
# regular files and folders (links, devices, pipes) refuses the package
# before anything follows it.
odd=$(find "$stage" ! -type f ! -type d -printf '%P\n') || fail "cannot inspect what $package holds"
[ -z "$odd" ] || fail "package holds entries that are neither files nor folders: $(echo "$odd" | tr '\n' ' ')"
[ -d "$stage/Quillo.app" ] || fail "package holds no Quillo.app"
[ -f "$stage/Quillo.app/Contents/Info.json" ] || fail "Quillo.app has no manifest"

# Whatever owners and modes the archive carries, the installed copy belongs
# to whoever installs it (root), only its owner may change it, and no
# program in it runs with other rights than its caller's. Neither command
# follows a link (there are none, and the staging folder is ours alone).
if [ "$(id -u)" -eq 0 ]; then
  chown -hR 0:0 "$stage/Quillo.app" || fail "cannot take ownership of Quillo.app"
fi
find "$stage/Quillo.app" \( -type f -o -type d \) -exec chmod go-w,ugo-st {} + ||
  fail "cannot set the modes of Quillo.app"

# Swap in the new copy; the staging folder lies beside the target, so both
# moves are renames within one file system.
if [ -e "$target" ]; then
  mv "$target" "$stage/previous"
fi
mv "$stage/Quillo.app" "$target" || fail "cannot move Quillo.app into place"
echo "installed $target"
