#!/usr/bin/env bash
# Installs what Quorvel needs, builds it, grants the capture rights and starts
# the monitor.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
cd "$QUORVEL_ROOT"

quorvel_install_packages "${QUORVEL_BUILD_PACKAGES[@]}"
quorvel_configure build/release -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_TESTS=OFF
cmake --build build/release -j "$(nproc)"
quorvel_grant_capture_rights build/release/quorvel-flows build/release/quorvel

exec build/release/quorvel "$@"
