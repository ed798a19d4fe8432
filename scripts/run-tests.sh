#!/usr/bin/env bash
# Installs what is needed, builds everything and runs the whole test suite.
# MRV_PRESET=asan or MRV_PRESET=tsan runs it on a sanitizer build instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
preset=${MRV_PRESET:-default}
cmake --preset "$preset" >/dev/null
case "$preset" in
    default) build_dir=build ;;
    *) build_dir=build-$preset ;;
esac
cmake --build "$build_dir" -j"$(nproc)"
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)"
