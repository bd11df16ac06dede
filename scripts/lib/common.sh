# Shared by the scripts: the Debian packages and the build steps.
# shellcheck shell=bash

QUORVEL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

QUORVEL_BUILD_PACKAGES=(
  build-essential cmake ninja-build pkg-config libpcap-dev libcap-dev libcap2-bin libssl-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  clang libbpf-dev bpftool
)
QUORVEL_TEST_PACKAGES=(
  libgtest-dev libgmock-dev iproute2 iputils-ping tshark tcpdump dnsmasq-base openssl
  xvfb xauth x11-utils
  python3 curl nfdump prometheus
)
QUORVEL_BENCH_PACKAGES=(libbenchmark-dev tcpreplay tcpdump iproute2 time python3 curl nethogs)
QUORVEL_FUZZ_PACKAGES=(clang libclang-rt-14-dev)

# Installs the given packages with apt-get when any of them is missing.
quorvel_install_packages() {
  local missing=()
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  # tshark asks whether non-root users may capture; answer for it.
  echo "wireshark-common wireshark-common/install-setuid boolean false" |
    "${sudo[@]}" debconf-set-selections 2>/dev/null || true
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# quorvel_configure BUILD_DIR [cmake options...]
quorvel_configure() {
  local dir="$1"
  shift
  cmake -S "$QUORVEL_ROOT" -B "$QUORVEL_ROOT/$dir" -G Ninja "$@" >/dev/null
}

# quorvel_install_capture_helper BUILD_DIR USER: the group quorvel with USER
# in it; quorvel-capture owned by root and the group, mode 0750, with the
# capabilities it needs; none on quorvel and quorvel-flows, which start it.
quorvel_install_capture_helper() {
  local dir="$1" user="$2"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  getent group quorvel >/dev/null || "${sudo[@]}" groupadd --system quorvel
  [ "$user" = root ] || "${sudo[@]}" usermod -aG quorvel "$user"
  "${sudo[@]}" chown root:quorvel "$dir/quorvel-capture"
  "${sudo[@]}" chmod 0750 "$dir/quorvel-capture"
  "${sudo[@]}" setcap cap_net_raw,cap_net_admin,cap_dac_read_search,cap_sys_ptrace,cap_bpf,cap_perfmon+ep "$dir/quorvel-capture"
  local program
  for program in "$dir/quorvel" "$dir/quorvel-flows"; do
    if [ -f "$program" ] && [ -n "$(getcap "$program")" ]; then "${sudo[@]}" setcap -r "$program"; fi
  done
}
