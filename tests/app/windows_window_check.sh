#!/usr/bin/env bash
# The Windows window under Wine on a virtual X display, used as a person would: it finds the
# simulated reader, a click on Get Data saves a file, and that file holds the same document as
# the one lumora-download.exe saves from the same reader.
# Usage: windows_window_check.sh BUILD_DIR (a Windows build tree with its wine-run)
set -euo pipefail
build=$1
run=$build/wine-run
work=$(mktemp -d /tmp/lumora-window-XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*" >&2
    for log in "$work"/*.log; do
        echo "--- $(basename "$log")" >&2
        tail -n 20 "$log" >&2
    done
    exit 1
}

# Waits up to 120 s for a command to succeed.
wait_until() {
    local what=$1
    shift
    for _ in $(seq 240); do
        "$@" && return 0
        sleep 0.5
    done
    fail "$what"
}

# The programs see this folder as drive Z:.
win=Z:$work
mkdir -p "$work/sockets" "$work/config/LumoraConnector" "$work/data"
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/private.pem" 2>/dev/null
openssl pkey -in "$work/private.pem" -pubout -out "$work/public.pem"
printf '[General]\ndata_dir=%s/data/\npublic_key_file=%s/public.pem\n' "$win" "$win" \
    >"$work/config/LumoraConnector/Configuration.ini"
export LUMORA_HID_SOCKET_DIR=$win/sockets XDG_CONFIG_DIRS=$win/config
cd "$work"

"$run" "$build/tools/reader-sim/lumora-reader-sim.exe" --dir "$win/sockets" >"$work/sim.log" 2>&1 &
pids+=($!)
wait_until "the simulator plugs in" grep -q "plugged in" "$work/sim.log"

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_until "Xvfb starts" test -s "$work/display"
export DISPLAY=:$(cat "$work/display")

"$run" "$build/app/lumora-connector.exe" >"$work/window.log" 2>&1 &
window_pid=$!
pids+=("$window_pid")
# The window asks the reader's clock after its serial number; then Get Data is enabled.
wait_until "the window asks the reader's clock" grep -q "AAP request 65" "$work/sim.log"
window=$(xdotool search --sync --onlyvisible --name "Lumora Kelo Connector" | head -n 1)
[ -n "$window" ] || fail "no window"

# Get Data: 9 px from the left, 260 px down; clicked until the reader is asked for its schema.
clicked() {
    xdotool mousemove --window "$window" 50 275 click 1
    sleep 1
    grep -q "AAP request 52" "$work/sim.log"
}
wait_until "a click on Get Data starts the download" clicked
saved() { find "$work/data" -name '*_data.json' | grep -q .; }
wait_until "the window saves a file" saved
window_file=$(find "$work/data" -name '*_data.json')
kill "$window_pid"
wait "$window_pid" 2>/dev/null || true

rm -rf "$work/tool-data" && mkdir "$work/tool-data"
sed -i "s|/data/|/tool-data/|" "$work/config/LumoraConnector/Configuration.ini"
"$run" "$build/tools/download/lumora-download.exe" --timeout 60 >"$work/download.log" 2>&1 ||
    fail "lumora-download.exe"
tool_file=$(find "$work/tool-data" -name '*_data.json')

for file in "$window_file" "$tool_file"; do
    "$run" "$build/tools/decrypt/lumora-decrypt.exe" --key "$win/private.pem" "Z:$file" \
        -o "Z:$file.plain" >>"$work/decrypt.log" 2>&1 || fail "decrypting $file"
    jq -S 'del(.hostDateTime)' "$file.plain" >"$file.doc" || fail "$file is no JSON document"
done
cmp -s "$window_file.doc" "$tool_file.doc" ||
    fail "the window's document differs from lumora-download.exe's"
[ "$(jq '.records | length' "$window_file.doc")" -gt 0 ] || fail "no records"
