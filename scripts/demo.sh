#!/usr/bin/env bash
# Builds Tarvo, starts the device simulator on a pseudo-terminal and runs Tarvo against it with a
# temporary configuration folder (the user's own "Tarvo.ini" is never read or written). Without a
# display it says so and shows the same work headless with tarvo-cli.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake --preset release -DTARVO_BUILD_BENCH=OFF >/dev/null
cmake --build --preset release -j "$(nproc)" --target tarvo tarvo-cli tarvo-devsim

bin=build/release
work=$(mktemp -d)
trap 'kill "${sim_pid:-}" 2>/dev/null || true; rm -rf "$work"' EXIT

mkfifo "$work/control"
# The simulator reads control commands from the fifo; keep a writer open so it never sees end of input.
exec 3<>"$work/control"
"$bin/tools/devsim/tarvo-devsim" --device "id=4110,fw=2.10,baud=115200,weight=123.4,update=20" \
  --link "1=$work/com1" <&3 >"$work/devsim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -e "$work/com1" ] && break; sleep 0.1; done
echo "Simulator: $(head -n 1 "$work/devsim.out")"

# COM1 is the simulator; COM2..COM8 have no port, so no real serial port of this machine is touched.
mkdir -p "$work/config/Tarvo"
{
  echo "[Port]"; echo "Baud=115200"; echo "ComNumber=1"
  echo "[ComPorts]"; echo "COM1=$work/com1"
  for n in 2 3 4 5 6 7 8; do echo "COM$n="; done
} >"$work/config/Tarvo/Tarvo.ini"
export XDG_CONFIG_HOME="$work/config"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "Starting Tarvo; close its window to end the demo."
  "$bin/src/tarvo"
else
  echo "No display found: showing the same work headless with tarvo-cli."
  echo "\$ tarvo-cli send ID --start D:"
  "$bin/src/tarvo-cli" send ID --start D: || true
  echo "\$ tarvo-cli find"
  "$bin/src/tarvo-cli" find || true
  echo "\$ tarvo-cli record --seconds 3 --csv demo.csv"
  if "$bin/src/tarvo-cli" record --seconds 3 --csv "$work/demo.csv"; then
    echo "--- demo.csv: $(wc -l <"$work/demo.csv") lines; the first and the last five:"
    head -n 5 "$work/demo.csv"
    echo "..."
    tail -n 5 "$work/demo.csv"
  fi
fi
