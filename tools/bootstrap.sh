#!/bin/bash
# Prepares a Debian 12 machine to build and test Faultpost: apt packages,
# deb-src, and OpenSSL / JsonCpp cross-built for both mingw targets from
# Debian's source packages. Idempotent; a warm run only checks stamps.
set -euo pipefail

CACHE=${FAULTPOST_DEPS:-/var/cache/faultpost-deps}
PACKAGES=(g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32 wine64 xvfb x11-apps
  imagemagick xdotool cmake ninja-build dpkg-dev googletest libz-mingw-w64-dev
  python3 fonts-wqy-zenhei openssl make perl binutils-mingw-w64-x86-64
  binutils-mingw-w64-i686)
SRC_LIST=/etc/apt/sources.list.d/faultpost-deb-src.sources

log() { echo "bootstrap: $*" >&2; }

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

have_deb_src() { grep -rqsE '^(Types: *deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; }
updated=0
if ! have_deb_src; then
  log "enabling deb-src"
  as_root tee "$SRC_LIST" >/dev/null <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  as_root apt-get update -qq; updated=1
fi
if [ ${#missing[@]} -gt 0 ]; then
  log "installing ${missing[*]}"
  [ $updated = 1 ] || { as_root apt-get update -qq; updated=1; }
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The version apt would fetch keys the cache, so a security update of a
# source package rebuilds it instead of silently reusing a stale build.
src_version() {
  local uri
  uri=$(apt-get source --print-uris "$1" 2>/dev/null | grep -o "'[^']*\.dsc'" | head -1) || true
  if [ -z "$uri" ] && [ $updated = 0 ]; then as_root apt-get update -qq; updated=1
    uri=$(apt-get source --print-uris "$1" 2>/dev/null | grep -o "'[^']*\.dsc'" | head -1) || true
  fi
  [ -n "$uri" ] || { log "no source package $1"; exit 1; }
  basename "${uri//\'/}" .dsc | sed -e "s/^$1_//" -e "s/%7[eE]/~/g" -e "s/%3[aA]/:/g"
}

fetch_source() { # name version -> prints source dir
  local dir="$CACHE/src/$1_$2"
  if [ ! -f "$dir/.extracted" ]; then
    rm -rf "$dir"; mkdir -p "$dir"
    (cd "$dir" && apt-get source -qq "$1=$2" >/dev/null 2>&1)
    touch "$dir/.extracted"
  fi
  find "$dir" -mindepth 1 -maxdepth 1 -type d | head -1
}

build_openssl() { # target version
  local target=$1 ver=$2 out="$CACHE/$1/openssl-$2"
  [ -f "$out/.done" ] && return 0
  local src; src=$(fetch_source openssl "$ver")
  local work="$CACHE/build/$target-openssl-$ver"
  log "building OpenSSL $ver for $target"
  rm -rf "$work" "$out"; mkdir -p "$CACHE/build"; cp -a "$src" "$work"
  local conf=mingw64; [ "$target" = i686 ] && conf=mingw
  (cd "$work" && ./Configure "$conf" no-shared no-asm no-tests no-engine no-dso no-async \
      --cross-compile-prefix="$target-w64-mingw32-" --prefix="$out" >/dev/null &&
    make -j"$(nproc)" build_libs >/dev/null 2>&1)
  mkdir -p "$out/lib" "$out/include"
  cp "$work/libcrypto.a" "$out/lib/"
  cp -r "$work/include/openssl" "$out/include/"
  rm -rf "$work"; touch "$out/.done"
}

build_jsoncpp() { # target version
  local target=$1 ver=$2 out="$CACHE/$1/jsoncpp-$2"
  [ -f "$out/.done" ] && return 0
  local src; src=$(fetch_source libjsoncpp "$ver")
  log "building JsonCpp $ver for $target"
  rm -rf "$out"; mkdir -p "$out/lib" "$out/obj"
  for f in "$src"/src/lib_json/*.cpp; do
    "$target-w64-mingw32-g++" -std=c++17 -O2 -I"$src/include" -c "$f" -o "$out/obj/$(basename "$f" .cpp).o"
  done
  "$target-w64-mingw32-ar" rcs "$out/lib/libjsoncpp.a" "$out"/obj/*.o
  rm -rf "$out/obj"; cp -r "$src/include" "$out/include"
  touch "$out/.done"
}

mkdir -p "$CACHE"
ossl=$(src_version openssl); json=$(src_version libjsoncpp)
# Fetched before the parallel builds so the two targets never race on it.
fetch_source openssl "$ossl" >/dev/null; fetch_source libjsoncpp "$json" >/dev/null
pids=()
for t in x86_64 i686; do
  if [ "${1:-}" = --serial ]; then build_openssl $t "$ossl"; else build_openssl $t "$ossl" & pids+=($!); fi
done
for p in "${pids[@]}"; do wait "$p"; done
for t in x86_64 i686; do build_jsoncpp $t "$json"; done

# One small file the CMake toolchains read, so configure never guesses.
for t in x86_64 i686; do
  cat > "$CACHE/$t/deps.cmake" <<CM
set(FAULTPOST_OPENSSL_ROOT "$CACHE/$t/openssl-$ossl")
set(FAULTPOST_JSONCPP_ROOT "$CACHE/$t/jsoncpp-$json")
CM
done
echo "$CACHE"
