# Sourced by the benchmark scripts that time whole commands: wall-clock readings and the median
# and fastest of a column of times.
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.4f\n", b - a }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
fastest() { sort -g | head -n 1; }

# The merges of a list file in the current directory into out-quillet.laz, against cat of the
# listed files (grid_merge_vs_cat.sh, schema_merge_vs_cat.sh; $quillet names the program).
# Before each timed command: the outputs of earlier ones removed and on disk. The root file
# system here is mounted with `discard`, whose trims of a removed file run after the commit that
# sync waits for, so the wait after it covers them too.
settle() {
    rm -f out-*
    sync
    sleep 3
    sync
}
time_cat() {  # LIST TIMES
    settle
    local start
    start=$(now)
    /usr/bin/time -f %M -o cat-rss.txt cat $(cat "$1") >out-cat.laz
    elapsed "$start" >>"$2"
}
time_quillet() {  # LIST TIMES RSS [OPTION]
    settle
    local start
    start=$(now)
    /usr/bin/time -f %M -o rss.txt "$quillet" --extended ${4:+"$4"} "$1" out-quillet.laz >quillet.log
    elapsed "$start" >>"$2"
    cat rss.txt >>"$3"
}
