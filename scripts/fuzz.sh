#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, then runs each for SECONDS (default 60).
# New inputs that find new code paths are kept in build/fuzz/corpus/<target>.
# Usage: scripts/fuzz.sh [SECONDS [TARGET...]]  (all targets when none is named)
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
cd "$QUORVEL_ROOT"

seconds="${1:-60}"
shift || true
wanted=("$@")

# The fuzz build needs neither Qt nor the test tools.
packages=()
for package in "${QUORVEL_BUILD_PACKAGES[@]}"; do
  case "$package" in
    qt6-* | libgl-dev) ;;
    *) packages+=("$package") ;;
  esac
done
quorvel_install_packages "${packages[@]}" "${QUORVEL_FUZZ_PACKAGES[@]}"

CXX=clang++ quorvel_configure build/fuzz -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_SANITIZE=address,undefined \
  -DQUORVEL_BUILD_FUZZ=ON -DQUORVEL_BUILD_APP=OFF -DQUORVEL_BUILD_TESTS=OFF
cmake --build build/fuzz -j2 --target fuzz_targets

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

status=0
for program in build/fuzz/fuzz/*_fuzz; do
  [ -x "$program" ] || continue
  name="$(basename "$program")"
  if [ ${#wanted[@]} -gt 0 ] && [[ ! " ${wanted[*]} " == *" $name "* ]]; then continue; fi
  corpus="build/fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  echo "== $name: ${seconds} s"
  if ! "$program" -max_total_time="$seconds" -max_len=8192 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="build/fuzz/$name-" "$corpus" "${seeds[@]}"; then
    echo "== $name FAILED: see build/fuzz/$name-*"
    status=1
  fi
done
exit "$status"
