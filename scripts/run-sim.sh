#!/usr/bin/env bash
# Installs what is missing, builds tessarod and runs it in the foreground on
# the simulated board, with its file system under ./sim-root. Ctrl-C stops it.
# Arguments are passed to the daemon (for example: --port 20002).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh run
cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTSD_TESTS=OFF -DTSD_BENCH=OFF
cmake --build build/run -j "${TSD_JOBS:-$(nproc)}" --target tessarod

root=$PWD/sim-root
mkdir -p "$root/usr/local/etc" "$root/var/run" "$root/var/log" "$root/var/monitoring" \
         "$root/dev/misc" "$root/usr/local/voice"
[ -f "$root/usr/local/etc/server.conf" ] || cat > "$root/usr/local/etc/server.conf" <<'CONF'
# tessarod configuration (the board's /usr/local/etc/server.conf)
[traces]
signalling.hdlc = false
signalling.vorkgw = false
monitoring.internal = false

# One section per SNMP agent to feed, for example:
# [snmpagent]
# host = 127.0.0.1
# name = ostr
CONF
# The watchdog device is a plain file here: START, PING..., STOP.
: > "$root/dev/misc/gw-wd"
echo "tessarod: root folder $root (status: kill -USR2, then $root/var/log/server-status)" >&2
export TESSAROD_ROOT=$root TESSAROD_BOARD=sim
exec build/run/tessarod "$@"
