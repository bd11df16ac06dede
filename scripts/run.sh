#!/usr/bin/env bash
# Installs what Quorvel needs, builds it, installs quorvel-capture as the one
# program with capture rights (runnable by the group quorvel, which the
# invoking user joins) and starts the monitor as that user, never as root.
# Run it as yourself (it asks sudo for the system steps) or through sudo.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
cd "$QUORVEL_ROOT"

user="${SUDO_USER:-$(id -un)}"
as_user=()
if [ "$(id -u)" -eq 0 ] && [ "$user" != root ]; then as_user=(runuser -u "$user" --); fi

quorvel_install_packages "${QUORVEL_BUILD_PACKAGES[@]}"
"${as_user[@]}" bash -c 'source scripts/lib/common.sh &&
  quorvel_configure build/release -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_TESTS=OFF &&
  cmake --build build/release -j "$(nproc)"'
quorvel_install_capture_helper build/release "$user"

if [ "$user" = root ]; then
  echo "Quorvel is installed. Start build/release/quorvel as a normal user of the group quorvel;" \
    "it must not run as root." >&2
  exit 1
fi
if [ ${#as_user[@]} -gt 0 ]; then
  # runuser gives the user the groups of the group file, quorvel among them.
  exec "${as_user[@]}" build/release/quorvel "$@"
fi
if id -Gn | tr ' ' '\n' | grep -qx quorvel; then
  exec build/release/quorvel "$@"
fi
# Joined just now: this session has not got the group yet; sg gives it
# without a new login.
exec sg quorvel -c "$(printf '%q ' "$QUORVEL_ROOT/build/release/quorvel" "$@")"
