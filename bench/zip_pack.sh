#!/usr/bin/env bash
# Packs a generated tree of about 300 MB (compressible text and incompressible data, a few
# thousand files) with bench_zip_pack and with Info-ZIP's `zip -6 -r -q`, and prints the
# median wall time and the peak memory of each.
# usage: bench/zip_pack.sh [BUILD_DIR] [RUNS]   (BENCH_BIN=path skips the build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build/bench-linux}")
runs=${2:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

bin=${BENCH_BIN:-}
if [ -z "$bin" ]; then
  if [ ! -f "$build/build.ninja" ]; then
    cmake --preset linux -B "$build" >/dev/null
  fi
  cmake --build "$build" --target bench_zip_pack >/dev/null
  bin="$build/bench_zip_pack"
fi

# 2,000 text files of about 75 KB and 1,000 files of 150 KB of random bytes, 20 folders.
python3 - "$work/tree" <<'PY'
import os, random, sys
root = sys.argv[1]
rnd = random.Random(42)
words = [''.join(rnd.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rnd.randint(2, 10))) for _ in range(5000)]
for i in range(3000):
    d = os.path.join(root, f"dir{i % 20:02d}", f"sub{i % 7}")
    os.makedirs(d, exist_ok=True)
    if i % 3 == 2:
        with open(os.path.join(d, f"blob{i}.bin"), "wb") as f:
            f.write(rnd.randbytes(150_000))
    else:
        lines = []
        size = 0
        while size < 75_000:
            line = ' '.join(rnd.choice(words) for _ in range(12)) + f" {i} {size}\n"
            lines.append(line)
            size += len(line)
        with open(os.path.join(d, f"text{i}.txt"), "w") as f:
            f.write(''.join(lines))
PY
echo "tree: $(du -sb "$work/tree" | cut -f1) bytes in $(find "$work/tree" -type f | wc -l) files"

measure() { # label command...
  local label=$1; shift
  local times=() peaks=()
  for _ in $(seq "$runs"); do
    rm -f "$work/out.zip"
    /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null
    times+=("$(awk -F': ' '/Elapsed \(wall clock\)/ {n=split($2,a,":"); s=0; for(i=1;i<=n;i++) s=s*60+a[i]; print s}' "$work/time.txt")")
    peaks+=("$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")")
  done
  local t p
  t=$(printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
  p=$(printf '%s\n' "${peaks[@]}" | sort -n | awk '{a[NR]=$1} END {print a[NR]}')
  printf '%-22s median wall %6.2f s   peak RSS %6.1f MiB   (runs: %s)\n' "$label" "$t" "$(echo "$p / 1024" | bc -l)" "${times[*]}"
}

cd "$work"
measure "bench_zip_pack" env TMPDIR="$work" "$bin" "$work/tree"
measure "zip -6 -r -q" zip -6 -r -q "$work/out.zip" tree
