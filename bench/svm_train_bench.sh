#!/usr/bin/env bash
# SVMTrain (block harness, the block's own work) against svm-scale +
# svm-train processes on the same rows and parameters, side by side in one
# run of build/bench/svm_train_bench: the digits table and ten copies of it.
# Prints milliseconds per training (wall clock, mean of the iterations) and
# the ratio block / tools; the target is at most 1.05.
#
#   bench/svm_train_bench.sh [BUILD_DIR]    (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
"$build/bench/svm_train_bench" --benchmark_format=csv 2>/dev/null | awk -F, '
    /^"SVMTrainBlock\/|^"SvmScaleAndSvmTrain\// {
        split($1, name, "/"); gsub(/"/, "", name[1]);
        ms[name[1], name[2]] = $3; sizes[name[2]] = 1
    }
    END {
        printf "%-8s %10s %16s %12s %7s\n", "copies", "rows", "svm-scale+train", "SVMTrain", "ratio"
        for (c = 1; c <= 10; ++c) if (c in sizes)
            printf "%-8s %10d %13.1f ms %9.1f ms %7.2f\n", c, 1797 * c, ms["SvmScaleAndSvmTrain", c],
                   ms["SVMTrainBlock", c], ms["SVMTrainBlock", c] / ms["SvmScaleAndSvmTrain", c]
    }'
