#!/usr/bin/env bash
# Sets up, builds and starts Didira in the current directory (where it looks
# for radioname.csv). Extra arguments go to the player.
set -euo pipefail
here=$(pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDIDIRA_TESTS=OFF >/dev/null
ninja -C "$root/build" Vavaroz
cd "$here"
exec "$root/build/Vavaroz" "$@"
