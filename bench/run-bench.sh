#!/usr/bin/env bash
# Times emlx2mbox against `cat` of the same .emlx files into one file, on the trees made by
# bench/generate-tree.py, in one run:
#   realistic  an Apple Mail store, 20000 messages, about 1 GB
#   small      50000 messages of 2 to 20 KB
#   single     one mailbox of 20000 messages of 5 KB, each with a body line starting "From "
#   large      four messages of 100 MB to 1 GB
# For each tree, side by side, six runs a round, each round in another order: `cat` of the
# files, `cat` then `sync` of what it wrote, emlx2mbox as it is by default (each mailbox flushed
# and checked), with --no-sync and with --verify, and by default while as many bytes are read
# from the device beside it (what --verify's reading back costs at best). Warm cache: the median of 5 rounds; cold cache:
# the same with the page cache dropped before each run (root only); emlx2mbox's peak memory.
# Every timed run starts after `sync`, with the previous run's output removed. Targets: the
# default within 1.0 times cat + sync, --no-sync within 1.0 times cat, --verify within 1.5 times
# the default.
#
#   bench/run-bench.sh [--quick] [--messages N] [--pairs N] [--trees LIST] [--out DIR]
#                      [--tool-args "ARGS"] [--warm-only] [EMLX2MBOX]
#
#   --quick        small trees (1000 / 2500 messages, large ones of 20 and 60 MB), 3 rounds
#   --messages N   messages of the realistic and single trees (the small tree gets 2.5 times as
#                  many)
#   --pairs N      timed rounds per measurement (default 5)
#   --trees LIST   which trees, comma-separated (default realistic,small,single,large)
#   --out DIR      where trees and outputs go (default build/bench; the trees are kept)
#   --tool-args    extra arguments for emlx2mbox, e.g. "--jobs 1"
#   --warm-only    no cold runs, even as root (they drop the whole machine's page cache)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
realistic=20000
small=""
large_mb="100,250,500,1000"
pairs=5
trees="realistic,small,single,large"
out="$here/../build/bench"
tool_args=""
warm_only=0
while [[ $# -gt 0 ]]; do
  case "$1" in
    --quick) realistic=1000; large_mb="20,60"; pairs=3; shift ;;
    --messages) realistic="$2"; shift 2 ;;
    --pairs) pairs="$2"; shift 2 ;;
    --trees) trees="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    --tool-args) tool_args="$2"; shift 2 ;;
    --warm-only) warm_only=1; shift ;;
    -*) echo "run-bench.sh: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
small="${small:-$((realistic * 5 / 2))}"
tool="$(realpath "${1:-$here/../build/bin/emlx2mbox}")"
[[ -x "$tool" ]] || { echo "run-bench.sh: $tool: no emlx2mbox there (build it first)" >&2; exit 2; }
mkdir -p "$out"
out="$(realpath "$out")"

cold=0
if [[ -w /proc/sys/vm/drop_caches ]] && ((!warm_only)); then cold=1; fi

# The tree of a shape, generated when missing or made with other arguments.
tree_for() {
  local shape=$1 args
  case "$shape" in
    realistic) args="--shape realistic --messages $realistic" ;;
    small) args="--shape small --messages $small" ;;
    single) args="--shape single --messages $realistic" ;;
    large) args="--shape large --large-mb $large_mb" ;;
    *) echo "run-bench.sh: unknown tree $shape" >&2; exit 2 ;;
  esac
  local tree="$out/trees/$shape"
  local stamp
  stamp="$args $(md5sum < "$here/generate-tree.py" | cut -c1-12)"
  if [[ "$(cat "$tree.stamp" 2>/dev/null)" != "$stamp" ]]; then
    rm -f "$tree.stamp"
    echo "generating the $shape tree ($args)..." >&2
    # shellcheck disable=SC2086
    python3 "$here/generate-tree.py" $args --out "$tree" >&2
    echo "$stamp" > "$tree.stamp"
  fi
  echo "$tree"
}

fresh_start() {
  rm -rf "$out/mbox" "$out/cat.out"
  sync
  if [[ "$1" == cold ]]; then echo 3 > /proc/sys/vm/drop_caches; fi
}

# Wall-clock seconds of one run of "$@".
seconds_of() {
  local start end
  start=$(date +%s%N)
  "$@"
  end=$(date +%s%N)
  echo $(((end - start) / 1000))  # microseconds
}

cat_all() { xargs -0 cat < "$out/files.list" > "$out/cat.out"; }
# What cat wrote, flushed: the file and the folder that got its entry.
cat_sync() { cat_all; sync "$out/cat.out" "$out"; }
convert() {
  # shellcheck disable=SC2086
  "$tool" -q $tool_args "$@" -o "$out/mbox" "$tree" 2> "$out/emlx2mbox.log" ||
    { echo "run-bench.sh: emlx2mbox failed:" >&2; tail -5 "$out/emlx2mbox.log" >&2; exit 1; }
}
convert_default() { convert; }
convert_no_sync() { convert --no-sync; }
convert_verify() { convert --verify; }
# What --verify adds at best on this disk: the default run while as many bytes as it writes are
# read from the device (another file, read directly) at the same time.
convert_default_and_read() {
  dd if="$out/device-read.bin" of=/dev/null bs=1M iflag=direct status=none &
  convert
  wait
}
runs=(cat_all cat_sync convert_default convert_no_sync convert_verify convert_default_and_read)

# Microseconds of each of the runs, in the order of `runs`, separated by ";", for each of $pairs
# rounds, each round starting at another run, in the given cache state.
time_pairs() {
  local state=$1 pair i k
  local -a took
  if [[ "$state" == warm ]]; then  # fill the page cache, untimed
    fresh_start warm; cat_all
    cp "$out/cat.out" "$out/device-read.bin"
    fresh_start warm; convert
  fi
  for ((pair = 0; pair < pairs; pair++)); do
    took=()
    for ((k = 0; k < ${#runs[@]}; k++)); do
      i=$(((pair + k) % ${#runs[@]}))
      fresh_start "$state"; took[i]=$(seconds_of "${runs[i]}")
    done
    (IFS=';'; echo -n "${took[*]} ")
  done
}

results=()
IFS=',' read -r -a shapes <<< "$trees"
for shape in "${shapes[@]}"; do
  tree=$(tree_for "$shape")
  # cat reads the messages in the order emlx2mbox converts them, as its dry run lists them.
  "$tool" --dry-run -o "$out/mbox" "$tree" 2>/dev/null |
    python3 -c 'import sys; sys.stdout.write("".join(l.rsplit(" -> ", 1)[0] + "\0" for l in sys.stdin))' \
    > "$out/files.list"
  count=$(tr -cd '\0' < "$out/files.list" | wc -c)
  bytes=$(find "$tree" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
  largest=$(find "$tree" -type f -printf '%s\n' | sort -n | tail -1)

  echo "$shape: timing warm..." >&2
  warm=$(time_pairs warm)
  coldpairs=""
  if ((cold)); then
    echo "$shape: timing cold..." >&2
    coldpairs=$(time_pairs cold)
  fi
  fresh_start warm
  # shellcheck disable=SC2086
  /usr/bin/time -f '%M' -o "$out/peak" "$tool" $tool_args -o "$out/mbox" "$tree" \
    2> "$out/emlx2mbox.log"
  peak_kb=$(tail -1 "$out/peak")
  summary=$(grep -v "^Checked: " "$out/emlx2mbox.log" | tail -1)
  checked=$(tail -1 "$out/emlx2mbox.log")
  summary="$summary / $checked"
  fresh_start warm
  rm -f "$out/device-read.bin"
  results+=("$shape|$count|$bytes|$largest|$warm|$coldpairs|$peak_kb|$summary")
done

python3 - "$pairs" "${results[@]}" <<'PY'
import statistics
import sys

pairs = int(sys.argv[1])


names = ["cat", "cat + sync", "default", "--no-sync", "--verify", "default + device read"]


def measured(text):
    """Median seconds of each run, in the order of `names`; None when not measured."""
    rounds = [[int(v) / 1e6 for v in one.split(";")] for one in text.split()]
    if not rounds:
        return None
    return [statistics.median(r[i] for r in rounds) for i in range(len(names))]


def verdict(ratio, target):
    return f"{ratio:.2f} (target {target}: {'met' if ratio <= target else 'MISSED'})"


rows = []
for result in sys.argv[2:]:
    shape, count, size, largest, warm, cold, peak_kb, summary = result.split("|")
    size, largest = int(size), int(largest)
    print(f"{shape}: {count} messages, {size / 1e6:.0f} MB, largest {largest / 1e6:.2f} MB")
    print(f"  emlx2mbox: {summary}")
    for state, text in (("warm", warm), ("cold", cold)):
        m = measured(text)
        if m is None:
            print(f"  {state}: not measured (--warm-only, or not root: only root can drop the page cache)")
            continue
        cat, cat_sync, default, no_sync, verify, floor = m
        print(f"  {state}, median of {pairs} rounds: " +
              ", ".join(f"{n} {t:.3f} s" for n, t in zip(names, m)))
        print(f"    default / (cat + sync) {verdict(default / cat_sync, 1.0)}; "
              f"--no-sync / cat {verdict(no_sync / cat, 1.0)}; "
              f"--verify / default {verdict(verify / default, 1.5)}")
        print(f"    at best on this disk: (default + device read) / default {floor / default:.2f}")
        rows.append([shape, state] + [f"{t:.3f}" for t in m] +
                    [f"{default / cat_sync:.2f}", f"{no_sync / cat:.2f}", f"{verify / default:.2f}",
                     f"{floor / default:.2f}"])
    peak = int(peak_kb) * 1024
    print(f"  peak memory: {peak / 1e6:.1f} MB (target under 64 MB: "
          f"{'met' if peak < 64 * 1024 * 1024 else 'MISSED'})")

print()
print("| tree | cache | cat s | cat + sync s | default s | --no-sync s | --verify s "
      "| default + device read s | default / (cat + sync) | --no-sync / cat | --verify / default "
      "| (default + device read) / default |")
print("| --- | --- | --- | --- | --- | --- | --- | --- | --- | --- | --- | --- |")
for cells in rows:
    print("| " + " | ".join(cells) + " |")
PY
