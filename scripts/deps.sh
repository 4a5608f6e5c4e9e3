#!/usr/bin/env bash
# Installs what building, running and testing tessarod needs on Debian 12.
# Usage: scripts/deps.sh [run|test]
set -euo pipefail
what=${1:-test}
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi

pkgs=(cmake ninja-build g++ pkg-config python3 libgtest-dev libgmock-dev libbenchmark-dev
      libboost-dev libloki-dev)
if [ "$what" = test ]; then
  pkgs+=(clang libclang-rt-14-dev erlang-base erlang-asn1 tshark socat iproute2 procps stress-ng multimon-ng snmptrapd libmodbus-dev libpri-dev)
fi

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi
