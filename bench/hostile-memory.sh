#!/usr/bin/env bash
# Resident memory of the real player control fed a hostile ICY station (a
# new 4000-byte title in every metadata block) beside a normal one, side by
# side for SECONDS, on stations of our own (tests/support/StreamTestServer).
#   bench/hostile-memory.sh [SECONDS=600]
# Output: a Markdown table on standard output (copy it into bench/README.md).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
build=${DIDIRA_BUILD_DIR:-$root/build}

. "$root/bench/build.sh"
build_bench "$root" "$build" didira_title_bench

work=$(mktemp -d /tmp/didira-hostile.XXXXXX)
trap 'rm -rf "$work"' EXIT
ffmpeg -nostdin -loglevel error -f lavfi -i sine=frequency=440:duration=4 -c:a libmp3lame \
    -b:a 128k -write_xing 0 -id3v2_version 0 -f mp3 "$work/loop.mp3"

export DIDIRA_AUDIO_SINK="fakesink sync=true" QT_QPA_PLATFORM=offscreen
export XDG_CACHE_HOME="$work/cache"
# label metaint title-bytes: the three run at once.
kinds=("normal 16000 0" "hostile-16 16 4000" "hostile-1024 1024 4000")
for kind in "${kinds[@]}"; do
    read -r label metaint bytes <<<"$kind"
    "$build/bench/didira_title_bench" memory "$work/loop.mp3" "$seconds" "$metaint" "$bytes" \
        >"$work/$label.out" 2>"$work/$label.err" &
done
wait
rss() { grep -o "rss-kib=$2 [0-9]*" "$work/$1.out" | cut -d' ' -f2; }
echo "| station | icy-metaint | RSS at 30 s (KiB) | RSS at ${seconds} s (KiB) | growth (KiB) | vs normal at ${seconds} s (KiB) |"
echo "|---|---|---|---|---|---|"
normal=$(rss normal "$seconds")
for kind in "${kinds[@]}"; do
    read -r label metaint bytes <<<"$kind"
    first=$(rss "$label" 30)
    last=$(rss "$label" "$seconds")
    echo "| $label | $metaint | $first | $last | $((last - first)) | $((last - normal)) |"
done
