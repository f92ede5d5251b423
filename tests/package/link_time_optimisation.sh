#!/usr/bin/env bash
# The installed libquorin.a of a tree that asks for link-time optimisation, as CMake asks for it
# (CMAKE_INTERPROCEDURAL_OPTIMIZATION) and as a distribution's flags do (-flto=auto
# -ffat-lto-objects): it builds, and its global names are libquorin.so's exports as nm reads
# them. Only the libraries are built, unoptimised (the names do not depend on it), in scratch
# below BUILD_DIR's Testing/Temporary. Jobs: QUORIN_JOBS, else 4.
# Usage: link_time_optimisation.sh BUILD_DIR
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -eq 1 ] || { echo "usage: link_time_optimisation.sh BUILD_DIR" >&2; exit 2; }
mkdir -p "$1/Testing/Temporary"
tmp=$(mktemp -d "$(cd "$1" && pwd)/Testing/Temporary/link_time_optimisation.XXXXXX")
trap 'rm -rf "$tmp"' EXIT # on a TERM or an interrupt too
jobs=${QUORIN_JOBS:-4}
global_names() { nm "$@" --defined-only --format=posix | awk 'NF > 2 { print $1 }' | sort -u; }
status=0
for row in ipo flags; do
  case $row in
    ipo) args=(-DCMAKE_INTERPROCEDURAL_OPTIMIZATION=ON) ;;
    flags) args=("-DCMAKE_CXX_FLAGS=-flto=auto -ffat-lto-objects") ;;
  esac
  tree=$tmp/$row
  cmake -S "$repo" -B "$tree" -G Ninja -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ \
    -DQUORIN_TESTS=OFF "${args[@]}" >/dev/null
  if ! cmake --build "$tree" -j "$jobs" --target quorin_public_static >"$tmp/log" 2>&1; then
    tail -n 20 "$tmp/log"
    echo "$row (${args[*]}): the installed libquorin.a does not build"
    status=1
    continue
  fi
  global_names -g "$tree/public/libquorin.a" >"$tmp/static-names"
  global_names -D "$tree/libquorin.so.1" >"$tmp/shared-names"
  if ! diff "$tmp/shared-names" "$tmp/static-names" >"$tmp/diff"; then
    head -n 10 "$tmp/diff"
    echo "$row (${args[*]}): libquorin.a gives $(grep -c '^>' "$tmp/diff") global names" \
      "libquorin.so does not and lacks $(grep -c '^<' "$tmp/diff") it gives (first above)"
    status=1
  fi
done
exit $status
