#!/usr/bin/env bash
# Unpacks Debian's source package NAME (the version Debian builds its own
# binary packages from) into the folder DEST/NAME-VERSION, fetched from the
# archive the machine already uses, and prints that folder. Adds a deb-src
# entry for the same archive when there is none. Unpacked once: a folder that
# is already there is reused.
#   scripts/debian-source.sh NAME DEST
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 NAME DEST" >&2; exit 2; }
name=$1
dest=$2
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

dpkg-query -W -f='${Status}' dpkg-dev 2>/dev/null | grep -q 'install ok installed' ||
  $SUDO apt-get install -y -qq --no-install-recommends dpkg-dev >&2

version() { apt-cache showsrc "$name" 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -n 1; }

if [ -z "$(version)" ]; then
  # The same archives, suites and components as the binary entries.
  list=/etc/apt/sources.list.d/quilo-deb-src
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && [ "$f" != "$list.sources" ] || continue
    sed 's/^Types:.*/Types: deb-src/' "$f"
    echo
  done | $SUDO tee "$list.sources" > /dev/null
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list | $SUDO tee "$list.list" > /dev/null
  fi
  $SUDO apt-get update -qq >&2
fi
v=$(version)
[ -n "$v" ] || { echo "error: no source package $name in the configured archives" >&2; exit 1; }
upstream=${v#*:}
upstream=${upstream%-*}
folder=$dest/$name-$upstream
if [ ! -f "$folder/.unpacked" ]; then
  mkdir -p "$dest"
  work=$(mktemp -d "$dest/.fetch.XXXXXX")
  (cd "$work" && apt-get source -qq "$name=$v" >&2)
  rm -rf "$folder"
  mv "$work/$name-$upstream" "$folder"
  rm -rf "$work"
  touch "$folder/.unpacked"
fi
echo "$folder"
