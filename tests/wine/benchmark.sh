# Wall time of the tool against an empty console program under Wine, with the wineserver
# already running: benchmark.sh TOOL EMPTY_PROGRAM [RUNS]. Prints the median of each and the
# tool's excess over the empty program. Runs in a throwaway prefix of its own.
set -euo pipefail
tool=$1 empty=$2 runs=${3:-30}

export WINEDEBUG=-all WINEPREFIX
WINEPREFIX=$(mktemp -d)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
wineserver -p
WINEDLLOVERRIDES='mscoree,mshtml=' wineboot -i 2>/dev/null
work=$(mktemp -d -p "$WINEPREFIX")

# Median wall time of RUNS runs, in microseconds; the first run (cold caches) is left out.
median_us() {
  local start end i
  "$@" >/dev/null 2>&1 || true
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    "$@" >"$work/out" 2>&1 || true
    end=$(date +%s%N)
    echo $(((end - start) / 1000))
  done | sort -n | awk '{ t[NR] = $1 } END { print (NR % 2) ? t[(NR + 1) / 2] : int((t[NR / 2] + t[NR / 2 + 1]) / 2) }'
}

# Alternate the two so that drifting machine load falls on both alike.
tool_total=0 empty_total=0
for round in 1 2 3; do
  empty_us=$(median_us wine "$empty")
  tool_us=$(median_us wine "$tool")
  echo "round $round: empty program ${empty_us} us, tool ${tool_us} us (median of $runs)"
  empty_total=$((empty_total + empty_us))
  tool_total=$((tool_total + tool_us))
done
awk -v t="$tool_total" -v e="$empty_total" \
  'BEGIN { printf "tool / empty program: %.3f (%+.1f%%; goal at most +10%%)\n", t / e, (t / e - 1) * 100 }'
