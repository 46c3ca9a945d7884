#!/usr/bin/env bash
# Installs every Debian package Didira needs to build, run and test.
# Idempotent and non-interactive; run as root (or through sudo).
#   setup.sh [--bench] [--package]
#     --bench    adds the sound server and peer players of bench/
#     --package  adds what scripts/check-package.sh needs (a fresh Debian root)
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  # GUI toolkit and automation bus (gdbus: the shell client of the tests and docs)
  qt6-base-dev qt6-base-dev-tools libgl-dev dbus libglib2.0-bin
  libqt6sql6-sqlite # the song history's database
  # media engine
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly gstreamer1.0-libav gstreamer1.0-tools gstreamer1.0-pulseaudio
  glib-networking # TLS for the HTTP source
  # worksheet through ODBC
  unixodbc-dev odbcinst unixodbc
  # Japanese fonts for the dialog font
  fonts-ipafont-gothic fonts-ipafont-mincho
  # tests and the offline demo: headless X, local radio server and encoder
  xvfb xauth x11-utils xdotool imagemagick icecast2 ffmpeg googletest libgtest-dev curl procps
  # installation checks: menu entry and AppStream validators, the Debian package's tools
  desktop-file-utils appstream dpkg-dev file lintian binutils
  # the Japanese locale, so that tests also run with the engine's translated texts
  locales
  openssl # the https tests' own certificate authority
  python3-dbusmock # logind and NetworkManager stand-ins on a private system bus
  pulseaudio pulseaudio-utils # a private sound server that tests end, freeze and switch
  util-linux # unshare: the small disk that the full-disk tests mount in a namespace of their own
)

# Only for bench/: a private sound server with a null sink, and the peer players.
BENCH_PACKAGES=(mpv gstreamer1.0-plugins-base-apps)
# Only for scripts/check-package.sh: builds a fresh Debian root to install into.
PACKAGE_PACKAGES=(mmdebstrap)
for arg in "$@"; do
  case $arg in
  --bench) PACKAGES+=("${BENCH_PACKAGES[@]}") ;;
  --package) PACKAGES+=("${PACKAGE_PACKAGES[@]}") ;;
  *) echo "setup: unknown option $arg" >&2 && exit 2 ;;
  esac
done

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
else
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
  echo "setup: installed ${missing[*]}"
fi

if ! locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8'; then
  $SUDO sed -i 's/^# *\(ja_JP\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP\.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen
  echo "setup: generated the ja_JP.UTF-8 locale"
fi
