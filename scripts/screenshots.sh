#!/usr/bin/env bash
# Takes the README's pictures (docs/images/) from the real window under Xvfb against tarvo-devsim: every
# page, the big display, and the Display page at twice the size, each with the window at 1366×768.
#   bash scripts/screenshots.sh [BUILD_DIR]    without a build folder it builds the release configuration
# Pages are chosen with the keyboard (Ctrl+Tab), so the pictures do not depend on where the tabs are.
set -euo pipefail
cd "$(dirname "$0")/.."
TARVO_SCREENSHOTS=1 bash scripts/setup.sh

bin="${1:-}"
if [ -z "$bin" ]; then
  cmake --preset release -DTARVO_BUILD_BENCH=OFF >/dev/null
  cmake --build --preset release -j 2 --target tarvo tarvo-devsim
  bin=build/release
fi
out=docs/images
mkdir -p "$out"
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A private X server on the first free display; it writes the number once it is ready.
Xvfb -displayfd 5 -screen 0 2800x1800x24 -nolisten tcp 5>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"

# The demo's simulator: a dosing controller filling a hopper with 250.0 every five seconds.
mkfifo "$work/control"
exec 3<>"$work/control"
"$bin/tools/devsim/tarvo-devsim" --device "id=4114,fw=2.10,baud=115200,profile=filling,load=250,update=20" \
  --link "1=$work/com1" <&3 >"$work/devsim.out" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "$work/com1" ] && break; sleep 0.1; done

# COM1 is the simulator; COM2..COM8 have no port, so no real serial port of this machine is touched.
mkdir -p "$work/config/Tarvo"
{
  echo "[Port]"; echo "Baud=115200"; echo "ComNumber=1"
  echo "[Options]"; echo "GraphName=Hopper 1 filling"; echo "SampleTime=6000"
  echo "[Display]"; echo "WorldTop=300"; echo "WorldBottom=-20"
  echo "[ComPorts]"; echo "COM1=$work/com1"
  for n in 2 3 4 5 6 7 8; do echo "COM$n="; done
} >"$work/config/Tarvo/Tarvo.ini"
export XDG_CONFIG_HOME="$work/config"

window=""
# Starts tarvo at the given scale and waits for its main window.
start_tarvo() {
  QT_SCALE_FACTOR="$1" "$bin/src/tarvo" >"$work/tarvo-$1.log" 2>&1 &
  tarvo_pid=$!
  pids+=("$tarvo_pid")
  window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Tarvo  ver' | head -n 1)
  [ -n "$window" ] || { echo "the main window did not appear" >&2; exit 1; }
  xdotool windowmove "$window" 0 0
  # The size of a 1366×768 laptop's screen (at twice the size, twice as many pixels).
  xdotool windowsize "$window" $((1366 * $1)) $((768 * $1))
  xdotool windowfocus "$window"
  sleep 2
  # A click into the Display page's "Time" field gives the window the keyboard (without a window
  # manager nothing else does) and changes nothing.
  click "${time_field[@]}" 1
}
stop_tarvo() {
  kill "$tarvo_pid" 2>/dev/null || true
  wait "$tarvo_pid" 2>/dev/null || true
}
# A click at a point of the main window given in its unscaled pixels.
click() {
  xdotool mousemove --window "$window" "$(($1 * scale))" "$(($2 * scale))" click 1
  sleep "${3:-1}"
}
next_page() {
  xdotool key --clearmodifiers ctrl+Tab
  sleep 1.5
}
shot() {
  import -window "$window" "$out/$1.png"
  echo "$out/$1.png"
}

# Where the few controls the keyboard cannot reach sit in the main window, in unscaled pixels (at the
# window's first size). Each click is followed by a picture, so a moved control shows at once.
find_device=(352 124)
run_button=(71 181)
show_big_display=(915 80)
clear_terminal=(1281 102)
time_field=(100 565)

# Every page at normal size. The window opens on the Display page; the family page stays hidden
# until a device is found, so the first round of Ctrl+Tab passes Options, Terminal, Commands and
# Programming.
scale=1
start_tarvo 1
next_page
next_page
click "${clear_terminal[@]}" 1
sleep 2                                     # what arrives from the device: the weight stream
shot terminal
next_page
shot commands
next_page
shot programming
next_page
click "${find_device[@]}" 4                 # the device is found: its family page appears
click "${run_button[@]}" 7                  # a whole dosing cycle, a marker at each state
shot display
next_page
shot options
click "${show_big_display[@]}" 2
big=$(timeout 10 xdotool search --sync --onlyvisible --name '^Display$' | head -n 1)
# Without a window manager windows open at the top left: move it off the main window.
xdotool windowmove "$big" 1400 0
sleep 1
import -window "$big" "$out/big-display.png"
echo "$out/big-display.png"
next_page
next_page
sleep 2                                     # the family page reads the device's parameters
shot family
stop_tarvo

# The Display page at twice the size: texts, the scope's axes and lines must keep their proportions.
scale=2
start_tarvo 2
click "${find_device[@]}" 4
click "${run_button[@]}" 7
shot display-2x
stop_tarvo
