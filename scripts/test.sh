#!/usr/bin/env bash
# Installs what the build and tests need, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs every test; the threaded engine tests
# run again under ThreadSanitizer.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
cd "$QUORVEL_ROOT"

quorvel_install_packages "${QUORVEL_BUILD_PACKAGES[@]}" "${QUORVEL_TEST_PACKAGES[@]}"

jobs="$(nproc)"
quorvel_configure build/asan -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_WERROR=ON \
  -DQUORVEL_SANITIZE=address,undefined
cmake --build build/asan -j "$jobs"

quorvel_configure build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_WERROR=ON \
  -DQUORVEL_SANITIZE=thread -DQUORVEL_BUILD_APP=OFF -DQUORVEL_THREADED_TESTS_ONLY=ON
cmake --build build/tsan -j "$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
export QT_QPA_PLATFORM=offscreen

status=0
echo "== ThreadSanitizer: threaded tests"
# Newer kernels randomise mmap more than older TSan runtimes accept.
(cd build/tsan && setarch "$(uname -m)" -R ctest --output-on-failure -L threaded) || status=1
echo "== AddressSanitizer and UndefinedBehaviorSanitizer: all tests"
(cd build/asan && ctest --output-on-failure -j "$jobs") || status=1
exit "$status"
