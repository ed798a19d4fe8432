#!/usr/bin/env bash
# SVM Predict inside mrv-run against libsvm's svm-predict, side by side on
# the digits table (1797 x 64) and on ten copies of it: C-SVC, RBF kernel,
# rows scaled onto [-1, 1] by svm-scale, one model trained by svm-train with
# probability estimates. Both sides read the same scaled rows and write their
# predictions (and probabilities) to a file; each figure is rows per CPU
# second of the whole process, the best of REPEATS runs.
#
#   bench/svm_predict_bench.sh [BUILD_DIR]    (default: build; REPEATS=3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
repeats=${REPEATS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run_patch() { "$build/bin/mrv-run" --quiet "$1" >/dev/null 2>&1; }

# The digits as libsvm rows, exported by LibSVMSave.
mkdir -p "$work/data"
cp "$root/examples/data/digits.csv" "$work/data/"
cat > "$work/export.json" <<JSON
{"plugins": ["libMrvML.so"],
 "blocks": [{"name": "rows", "class": "host.csv_source", "parameters": {"File": "data/digits.csv", "Columns": "64,0-63", "Mode": "all"}},
            {"name": "export", "class": "LibSVMSave", "parameters": {"FileName": "$work/digits.libsvm"}}],
 "links": [{"from": "rows.Output", "to": "export.InputMatrix"}],
 "run": {"until": "exhausted"}}
JSON
run_patch "$work/export.json"
svm-scale -l -1 -u 1 -s "$work/ranges" "$work/digits.libsvm" > "$work/x1.libsvm" 2>/dev/null
svm-train -q -s 0 -t 2 -b 1 "$work/x1.libsvm" "$work/model"
for _ in $(seq 10); do cat "$work/x1.libsvm"; done > "$work/x10.libsvm"

# The same scaled rows as a dense table for mrv-run.
for copies in x1 x10; do
    awk '{ for (j = 1; j <= 64; ++j) v[j] = 0;
           for (f = 2; f <= NF; ++f) { split($f, p, ":"); v[p[1]] = p[2] }
           line = v[1]; for (j = 2; j <= 64; ++j) line = line "," v[j]; print line }' \
        "$work/$copies.libsvm" > "$work/data/$copies.csv"
done

write_predict_patch() {  # copies probabilities
    local sinks='{"name": "labels", "class": "host.csv_sink", "datatype": "double-matrix", "parameters": {"File": "labels.csv"}}'
    local links='{"from": "rows.Output", "to": "svm.InputMatrix"}, {"from": "svm.OutputVector", "to": "labels.Input"}'
    if [ "$2" = true ]; then
        sinks="$sinks"', {"name": "probabilities", "class": "host.csv_sink", "datatype": "double-matrix", "parameters": {"File": "probabilities.csv"}}'
        links="$links"', {"from": "svm.ProbVector", "to": "probabilities.Input"}'
    fi
    cat > "$work/predict-$1-$2.json" <<JSON
{"plugins": ["libMrvML.so"],
 "blocks": [{"name": "rows", "class": "host.csv_source", "parameters": {"File": "data/$1.csv", "Mode": "all"}},
            {"name": "svm", "class": "SVM", "parameters": {"ModelFileName": "$work/model", "Probabilities": $2}},
            $sinks],
 "links": [$links],
 "run": {"until": "exhausted"}}
JSON
}

# CPU seconds (user + system) of the best of REPEATS runs: on a machine
# shared with other work, CPU time varies far less than wall time.
best_seconds() {  # command...
    local best="" took
    for _ in $(seq "$repeats"); do
        took=$( { TIMEFORMAT='%3U %3S'; time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ print $1 + $2 }')
        best=$(awk -v a="$best" -v b="$took" 'BEGIN { print (a == "" || b < a) ? b : a }')
    done
    echo "$best"
}

printf '%-6s %-13s %8s %14s %14s %7s\n' rows probabilities count "svm-predict/s" "mrv-run/s" ratio
for copies in x1 x10; do
    count=$(wc -l < "$work/$copies.libsvm")
    for probabilities in false true; do
        write_predict_patch "$copies" "$probabilities"
        flag=""
        [ "$probabilities" = true ] && flag="-b 1"
        # shellcheck disable=SC2086
        reference=$(best_seconds svm-predict -q $flag "$work/$copies.libsvm" "$work/model" "$work/out.txt")
        ours=$(best_seconds run_patch "$work/predict-$copies-$probabilities.json")
        awk -v c="$count" -v r="$reference" -v o="$ours" -v n="$copies" -v p="$probabilities" 'BEGIN {
            printf "%-6s %-13s %8d %14.0f %14.0f %6.2fx\n", n, p, c, c / r, c / o, r / o }'
    done
done
