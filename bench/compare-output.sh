#!/usr/bin/env bash
# Converts the same trees with two emlx2mbox binaries in every mode and compares the mailboxes
# byte for byte (and the exit status and the problem lines of standard error, the seconds
# masked). For a change that must not alter what is written.
#
#   bench/compare-output.sh [--messages N] [--out DIR] BEFORE AFTER
#
# Trees: the test data (tests/data, the real corpus in tests/data/corpus-real included) and
# bench/generate-tree.py's realistic, small and single trees of N messages (default 300) and a
# large tree of two messages of 3 and 8 MB. Modes: default, --eol crlf, --eol lf, --flags,
# --layout apple, --jobs 1, and --new-only over a destination cut back to half its records
# (one mailbox also cut inside a record). Prints one line per tree and mode; exit 1 when any
# differs.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
messages=300
out="$here/../build/compare"
while [[ $# -gt 0 ]]; do
  case "$1" in
    --messages) messages="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    -*) echo "compare-output.sh: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[[ $# -eq 2 ]] || { echo "usage: compare-output.sh [--messages N] [--out DIR] BEFORE AFTER" >&2; exit 2; }
before="$(realpath "$1")"
after="$(realpath "$2")"
mkdir -p "$out"
out="$(realpath "$out")"

trees=("$here/../tests/data")
for shape in realistic small single large; do
  tree="$out/tree-$shape"
  if [[ ! -d "$tree" ]]; then
    python3 "$here/generate-tree.py" --shape "$shape" --messages "$messages" --large-mb 3,8 \
      --out "$tree" >/dev/null
  fi
  trees+=("$tree")
done

# Cuts every mailbox under $1 back to the record boundary nearest its middle, and the first one
# also a few bytes into the record after that, as a stopped or killed run leaves them.
half_convert() {
  python3 - "$1" <<'EOF'
import pathlib, sys
first = True
for box in sorted(pathlib.Path(sys.argv[1]).rglob("*.mbox")):
    if not box.is_file():
        continue
    data = box.read_bytes()
    cut = data.find(b"\nFrom ", len(data) // 2)
    if cut < 0:
        continue
    cut += 1
    extra = 20 if first else 0
    first = False
    box.write_bytes(data[:cut + extra])
EOF
}

# Runs one binary: $1 binary, $2 destination, $3 tree, the rest its options.
run_one() {
  local tool=$1 dest=$2 tree=$3
  shift 3
  set +e
  "$tool" -q "$@" -o "$dest" "$tree" 2>"$dest.stderr"
  echo "exit $?" >>"$dest.stderr"
  set -e
  sed -i -E 's/ in [0-9.]+ seconds/ in S seconds/; s#'"$dest"'#DEST#g' "$dest.stderr"
}

failed=0
for tree in "${trees[@]}"; do
  name="$(basename "$tree")"
  [[ "$name" == data ]] && name=tests-data
  for mode in default "--eol crlf" "--eol lf" --flags "--layout apple" "--jobs 1" --new-only; do
    options=()
    [[ "$mode" != default && "$mode" != --new-only ]] && read -ra options <<<"$mode"
    for side in before after; do
      tool=$before
      [[ $side == after ]] && tool=$after
      dest="$out/dest-$side"
      rm -rf "$dest" "$dest.stderr"
      if [[ "$mode" == --new-only ]]; then
        "$before" -q --no-verify -o "$dest" "$tree" 2>/dev/null || true
        half_convert "$dest"
        run_one "$tool" "$dest" "$tree" --new-only
      else
        run_one "$tool" "$dest" "$tree" "${options[@]}"
      fi
    done
    boxes=$(find "$out/dest-before" -type f | wc -l)
    if diff -r "$out/dest-before" "$out/dest-after" >/dev/null &&
       cmp -s "$out/dest-before.stderr" "$out/dest-after.stderr"; then
      printf 'same     %-16s %-14s %4d mailboxes\n' "$name" "$mode" "$boxes"
    else
      printf 'DIFFERS  %-16s %-14s\n' "$name" "$mode"
      diff -r "$out/dest-before" "$out/dest-after" | head -5 || true
      diff "$out/dest-before.stderr" "$out/dest-after.stderr" | head -10 || true
      failed=1
    fi
  done
done
exit $failed
