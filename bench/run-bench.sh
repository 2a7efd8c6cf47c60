#!/usr/bin/env bash
# Times emlx2mbox against `cat` of the same .emlx files into one file on the same file system,
# both with a warm cache, best of 3 each, in one run; prints the ratio and emlx2mbox's peak
# memory against 3 x the largest message + 30 MB.
#
#   bench/run-bench.sh [--messages N] [EMLX2MBOX]
#
# The tree is generated under bench/out/tree when missing or of another size (20000 messages,
# about 1 GB, by default; e.g. --messages 500 for a quick try).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
messages=20000
if [[ "${1:-}" == "--messages" ]]; then
  messages="$2"
  shift 2
fi
tool="${1:-$here/../build/bin/emlx2mbox}"
[[ -x "$tool" ]] || { echo "run-bench.sh: $tool: no emlx2mbox there (build it first)" >&2; exit 2; }

out="$here/out"
tree="$out/tree"
mkdir -p "$out"
if [[ "$(cat "$out/tree.messages" 2>/dev/null)" != "$messages" ]]; then
  rm -f "$out/tree.messages"
  python3 "$here/generate-tree.py" --messages "$messages" --out "$tree"
  echo "$messages" > "$out/tree.messages"
fi

find "$tree" -type f -name '*.emlx' -print0 | sort -z > "$out/files.list"
count=$(tr -cd '\0' < "$out/files.list" | wc -c)
total=$(xargs -0 stat -c %s < "$out/files.list" | awk '{s += $1} END {print s}')
largest=$(xargs -0 stat -c %s < "$out/files.list" | sort -n | tail -1)

# Wall-clock seconds of a command, best of 3, after a warm-up run; $prepare runs untimed first.
best_of_3() {
  local best="" start end seconds
  for round in 0 1 2 3; do
    eval "$prepare"
    start=$(date +%s.%N)
    "$@"
    end=$(date +%s.%N)
    ((round == 0)) && continue  # warm-up: fills the page cache
    seconds=$(python3 -c "print(f'{$end - $start:.3f}')")
    if [[ -z "$best" ]] || python3 -c "import sys; sys.exit(0 if $seconds < $best else 1)"; then
      best=$seconds
    fi
  done
  echo "$best"
}

cat_all() { xargs -0 cat < "$out/files.list" > "$out/cat.out"; }
prepare='rm -f "$out/cat.out"; sync'
cat_seconds=$(best_of_3 cat_all)

convert() { "$tool" -q -o "$out/mbox" "$tree" 2> "$out/emlx2mbox.log"; }
prepare='rm -rf "$out/mbox"; sync'
tool_seconds=$(best_of_3 convert)
tail -1 "$out/emlx2mbox.log"

# Peak memory of one more conversion.
rm -rf "$out/mbox"
if [[ -x /usr/bin/time ]]; then
  peak_kb=$(/usr/bin/time -v "$tool" -q -o "$out/mbox" "$tree" 2>&1 >/dev/null |
            awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}')
else
  peak_kb=$(python3 -c '
import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "$tool" -q -o "$out/mbox" "$tree")
fi
rm -rf "$out/mbox" "$out/cat.out"

python3 - "$count" "$total" "$largest" "$cat_seconds" "$tool_seconds" "$peak_kb" <<'PY'
import sys
count, total, largest = (int(v) for v in sys.argv[1:4])
cat_s, tool_s = float(sys.argv[4]), float(sys.argv[5])
peak = int(sys.argv[6]) * 1024
bound = 3 * largest + 30 * 1024 * 1024
ratio = tool_s / cat_s
print(f"tree: {count} messages, {total / 1e6:.1f} MB, largest {largest / 1e6:.2f} MB")
print(f"cat:       {cat_s:.3f} s ({total / 1e6 / cat_s:.0f} MB/s), best of 3")
print(f"emlx2mbox: {tool_s:.3f} s ({total / 1e6 / tool_s:.0f} MB/s), best of 3")
print(f"ratio emlx2mbox/cat: {ratio:.2f} (target <= 1.50: {'met' if ratio <= 1.5 else 'MISSED'})")
print(f"peak memory: {peak / 1e6:.1f} MB, bound 3 x largest + 30 MB = {bound / 1e6:.1f} MB "
      f"({'met' if peak <= bound else 'MISSED'})")
PY
