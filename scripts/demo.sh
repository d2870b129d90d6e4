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
# A dosing controller filling a weigh hopper with 250.0 every five seconds, so that there is something to see.
"$bin/tools/devsim/tarvo-devsim" --device "id=4114,fw=2.10,baud=115200,profile=filling,load=250,update=20,stream=SN" \
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
  echo "The weight and the status (the third digit is the no-motion bit) while the hopper fills and empties:"
  for _ in 1 2 3 4 5 6; do
    echo "  gross $("$bin/src/tarvo-cli" send GG --start G || true)   status $("$bin/src/tarvo-cli" send IS --start S: || true)"
    sleep 0.3
  done
  echo "\$ tarvo-cli record --seconds 6 --csv demo.csv --markers"
  if "$bin/src/tarvo-cli" record --seconds 6 --csv "$work/demo.csv" --markers; then
    echo "--- demo.csv: $(wc -l <"$work/demo.csv") lines; its head and a few rows while the hopper fills:"
    head -n 2 "$work/demo.csv"
    # About eight rows of the first rise, from 5 % to 95 % of the highest weight recorded.
    awk -F, 'NR > 2 { n++; row[n] = $0; v[n] = $1 + 0; if (v[n] > top) top = v[n] }
      END {
        for (i = 1; i <= n && v[i] <= 0.05 * top; i++) {}
        for (j = i; j <= n && v[j] < 0.95 * top; j++) {}
        step = int((j - i) / 8); if (step < 1) step = 1
        for (k = i; k < j; k += step) print row[k]
      }' "$work/demo.csv"
  fi
fi
