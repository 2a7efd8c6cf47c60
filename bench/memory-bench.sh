#!/usr/bin/env bash
# Peak memory of emlx2mbox for many small messages, against the 64 MB budget: what the run keeps
# per message (its path, its row, the record it wrote) is what grows with the tree.
#
#   bench/memory-bench.sh [--messages N] [--out DIR] [EMLX2MBOX]
#
#   --messages N   messages of about 1 KB in an Apple Mail store (default 200000), made by
#                  bench/generate-tree.py --shape many and kept under DIR/trees/many
#   --out DIR      where the tree and the mailboxes go (default build/bench)
# Each of the default run, --layout apple and --jobs 1 is run once; the peak resident size
# (GNU time's %M) is printed with its share of the budget.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
messages=200000
out="$here/../build/bench"
while [[ $# -gt 0 ]]; do
  case "$1" in
    --messages) messages="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    -*) echo "memory-bench.sh: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
tool="$(realpath "${1:-$here/../build/bin/emlx2mbox}")"
[[ -x "$tool" ]] || { echo "memory-bench.sh: $tool: no emlx2mbox there (build it first)" >&2; exit 2; }
[[ -x /usr/bin/time ]] || { echo "memory-bench.sh: needs GNU time (/usr/bin/time)" >&2; exit 2; }
mkdir -p "$out/trees"
out="$(realpath "$out")"

tree="$out/trees/many"
stamp="--messages $messages $(md5sum < "$here/generate-tree.py" | cut -c1-12)"
if [[ "$(cat "$tree.stamp" 2>/dev/null)" != "$stamp" ]]; then
  rm -f "$tree.stamp"
  echo "generating the tree of $messages messages..." >&2
  python3 "$here/generate-tree.py" --shape many --messages "$messages" --out "$tree" >&2
  echo "$stamp" > "$tree.stamp"
fi

budget_kb=$((64 * 1024))
echo "| run | messages | peak memory | share of 64 MB |"
echo "| --- | --- | --- | --- |"
for args in "" "--layout apple" "--jobs 1"; do
  rm -rf "$out/mbox"
  # shellcheck disable=SC2086
  peak_kb=$(/usr/bin/time -f '%M' "$tool" -q $args -o "$out/mbox" "$tree" 2>&1 >/dev/null | tail -1)
  awk -v run="${args:-default}" -v n="$messages" -v kb="$peak_kb" -v budget="$budget_kb" \
    'BEGIN { printf "| %s | %d | %.1f MB | %.2f%s |\n", run, n, kb / 1024, kb / budget,
             (kb > budget ? " (over)" : "") }'
done
rm -rf "$out/mbox"
