#!/usr/bin/env bash
# host.csv_source and host.csv_sink on a table of 1,000,000 rows x 3 columns
# (21 MB), two builds side by side: rows one per tick through a
# VectorRescaler into a CSV sink, and windows of 1000 rows straight into a
# CSV sink. Runs alternate between the builds, REPEATS times each; every run
# prints its wall time, CPU time (user + system) and peak resident memory
# (/usr/bin/time), the summary the best of each, and the outputs of the two
# builds must be the same bytes. On a shared machine CPU time varies less
# than wall time.
#
#   bench/csv_stream_bench.sh BEFORE_BUILD AFTER_BUILD    (REPEATS=3)
#
# Each build directory needs bin/mrv-run and lib/libMrvML.so.
set -euo pipefail
if [ $# -ne 2 ]; then
    echo "usage: $0 BEFORE_BUILD AFTER_BUILD" >&2
    exit 2
fi
before=$(cd "$1" && pwd)
after=$(cd "$2" && pwd)
repeats=${REPEATS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The same table on every machine: a Park-Miller generator, whose products
# stay exact in awk's doubles.
awk 'BEGIN { x = 1
             for (i = 0; i < 1000000; ++i) {
                 x = (x * 16807) % 2147483647; a = x / 2147483647 * 10 - 5
                 x = (x * 16807) % 2147483647; b = x / 2147483647 * 1000
                 x = (x * 16807) % 2147483647; c = x % 100
                 printf "%.6f,%.4f,%d\n", a, b, c } }' > "$work/table.csv"

for side in before after; do
    mkdir -p "$work/$side"
    cat > "$work/$side/row.json" <<JSON
{"plugins": ["libMrvML.so"],
 "blocks": [{"name": "rows", "class": "host.csv_source", "parameters": {"File": "../table.csv", "Mode": "row"}},
            {"name": "ranges", "class": "host.constant", "datatype": "double-matrix",
             "parameters": {"Value": [[-5, 5], [0, 1000], [0, 100]]}},
            {"name": "rescale", "class": "VectorRescaler", "parameters": {"OutputLowBound": -1.0, "OutputHighBound": 1.0}},
            {"name": "out", "class": "host.csv_sink", "datatype": "double-matrix", "parameters": {"File": "row.csv"}}],
 "links": [{"from": "rows.Output", "to": "rescale.InputVector"},
           {"from": "ranges.Output", "to": "rescale.InputRanges"},
           {"from": "rescale.OutputVector", "to": "out.Input"}],
 "run": {"until": "exhausted"}}
JSON
    cat > "$work/$side/window.json" <<JSON
{"blocks": [{"name": "rows", "class": "host.csv_source",
             "parameters": {"File": "../table.csv", "Mode": "window", "Window": 1000}},
            {"name": "out", "class": "host.csv_sink", "datatype": "double-matrix", "parameters": {"File": "window.csv"}}],
 "links": [{"from": "rows.Output", "to": "out.Input"}],
 "run": {"until": "exhausted"}}
JSON
done

# One run: its wall seconds, CPU seconds and peak resident kilobytes.
run() {  # side patch
    local build=$before
    [ "$1" = after ] && build=$after
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$build/bin/mrv-run" --quiet "$work/$1/$2.json" >/dev/null 2>"$work/err" ||
        { cat "$work/err" >&2; exit 1; }
    awk '{ print $1, $2 + $3, $4 }' "$work/time"
}

echo "1,000,000 rows x 3 columns; $repeats runs of each build, alternating"
printf '%-8s %-7s %9s %9s %12s\n' patch build "wall s" "CPU s" "peak RSS MB"
for patch in row window; do
    declare -A best=() cpu=() peak=()
    for _ in $(seq "$repeats"); do
        for side in before after; do
            read -r wall seconds rss < <(run "$side" "$patch")
            printf '%-8s %-7s %9.2f %9.2f %12.1f\n' "$patch" "$side" "$wall" "$seconds" "$(echo "$rss / 1024" | bc -l)"
            if [ -z "${best[$side]:-}" ] || [ "$(echo "$wall < ${best[$side]}" | bc)" = 1 ]; then best[$side]=$wall; fi
            if [ -z "${cpu[$side]:-}" ] || [ "$(echo "$seconds < ${cpu[$side]}" | bc)" = 1 ]; then cpu[$side]=$seconds; fi
            if [ -z "${peak[$side]:-}" ] || [ "$rss" -gt "${peak[$side]}" ]; then peak[$side]=$rss; fi
        done
    done
    if cmp -s "$work/before/$patch.csv" "$work/after/$patch.csv"; then same="identical output"; else same="OUTPUTS DIFFER"; fi
    printf '%-8s best wall %.2f s -> %.2f s (%.1fx), CPU %.2f s -> %.2f s (%.1fx), peak RSS %.1f MB -> %.1f MB, %s\n' \
        "$patch" "${best[before]}" "${best[after]}" "$(echo "${best[before]} / ${best[after]}" | bc -l)" \
        "${cpu[before]}" "${cpu[after]}" "$(echo "${cpu[before]} / ${cpu[after]}" | bc -l)" \
        "$(echo "${peak[before]} / 1024" | bc -l)" "$(echo "${peak[after]} / 1024" | bc -l)" "$same"
    [ "$same" = "identical output" ] || exit 1
    unset best cpu peak
done
