#!/bin/sh
# Installs the input method package: install.sh PACKAGE.zip
# The zip holds Quillo.app; it replaces "$QUILLO_SYSTEM_ROOT/Library/Input Methods/Quillo.app"
# (quillo-install-helper sets QUILLO_SYSTEM_ROOT from its --system-root).
# Runs as root: every path stays quoted, and any failure stops the script
# with a non-zero status and leaves the installed copy (or its absence) as
# it was. The installer runs it through quillo-install-helper, on private
# copies of itself and of the verified package, with a fixed PATH.
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
# Each run stages in "$target_dir/.quillo-install.<pid>.XXXXXX".
prefix=.quillo-install.

mkdir -p "$target_dir"

# Removes a staging folder, also one whose folders a stop left closed.
remove_tree() {
  chmod -R u+rwx "$1" 2>/dev/null || :
  rm -rf "$1"
}

# Staging folders of runs that ended without removing theirs (killed, or the
# machine went down) go; one that still holds the copy its run had moved
# aside puts it back first when nothing took its place.
for old in "$target_dir/$prefix"*; do
  [ -d "$old" ] && [ ! -L "$old" ] && [ -O "$old" ] || continue
  rest=${old#"$target_dir/$prefix"}
  pid=${rest%.*}
  random=${rest#"$pid".}
  case $pid in '' | 0* | *[!0-9]*) continue ;; esac
  case $random in ?????? ) ;; *) continue ;; esac
  case $random in *[!A-Za-z0-9]*) continue ;; esac
  # (Without /proc mounted, every run would look ended.)
  [ "$pid" != "$$" ] && [ -e "/proc/$$" ] && [ ! -e "/proc/$pid" ] || continue
  if [ -d "$old/previous" ] && [ ! -L "$old/previous" ] && [ ! -e "$target" ] && [ ! -L "$target" ]; then
    mv -T "$old/previous" "$target" || fail "cannot put back the copy an ended run left in $old"
  fi
  remove_tree "$old" || echo "install.sh: cannot remove $old, which an ended run left" >&2
done

# What the entries declare they unpack to must fit on the target's file
# system before anything is unpacked. Each entry's size is added on its own
# (the listing's own total wraps around past 2^64 bytes), in floating point,
# which never wraps; a line that does not read as an entry refuses the package.
listing=$(unzip -Z -s "$package" </dev/null) || fail "cannot read the listing of $package"
needed=$(printf '%s\n' "$listing" | awk '
  NR <= 2 { next }
  { lines[NR] = $0 }
  END {
    for (i = 3; i < NR; i++) {
      if (!match(lines[i], /[ \t][0-9]+[ \t][bBtT][-xXl][ \t]/)) { print "unreadable"; exit }
      split(substr(lines[i], RSTART + 1), size, /[ \t]/)
      total += size[1]
    }
    printf "%.0f\n", total
  }')
[ "$needed" != unreadable ] || fail "cannot read the sizes $package declares"
free=$(stat -f -c '%a %S' -- "$target_dir") || fail "cannot learn the free space of $target_dir"
awk -v needed="$needed" -v free="$free" 'BEGIN { split(free, f, " "); exit !(needed + 0 <= f[1] * f[2]) }' ||
  fail "$package unpacks to $needed bytes, more than the free space of $target_dir"

stage=$(mktemp -d "$target_dir/$prefix$$.XXXXXX")
# The package unpacks into a folder of its own; the installed copy is moved
# aside beside that folder, under a name no entry can reach.
unpacked="$stage/unpack"
previous="$stage/previous"
# Whenever the script ends, stopped by a signal too: the copy this run moved
# aside and did not replace goes back in place, and the staging folder goes.
cleanup() {
  if [ -e "$previous" ] && [ ! -e "$target" ]; then
    mv -T "$previous" "$target"
  fi
  remove_tree "$stage"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

# Never a question: no standard input, no password prompt, and of two
# entries of one name the first stays.
unzip -q -n -P '' "$package" -d "$unpacked" </dev/null || fail "cannot unpack $package"
# Whatever modes the archive carries: folders and programs 0755, other files
# 0644; set-id and sticky bits go. Links are neither followed nor changed.
chmod -R u=rwX,go=rX,a-st "$unpacked" || fail "cannot set the modes of what $package holds"
# Decide on what was unpacked, not on the archive's listing (an entry can
# pass for a plain file there and still come out as a link): anything but
# regular files and folders (links, devices, pipes) refuses the package
# before anything follows it.
odd=$(find "$unpacked" ! -type f ! -type d -printf '%P\n') || fail "cannot inspect what $package holds"
[ -z "$odd" ] || fail "package holds entries that are neither files nor folders: $(echo "$odd" | tr '\n' ' ')"
[ -d "$unpacked/Quillo.app" ] || fail "package holds no Quillo.app"
[ -f "$unpacked/Quillo.app/Contents/Info.json" ] || fail "Quillo.app has no manifest"

# The installed copy belongs to whoever installs it (root), and only its
# owner may change it. Nothing here follows a link (there are none, and the
# staging folder is ours alone).
if [ "$(id -u)" -eq 0 ]; then
  chown -hR 0:0 "$unpacked/Quillo.app" || fail "cannot take ownership of Quillo.app"
fi

# Swap in the new copy; the staging folder lies beside the target, so both
# moves are renames within one file system.
if [ -e "$target" ] || [ -L "$target" ]; then
  mv -T "$target" "$previous" || fail "cannot move the installed Quillo.app aside"
fi
mv -T "$unpacked/Quillo.app" "$target" || fail "cannot move Quillo.app into place"
echo "installed $target"
