#!/usr/bin/env bash
# The samples of a soak (bench/soak.sh's samples.csv) as a Markdown table:
# one row per sample, RSS (MiB), threads and descriptors of each process.
#   bench/soak-table.sh SAMPLES_CSV
set -euo pipefail
awk -F, '
    NR == 1 { next }
    {
        if (!($3 in seen)) { order[++np] = $3; seen[$3] = 1 }
        if (!($1 in row)) { times[++nt] = $1; row[$1] = $2 }
        v = $5 < 0 ? "-" : sprintf("%.1f | %d | %d", $5 / 1024, $6, $7)
        cell[$1, $3] = v
    }
    END {
        h = "| minute |"; s = "|---|"
        for (i = 1; i <= np; i++) { h = h " " order[i] " RSS | thr | fds |"; s = s "---|---|---|" }
        print h; print s
        for (j = 1; j <= nt; j++) {
            t = times[j]; line = "| " row[t] " |"
            for (i = 1; i <= np; i++) {
                c = cell[t, order[i]]
                line = line " " (c == "" || c == "-" ? "- | - | -" : c) " |"
            }
            print line
        }
    }' "$1"
