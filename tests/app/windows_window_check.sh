#!/usr/bin/env bash
# The Windows window under Wine on a virtual X display, used as a person would: it finds the
# simulated reader, a click on Get Data saves a file, and that file holds the same document as
# the one lumora-download.exe saves from the same reader.
# Usage: windows_window_check.sh BUILD_DIR (a Windows build tree with its wine-run)
set -euo pipefail
build=$1 run=$1/wine-run
work=$(mktemp -d /tmp/lumora-window-XXXXXX) win=Z:$work # the programs see / as drive Z:
trap 'kill $(jobs -p) 2>/dev/null; wait; rm -rf "$work"' EXIT

fail() {
    echo "FAILED: $*" >&2
    tail -n 20 "$work"/*.log >&2
    exit 1
}
# wait_until WHAT COMMAND...: up to 120 s.
wait_until() {
    for _ in $(seq 240); do "${@:2}" && return 0 || sleep 0.5; done
    fail "$1"
}

mkdir -p "$work/sockets" "$work/config/LumoraConnector" "$work/data"
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/private.pem" 2>/dev/null
openssl pkey -in "$work/private.pem" -pubout -out "$work/public.pem"
printf '[General]\ndata_dir=%s/data/\npublic_key_file=%s/public.pem\n' "$win" "$win" \
    >"$work/config/LumoraConnector/Configuration.ini"
export LUMORA_HID_SOCKET_DIR=$win/sockets XDG_CONFIG_DIRS=$win/config
cd "$work"

"$run" "$build/tools/reader-sim/lumora-reader-sim.exe" --dir "$win/sockets" >sim.log 2>&1 &
wait_until "the simulator plugs in" grep -q "plugged in" sim.log
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>display 2>xvfb.log &
wait_until "Xvfb starts" test -s display
export DISPLAY=:$(cat display)
"$run" "$build/app/lumora-connector.exe" >window.log 2>&1 &
window_pid=$!
# Get Data is enabled once the clock is in: 9 px from the left, 260 px down. Clicked until the
# reader is asked for its schema.
wait_until "the window asks the reader's clock" grep -q "AAP request 65" sim.log
window=$(xdotool search --sync --onlyvisible --name "Lumora Kelo Connector" | head -n 1)
clicked() {
    xdotool mousemove --window "$window" 50 275 click 1 && sleep 1 && grep -q "AAP request 52" sim.log
}
wait_until "a click on Get Data starts the download" clicked
saved() { find "$1" -name '*_data.json' | grep .; }
wait_until "the window saves a file" saved data
kill "$window_pid"
wait "$window_pid" 2>/dev/null || true

mkdir tool-data
sed -i "s|/data/|/tool-data/|" config/LumoraConnector/Configuration.ini
"$run" "$build/tools/download/lumora-download.exe" >download.log 2>&1 || fail "lumora-download.exe"
for file in $(saved data) $(saved tool-data); do
    "$run" "$build/tools/decrypt/lumora-decrypt.exe" --key "$win/private.pem" "Z:$file" \
        -o "Z:$file.plain" >>decrypt.log 2>&1 || fail "decrypting $file"
    jq -S 'del(.hostDateTime)' "$file.plain" >"$file.doc" || fail "$file is no JSON document"
done
cmp "$(saved data).doc" "$(saved tool-data).doc" || fail "the window and the tool differ"
[ "$(jq '.records | length' "$(saved data).doc")" -gt 0 ] || fail "no records"
