#!/usr/bin/env bash
# Tries the Debian package as a new user would: builds it, makes a fresh
# Debian root from the mirror and release this machine uses, installs the
# package there without and with recommends, starts it under Xvfb as the menu
# entry does, plays a local MP3 and an AAC stream (a local Icecast server)
# into a file sink instead of a sound card, removes the package, and reports
# each step. Run as root; needs the package mirror and a few minutes. Not part
# of the tests.
#   check-package.sh [BUILD_DIR | PACKAGE.deb]
#     BUILD_DIR (default build-package) is configured and built when needed;
#     a package already built is tried as it is.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$src/build-package}")
[ "$(id -u)" -eq 0 ] || { echo "check-package: run as root (it makes a chroot)" >&2; exit 2; }
bash "$src/scripts/setup.sh" --package >/dev/null

work=$(mktemp -d /var/tmp/didira-check.XXXXXX)
chmod 755 "$work" # Icecast runs as nobody and reads its web root below
mounts=() pids=() radio=""
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" 2>/dev/null || true; done
  [ -n "$radio" ] && bash "$src/scripts/local-radio.sh" stop "$radio" >/dev/null 2>&1 || true
  rm -rf --one-file-system "$work"
}
trap cleanup EXIT

failures=0 passed=0
log=$work/step.log
# step NAME COMMAND...: runs one step, prints its outcome, and goes on;
# passed tells whether it did.
step() {
  local name=$1
  shift
  if "$@" >"$log" 2>&1; then
    printf 'ok    %s\n' "$name"
    passed=1
  else
    printf 'FAIL  %s\n' "$name"
    sed 's/^/      | /' "$log" | tail -n 15
    failures=$((failures + 1))
    passed=0
  fi
}
note() { printf '      %s\n' "$*"; }

echo "== package"
build_package() {
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDIDIRA_TESTS=OFF ||
      return 1
  fi
  ninja -C "$build" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb"
}
if [[ $build == *.deb ]]; then
  mkdir "$work/deb" && cp "$build" "$work/deb/"
else
  step "build the package ($build)" build_package
  [ "$passed" = 1 ] || exit 1
fi
deb=$(ls "$work"/deb/*.deb)
note "$(basename "$deb"), Installed-Size $(dpkg-deb -f "$deb" Installed-Size) KiB"

echo "== fresh root"
# The machine's own sources: the same mirror, release and signing keys.
sources=()
[ -s /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list && sources+=(/etc/apt/sources.list)
for f in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] && sources+=("$f")
done
suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
step "mmdebstrap $suite (variant apt)" \
  mmdebstrap --variant=apt --aptopt='Acquire::Retries "3"' "$suite" "$work/base.tar" "${sources[@]}"
[ "$passed" = 1 ] || exit 1

echo "== local radio"
radio=$work/radio
port=$(bash "$src/scripts/local-radio.sh" start "$radio")
note "Icecast on 127.0.0.1:$port (/mp3, /aac)"

# One X server and one session bus on the host, reached from the roots through
# their sockets.
display=$((100 + RANDOM % 400))
Xvfb ":$display" -nolisten tcp -screen 0 1024x768x24 >"$work/xvfb.log" 2>&1 &
pids+=($!)
mkdir -p "$work/shared"
dbus-daemon --session --address="unix:path=$work/shared/bus" --nofork --nopidfile \
  >"$work/dbus.log" 2>&1 &
pids+=($!)
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/shared/bus
for _ in $(seq 100); do
  [ -S "/tmp/.X11-unix/X$display" ] && [ -S "$work/shared/bus" ] && break
  sleep 0.1
done

mpris() { # METHOD [ARG]: a call on the player's MPRIS object
  gdbus call --session --dest org.mpris.MediaPlayer2.didira --object-path /org/mpris/MediaPlayer2 \
    --method "org.mpris.MediaPlayer2.$1" "${@:2}"
}
wait_for() { # SECONDS COMMAND...: true once COMMAND succeeds
  local deadline=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.5
  done
}
# True once the player's window is up. A message box of the catalogue load
# (captioned with the program's name; the dialog is titled Didira) is
# answered with Return, as a listener would.
player_up() {
  gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.NameHasOwner org.mpris.MediaPlayer2.didira | grep -q true && return
  local box
  for box in $(DISPLAY=:$display xdotool search --name '^Vavaroz$' 2>/dev/null); do
    DISPLAY=:$display xdotool windowfocus --sync "$box" key Return >/dev/null 2>&1 || true
  done
  return 1
}
# At least two seconds of decoded audio in the sink's file.
file_grew() { [ "$(stat -c %s "$1" 2>/dev/null || echo 0)" -gt 400000 ]; }

# in_root ROOT COMMAND...: a command in the root, with a clean environment.
clean_env=(/usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8)
in_root() { chroot "$1" "${clean_env[@]}" "${@:2}"; }

# play ROOT STREAM: starts the menu entry's command from the home folder,
# opens the stream over MPRIS, waits for audio in the file sink, quits.
play() {
  local root=$1 stream=$2 out=/run/didira-check/$2.raw pid
  local exec
  exec=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/org.didira.Didira.desktop")
  chroot "$root" "${clean_env[@]}" DISPLAY=":$display" \
    DBUS_SESSION_BUS_ADDRESS=unix:path=/run/didira-check/bus \
    DIDIRA_AUDIO_SINK="filesink location=$out sync=true" sh -c "cd /root && exec $exec" \
    >"$work/player-$stream.log" 2>&1 &
  pid=$!
  pids+=("$pid")
  local ok=0
  if wait_for 60 player_up && mpris Player.OpenUri "http://127.0.0.1:$port/$stream" &&
    wait_for 45 file_grew "$root$out"; then
    ok=1
  fi
  mpris Quit >/dev/null 2>&1 || true
  wait_for 20 sh -c "! kill -0 $pid" || kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  [ "$ok" = 1 ] || { cat "$work/player-$stream.log"; return 1; }
}

check_root() { # NAME [APT-OPTION]
  local name=$1 root=$work/$1
  shift
  echo "== $name"
  mkdir "$root"
  tar -C "$root" -xf "$work/base.tar"
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  mount -t proc proc "$root/proc" && mounts+=("$root/proc")
  mkdir -p "$root/tmp/.X11-unix" "$root/run/didira-check"
  mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix" && mounts+=("$root/tmp/.X11-unix")
  mount --bind "$work/shared" "$root/run/didira-check" && mounts+=("$root/run/didira-check")
  cp "$deb" "$root/tmp/"

  local before after
  before=$(in_root "$root" dpkg-query -W | wc -l)
  step "apt-get install ${*:-(recommends too)}" in_root "$root" sh -c \
    "apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q $* /tmp/$(basename "$deb")"
  [ "$passed" = 1 ] || return 0
  after=$(in_root "$root" dpkg-query -W | wc -l)
  note "$((after - before)) packages installed"

  step "--version and --help without a display" in_root "$root" sh -c \
    'didira --version && didira --help | grep -q "^Usage:" && Vavaroz --version'
  step "manual page didira(1) and Vavaroz(1)" test -f "$root/usr/share/man/man1/didira.1.gz" -a \
    -L "$root/usr/share/man/man1/Vavaroz.1.gz"
  step "a Japanese font" sh -c "chroot '$root' fc-list :lang=ja family | grep ."
  step "https: trust store and TLS module" test -s "$root/etc/ssl/certs/ca-certificates.crt" -a \
    -n "$(ls "$root"/usr/lib/*/gio/modules/libgiognutls.so 2>/dev/null)"
  step "a sound output" sh -c "chroot '$root' dpkg-query -W -f '\${Package} \${Status}\n' \
    gstreamer1.0-pulseaudio gstreamer1.0-pipewire gstreamer1.0-alsa 2>/dev/null | grep 'ok installed'"

  step "MP3 plays (started as the menu does, from the home folder)" play "$root" mp3
  step "menu start made the data folder, left the home folder alone" sh -c \
    "test -d '$root/root/.local/share/didira' && ! ls '$root'/root/radioname.csv* 2>/dev/null"
  # The second start reads a catalogue from the data folder.
  mkdir -p "$root/root/.local/share/didira"
  printf '0,Local MP3,http://127.0.0.1:%s/mp3\r\n1,Local AAC,http://127.0.0.1:%s/aac\r\n' \
    "$port" "$port" >"$root/root/.local/share/didira/radioname.csv"
  if [ "$name" = without-recommends ]; then
    if play "$root" aac >"$log" 2>&1; then
      note "AAC plays without the recommended decoders"
    else
      note "AAC does not play: its decoders are recommended, not depended on (expected here)"
    fi
  else
    step "AAC plays" play "$root" aac
  fi
  step "catalogue read from the data folder (its backup written there)" \
    test -f "$root/root/.local/share/didira/radioname.csv.bak"

  step "apt remove" in_root "$root" sh -c \
    'apt-get remove -y -q didira && ! test -e /usr/bin/Vavaroz && ! dpkg-query -W -f "\${Status}" didira | grep -q installed'
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" 2>/dev/null || true; done
  mounts=()
  rm -rf --one-file-system "$root"
}

check_root without-recommends --no-install-recommends
check_root with-recommends

echo
if [ "$failures" -eq 0 ]; then
  echo "check-package: all steps passed"
else
  echo "check-package: $failures step(s) failed"
  exit 1
fi
