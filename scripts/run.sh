#!/usr/bin/env bash
# Sets up the machine, builds the Linux program and starts it in stdio-port mode with
# the paths given; open the printed address in a browser.
#
#   scripts/run.sh PATH...              against the service of the saved configuration
#   scripts/run.sh --stand-in PATH...   against the stand-in service of tools/ on 127.0.0.1,
#                                       with a scratch configuration: log in as
#                                       demo / demo1234 (any other account is refused)
set -euo pipefail
stand_in=0
if [ "${1:-}" = "--stand-in" ]; then
  stand_in=1
  shift
fi
# The paths are the caller's, relative to where it stands.
paths=()
for p in "$@"; do
  case "$p" in
    /*) paths+=("$p") ;;
    *) paths+=("$PWD/$p") ;;
  esac
done
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target vano-duvid
if [ $stand_in -eq 0 ]; then
  exec build/linux/vano-duvid --stdio-port "${paths[@]}"
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/vano-stand-in.XXXXXX")
service_pid=
finish() {
  touch "$scratch/service/stop" 2>/dev/null || true
  [ -z "$service_pid" ] || wait "$service_pid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap finish EXIT
trap 'exit 130' INT TERM

mkdir -p "$scratch/service" "$scratch/home/.vano-quillet"
python3 tools/stand_in_service.py --dir "$scratch/service" --quiet --lifetime 0 --account demo:demo1234 &
service_pid=$!
for _ in $(seq 200); do
  [ -s "$scratch/service/port" ] && break
  kill -0 "$service_pid" 2>/dev/null || { echo "the stand-in service did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s "$scratch/service/port" ] || { echo "the stand-in service did not report its port" >&2; exit 1; }
url="http://127.0.0.1:$(cat "$scratch/service/port")"
# Uploads are read at about 10 MB/s, so that the progress screen can be watched.
upload='{"read_block": 262144, "read_pause_ms": 25,
         "json": {"short_code": "demo", "short_url": "https://stand-in.example/demo"}}'
cat > "$scratch/service/script.json" <<EOF
{"POST /api/upload-video": $upload, "POST /api/upload-document": $upload}
EOF
# HOME, not APPDATA: with APPDATA set the program would copy itself there to register the
# Explorer menu, which this build cannot do anyway.
cat > "$scratch/home/.vano-quillet/desktop_config.json" <<EOF
{"server_url": "$url", "api_key": "", "username": "", "org_name": "", "admin_name": "", "role": ""}
EOF
echo "Stand-in service on $url; log in as demo / demo1234." >&2
env -u APPDATA -u LOCALAPPDATA HOME="$scratch/home" build/linux/vano-duvid --stdio-port "${paths[@]}"
