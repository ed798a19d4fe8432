#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need.
set -euo pipefail
packages=(cmake g++ make libboost-dev libboost-thread-dev libboost-chrono-dev libboost-date-time-dev
          libsvm-dev libsvm-tools libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
          clang libclang-rt-14-dev libcairo2-dev pkg-config liblo-dev liblo-tools linux-perf)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
