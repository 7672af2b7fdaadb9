# Shared set-up for scripts/render and scripts/test: installs missing Debian
# packages, configures and builds. Source it; don't run it.

VELTRIX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VELTRIX_JOBS=${VELTRIX_JOBS:-2}

# ensure_packages PKG...: installs the Debian packages that are missing.
ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Install them with:  sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing ${missing[*]} ..." >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" >/dev/null 2>&1 || {
    DEBIAN_FRONTEND=noninteractive apt-get update -q >/dev/null &&
      DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" >/dev/null
  } || { echo "apt-get could not install: ${missing[*]}" >&2; exit 1; }
}

VELTRIX_BASE_PACKAGES=(cmake g++ make binutils libgtest-dev libbenchmark-dev nlohmann-json3-dev
  libcli11-dev libopenimageio-dev libstb-dev)

# build_tree DIR [cmake args...]: configures (once) and builds DIR.
build_tree() {
  local dir="$1"; shift
  cmake -S "$VELTRIX_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null ||
    { echo "cmake configuration failed" >&2; exit 1; }
  cmake --build "$dir" -j "$VELTRIX_JOBS" ||
    { echo "build failed" >&2; exit 1; }
}

# build_targets DIR TARGET...: configures DIR (as build_tree does, no extra
# arguments) and builds only the named targets.
build_targets() {
  local dir="$1"; shift
  cmake -S "$VELTRIX_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null ||
    { echo "cmake configuration failed" >&2; exit 1; }
  cmake --build "$dir" -j "$VELTRIX_JOBS" --target "$@" ||
    { echo "build failed" >&2; exit 1; }
}
