#!/usr/bin/env bash
# Writes docs/screenshot.png: the program monitoring a test network namespace
# while another one sends it real traffic, so the picture shows rows, the
# history strip and both pies. Needs root (network namespaces) and Xvfb.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
cd "$QUORVEL_ROOT"

quorvel_install_packages "${QUORVEL_BUILD_PACKAGES[@]}" "${QUORVEL_TEST_PACKAGES[@]}"
quorvel_configure build/screenshot -DCMAKE_BUILD_TYPE=Release
cmake --build build/screenshot -j "$(nproc)" --target quorvel traffic_peer persistence_ui_tests \
  spy_ui_tests

source tests/support/netns.sh
source tests/app/app_session.sh
work="$(mktemp -d)"
netns_setup
trap 'netns_cleanup; rm -rf "$work"' EXIT
app_session build/screenshot/quorvel build/screenshot/tests/traffic_peer "$work" 40 30
cp "$work/window.png" docs/screenshot.png
echo "wrote docs/screenshot.png ($(wc -l <"$work/rows.txt") rows)"

# One picture per dialog, drawn offscreen.
export TZ=UTC QT_QPA_PLATFORM=offscreen
QUORVEL_DIALOG_SCREENSHOTS="$QUORVEL_ROOT/docs" build/screenshot/tests/persistence_ui_tests \
  --gtest_filter='DialogScreenshots.*' >/dev/null
QUORVEL_SCREENSHOT_DIR="$QUORVEL_ROOT/docs" build/screenshot/tests/spy_ui_tests \
  --gtest_filter=TrafficSpyDialogTest.Screenshot >/dev/null
echo "wrote docs/dialog-*.png"
