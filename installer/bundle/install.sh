#!/bin/sh
# Installs the input method package: install.sh PACKAGE.zip
# The zip holds Quillo.app; it replaces "$QUILLO_SYSTEM_ROOT/Library/Input Methods/Quillo.app"
# (the system root is empty on a real system). Runs as root: every path stays
# quoted, and any failure stops the script with a non-zero status before the
# installed copy is touched. The installer runs it through quillo-install-helper,
# on private copies of itself and of the verified package.
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

# A symbolic link in the archive could steer later entries outside the staging folder.
if zipinfo "$package" | grep -q '^l'; then
  fail "package holds symbolic links"
fi

mkdir -p "$target_dir"
stage=$(mktemp -d "$target_dir/.quillo-install.XXXXXX")
trap 'rm -rf "$stage"' EXIT INT TERM

unzip -q "$package" -d "$stage" || fail "cannot unpack $package"
[ -d "$stage/Quillo.app" ] || fail "package holds no Quillo.app"
[ -f "$stage/Quillo.app/Contents/Info.json" ] || fail "Quillo.app has no manifest"

# Whatever owners and modes the archive carries, the installed copy belongs
# to whoever installs it (root), only its owner may change it, and no
# program in it runs with other rights than its caller's.
if [ "$(id -u)" -eq 0 ]; then
  chown -R 0:0 "$stage/Quillo.app" || fail "cannot take ownership of Quillo.app"
fi
chmod -R go-w,ugo-st "$stage/Quillo.app" || fail "cannot set the modes of Quillo.app"

# Swap in the new copy; the staging folder lies beside the target, so both
# moves are renames within one file system.
if [ -e "$target" ]; then
  mv "$target" "$stage/previous"
fi
mv "$stage/Quillo.app" "$target" || {
  [ -e "$stage/previous" ] && mv "$stage/previous" "$target"
  fail "cannot move Quillo.app into place"
}
echo "installed $target"
