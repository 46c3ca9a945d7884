#!/usr/bin/env bash
# The offline demo: a local radio on 127.0.0.1 (Icecast fed by ffmpeg, three
# stations reached through an .asx, a .pls and an .m3u), a radioname.csv for
# them in a working directory, and Didira started there. Everything started
# here is stopped when Didira ends.
#   DEMO_DIR=dir   working directory to use (default: a new temporary one)
#   DEMO_PORT=n    port of the local server (default: a free one)
#   DIDIRA_BUILD_DIR=dir  build directory (default: build, configured as scripts/run.sh does)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DIDIRA_BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh"
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDIDIRA_TESTS=OFF >/dev/null
fi
ninja -C "$build" Vavaroz

work=${DEMO_DIR:-$(mktemp -d /tmp/didira-demo.XXXXXX)}
mkdir -p "$work"
chmod 755 "$work" # the local server reads its files as user nobody
radio="$work/radio"
cleanup() { bash "$root/scripts/local-radio.sh" stop "$radio" || true; }
trap cleanup EXIT INT TERM

echo "demo: starting the local radio in $radio"
port=$(bash "$root/scripts/local-radio.sh" start "$radio" "${DEMO_PORT:-}" | tail -n 1)
base="http://127.0.0.1:$port"

# ASCII only, so the file reads the same as code page 932 and as UTF-8.
cat >"$work/radioname.csv" <<CSV
0,Local MP3 128k (ASX),$base/station-mp3.asx
1,Local Ogg Opus (PLS),$base/station-ogg.pls
2,Local AAC (M3U),$base/station-aac.m3u
3,Local MP3 direct,$base/mp3
CSV
echo "demo: stations in $work/radioname.csv"
cd "$work"
set +e
"$build/Vavaroz" "$@"
rc=$?
set -e
exit $rc
