#!/usr/bin/env bash
# Fetches benchmark pairs (old, new) from the package registries into
# build/bench-corpus/<pair>/{old,new}. Nothing here is committed.
#   npm: a Windows executable at a minor and at a major step; a whole package
#        tree at two adjacent versions; a package tree whose bundle chunks
#        are renamed (content-hashed names) between versions, so most new
#        files have no old file of the same name.
#   Debian: one library at the two versions the archive holds.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${CORPUS_DIR:-build/bench-corpus}
mkdir -p "$out"

npm_pair() {  # name package old new [path inside the package]
  local name=$1 pkg=$2 old=$3 new=$4 inner=${5:-}
  [ -d "$out/$name/new" ] && return 0
  local tmp; tmp=$(mktemp -d)
  for v in "$old" "$new"; do
    (cd "$tmp" && npm pack --silent "$pkg@$v" >/dev/null)
  done
  for side in old new; do
    local v; [ $side = old ] && v=$old || v=$new
    mkdir -p "$out/$name/$side"
    tar -xzf "$tmp"/*-"$v".tgz -C "$out/$name/$side" --strip-components=1
    if [ -n "$inner" ]; then
      local keep="$out/$name/$side.keep"
      mv "$out/$name/$side/$inner" "$keep" && rm -rf "$out/$name/$side" && mkdir -p "$out/$name/$side"
      mv "$keep" "$out/$name/$side/$(basename "$inner")"
    fi
  done
  rm -rf "$tmp"
}

debian_pair() {  # name package
  local name=$1 pkg=$2
  [ -d "$out/$name/new" ] && return 0
  mapfile -t versions < <(apt-cache madison "$pkg" | awk '{print $3}' | sort -uV)
  if [ ${#versions[@]} -lt 2 ]; then
    echo "corpus: $pkg has fewer than two versions in the archive; skipped" >&2
    return 0
  fi
  local tmp; tmp=$(mktemp -d)
  (cd "$tmp" && apt-get download -q "$pkg=${versions[0]}" "$pkg=${versions[-1]}" >/dev/null)
  local i=0
  for deb in "$tmp"/*.deb; do
    local side; [ $i = 0 ] && side=old || side=new
    mkdir -p "$out/$name/$side"
    dpkg-deb -x "$deb" "$out/$name/$side"
    i=$((i + 1))
  done
  rm -rf "$tmp"
}

command -v npm >/dev/null || { echo "corpus: npm is needed (apt-get install npm)" >&2; exit 1; }
npm_pair esbuild-minor @esbuild/win32-ia32 0.20.1 0.20.2 esbuild.exe
npm_pair esbuild-major @esbuild/win32-ia32 0.19.12 0.20.2 esbuild.exe
npm_pair typescript typescript 5.4.4 5.4.5
npm_pair vite-chunks vite 5.2.10 5.2.11
debian_pair libtiff libtiff6
ls "$out"
