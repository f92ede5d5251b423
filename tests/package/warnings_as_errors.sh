#!/usr/bin/env bash
# Warnings are errors in the project's own trees and not in a user's build: a configure as the
# README's install block makes compiles without -Werror; configure_tree (tools/common.sh, which
# tools/check, tools/run and tools/bench use) compiles with it, in a tree configured before
# (as that user build) and in a fresh one. Read from each tree's compile_commands.json.
# Usage: warnings_as_errors.sh
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
root=$tmp/checkout # laid out like the checkout, with no build/
mkdir "$root"
for entry in "$repo"/*; do
  [ "${entry##*/}" = build ] || ln -s "$entry" "$root/"
done
# shellcheck source=tools/common.sh
. "$repo/tools/common.sh"
status=0
werror() { # WHAT WANTED(yes|no): whether build/release compiles with -Werror
  local got=no
  grep -q -- '-Werror\b' "$root/build/release/compile_commands.json" && got=yes
  if [ "$got" != "$2" ]; then
    echo "$1: -Werror in its compile commands: $got, wanted $2"
    status=1
  fi
}
cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_CXX_COMPILER=g++ \
  -DCMAKE_BUILD_TYPE=Release -DQUORIN_TESTS=OFF >/dev/null
werror "the README's configure" no
configure_tree release
werror "configure_tree over a tree configured without it" yes
rm -rf "$root/build/release"
configure_tree release
werror "configure_tree's fresh tree" yes
exit $status
