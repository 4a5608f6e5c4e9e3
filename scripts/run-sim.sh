#!/usr/bin/env bash
# Installs what is missing, builds tessarod and runs it in the foreground on
# the simulated board, with its file system under ./sim-root. Ctrl-C stops it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh run
cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTSD_TESTS=OFF -DTSD_BENCH=OFF
cmake --build build/run -j "$(nproc)" --target tessarod

root=$PWD/sim-root
mkdir -p "$root/usr/local/etc" "$root/var/run" "$root/var/log" "$root/var/monitoring" \
         "$root/dev/misc" "$root/usr/local/voice"
[ -f "$root/usr/local/etc/server.conf" ] || cat > "$root/usr/local/etc/server.conf" <<'CONF'
[traces]
signalling.hdlc = false
signalling.vorkgw = false
monitoring.internal = false
CONF
: > "$root/dev/misc/gw-wd"
export TESSAROD_ROOT=$root TESSAROD_BOARD=sim
exec build/run/tessarod "$@"
