#!/usr/bin/env bash
# Runs a Windows test binary under wine. The wineserver and wine's services are started
# once, detached, so that they do not hold CTest's output pipes open.
set -u
: "${WINEPREFIX:=${XDG_CACHE_HOME:-$HOME/.cache}/vano-wine}"; export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY
if [ "${1:-}" = "--warm-up" ]; then
  for fd in /proc/self/fd/*; do fd=${fd##*/}; [ "$fd" -gt 2 ] && eval "exec $fd>&-"; done 2>/dev/null
  exec </dev/null >/dev/null 2>&1
  if wineserver -p"${WINE_PERSIST_S:-120}"; then      # 0 = started, 2 = already running
    if [ -f "$WINEPREFIX/system.reg" ]; then wine cmd.exe /c exit 0; else wineboot -i; fi
  fi
  exit 0
fi
mkdir -p "$WINEPREFIX"
flock -o "$WINEPREFIX/.warm-up.lock" "$0" --warm-up   # -o: the services must not inherit the lock
# Overrides that a test adds for itself and the processes it starts: wine takes them from the
# Unix environment a process starts with, never from its parent's Windows environment.
if [ -n "${VANO_TEST_DLL_OVERRIDES:-}" ]; then
  WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$VANO_TEST_DLL_OVERRIDES"
fi
# A test that reads or writes state the whole prefix shares (the Explorer keys in HKCU)
# holds a lock named by the test for its run: CTest's RESOURCE_LOCK orders only the tests
# of one ctest, while every build tree and checkout on the machine shares the prefix.
lock=()
[ -n "${VANO_WINE_LOCK:-}" ] && lock=(flock -o "$WINEPREFIX/.$VANO_WINE_LOCK.lock")
gtest=
for arg in "$@"; do case $arg in --gtest_*) gtest=1 ;; esac; done
[ -n "$gtest" ] || exec "${lock[@]}" wine "$@"
# The test's output reaches CTest through two relays, so that programs the test started
# and left running (wine's browser, for one) hold only the relays' pipes: the relays end
# shortly after the test program, and CTest is not kept waiting by those programs.
# A test program that ends before its main has printed a line is wine's failure to start
# it, not a result of the test (seen now and then on a loaded machine: no output at all,
# within 10 ms): it is started once more. A test that began is never run again.
dir=$(mktemp -d "${TMPDIR:-/tmp}/wine-run.XXXXXX")
trap 'rm -rf "$dir"' EXIT
mkfifo "$dir/out" "$dir/err"
for attempt in 1 2; do
  : > "$dir/seen"
  tee -a "$dir/seen" < "$dir/out" & relay_out=$!
  tee -a "$dir/seen" < "$dir/err" >&2 & relay_err=$!
  "${lock[@]}" wine "$@" > "$dir/out" 2> "$dir/err"
  rc=$?
  for _ in $(seq 20); do
    kill -0 "$relay_out" "$relay_err" 2>/dev/null || break
    sleep 0.1
  done
  kill "$relay_out" "$relay_err" 2>/dev/null
  wait "$relay_out" "$relay_err" 2>/dev/null
  [ "$rc" -eq 0 ] && exit 0
  if [ "$attempt" -eq 2 ] || grep -q 'Running main() from' "$dir/seen"; then
    exit "$rc"
  fi
  echo "wine-run: ${1##*/} ended with exit code $rc before its main began; starting it again" >&2
done
