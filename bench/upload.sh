#!/usr/bin/env bash
# Upload of a 1 GiB sparse file over loopback to a sink that only counts bytes: the upload
# job beside `curl -F file=@...` posting the same file to the same sink, seven rounds each.
# Prints each run's throughput, the ratio of the medians, and the job's peak memory.
# Needs `scripts/setup.sh --bench` (curl, /usr/bin/time).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build/bench-linux}"
rounds="${ROUNDS:-7}"
cmake --preset linux -B "$build" >/dev/null
cmake --build "$build" --target bench_upload >/dev/null

tmp="$(mktemp -d)"
"$build/bench_upload" sink >"$tmp/sink" &
sink=$!
trap 'kill "$sink" 2>/dev/null || true; rm -rf "$tmp"' EXIT
for _ in $(seq 100); do grep -q '^port ' "$tmp/sink" && break; sleep 0.05; done
port="$(awk '/^port /{print $2}' "$tmp/sink")"
url="http://127.0.0.1:$port"

file="$tmp/movie.mp4"          # 1 GiB exactly is still a valid media upload
truncate -s 1073741824 "$file"
cat "$file" >/dev/null         # the first reader of the holes would pay for the page cache

# Throughput of the sink's last count, in MiB/s.
last_rate() { tail -n 1 "$tmp/sink" | awk '{printf "%.1f", $1 / $2 / 1048576}'; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

: >"$tmp/ours"; : >"$tmp/curl"; : >"$tmp/peak"
run_ours() {
  APPDATA="$tmp" HOME="$tmp" TMPDIR="$tmp" /usr/bin/time -v -o "$tmp/time" \
    "$build/bench_upload" upload "$url" "$file" >/dev/null
  ours="$(last_rate)"; echo "$ours" >>"$tmp/ours"
  peak="$(awk -F': ' '/Maximum resident set size/{print $2}' "$tmp/time")"; echo "$peak" >>"$tmp/peak"
}
run_curl() {
  curl -s -o /dev/null -H 'X-API-Key: bench' -F "expiry_option=30" -F "file=@$file;type=video/mp4" \
    "$url/api/upload-video"
  theirs="$(last_rate)"; echo "$theirs" >>"$tmp/curl"
}
for i in $(seq "$rounds"); do
  # Who goes first alternates, so neither always meets a cold or a busy machine.
  if [ $((i % 2)) -eq 1 ]; then run_ours; run_curl; else run_curl; run_ours; fi
  echo "round $i: upload job $ours MiB/s (peak RSS $peak KiB), curl -F $theirs MiB/s"
done
ours="$(median <"$tmp/ours")"; theirs="$(median <"$tmp/curl")"; peak="$(sort -n "$tmp/peak" | tail -n 1)"
echo "median: upload job $ours MiB/s, curl $theirs MiB/s, ratio $(awk -v a="$ours" -v b="$theirs" 'BEGIN{printf "%.3f", a/b}')"
echo "peak RSS of the upload job: $peak KiB ($(awk -v k="$peak" 'BEGIN{printf "%.1f", k/1024}') MiB)"
