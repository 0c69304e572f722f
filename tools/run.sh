#!/bin/sh
# Builds the tool and runs it. With no options it starts the board simulator,
# writes a sample firmware file and points COM 1 at the simulator; any options
# (--com1 DEVICE, --com2 DEVICE) go to the tool for a real board instead.
set -e
cd "$(dirname "$0")/.."
sh tools/deps.sh xvfb xauth fonts-liberation
cmake -S . -B build/run -DFLASH_TESTS=OFF -DFLASH_BENCH=OFF >/dev/null
cmake --build build/run -j"$(nproc)" --target flash-updater board-sim

show() {
    if [ -n "$DISPLAY" ] || [ -n "$WAYLAND_DISPLAY" ]; then
        "$@"
    else
        echo "No display here: the window runs on a virtual X server (xvfb-run). Stop it with Ctrl-C."
        xvfb-run -a "$@"
    fi
}

if [ $# -gt 0 ]; then
    show build/run/flash-updater "$@"
    exit
fi

demo=build/demo
mkdir -p "$demo"
build/run/tools/boardsim/board-sim --write-sample "$demo/SAMPLE.FRM"
rm -f "$demo/device"
build/run/tools/boardsim/board-sim --mode handshake --device-file "$demo/device" &
sim=$!
trap 'kill $sim 2>/dev/null' EXIT INT TERM
while [ ! -s "$demo/device" ]; do sleep 0.1; done
echo "Board simulator on $(cat "$demo/device")."
echo "Sample firmware: $(pwd)/$demo/SAMPLE.FRM  (untick \"Power ON - FW\" for the handshake)"
show build/run/flash-updater --com1 "$(cat "$demo/device")"
