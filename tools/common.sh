# shellcheck shell=bash disable=SC2154 # $root is set by the sourcing script
# Sourced by tools/check, tools/run and tools/bench: the one way each build tree is configured,
# and how many jobs they run. Expects $root (the repository) to be set.

# How many jobs to build and test with: QUORIN_JOBS when set (small machines), else $1.
quorin_jobs() {
  local jobs=${QUORIN_JOBS:-$1}
  if ! [[ $jobs =~ ^[1-9][0-9]*$ ]]; then
    echo "QUORIN_JOBS must be a positive whole number, not '$jobs'" >&2
    return 1
  fi
  echo "$jobs"
}

# configure_tree NAME: configures build/NAME (release, asan or bench) with its fixed compiler and
# options when it has no build files yet, whichever tool comes first. A tree configured with
# another compiler is refused rather than built with it. Every tree turns warnings into errors
# (QUORIN_WERROR, off in a user's build), a tree configured before that option too.
configure_tree() {
  local name=$1 dir="$root/build/$1" cxx args
  case $name in
    release) cxx=g++ args=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=gcc) ;;
    asan) cxx=clang++ args=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-O1 -DCMAKE_C_FLAGS=-O1
            -DCMAKE_C_COMPILER=clang -DQUORIN_SANITIZE=ON -DQUORIN_FUZZ=ON) ;;
    bench) cxx=g++ args=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=gcc -DQUORIN_BENCH=ON
             -DQUORIN_TESTS=OFF) ;;
    *) echo "configure_tree: no tree named '$name'" >&2; return 1 ;;
  esac
  if [ -f "$dir/build.ninja" ]; then
    local cached
    cached=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$dir/CMakeCache.txt" 2>/dev/null)
    if [ -n "$cached" ] && [ "$(readlink -f "$(command -v "$cached")")" != \
                             "$(readlink -f "$(command -v "$cxx")")" ]; then
      echo "build/$name was configured with $cached, not $cxx: remove build/$name" >&2
      return 1
    fi
    grep -qx 'QUORIN_WERROR:BOOL=ON' "$dir/CMakeCache.txt" || cmake -DQUORIN_WERROR=ON "$dir" >/dev/null
    return
  fi
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" -DQUORIN_WERROR=ON "${args[@]}" \
    >/dev/null
}
