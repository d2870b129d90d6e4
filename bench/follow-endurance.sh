#!/usr/bin/env bash
# Endurance of "tarvo-cli record --follow": a simulated transmitter streaming as fast as the line carries at
# 115200 baud for MINUTES (default 10), the jsonl stream checked line by line as it comes.
# The transmitter's value lines count (the simulator's counter key), so the checker sees a line the
# device sent and the file lacks, or holds twice, from the values alone, not only from the recorder's own
# sequence numbers. Prints the samples, the sequence gaps and repeats and the device lines lost and
# repeated (all must be 0), the resident memory after the first minute and at the end (must stay within
# 5 MB), and the CPU the recorder used (share of one core).
#   bash bench/follow-endurance.sh [MINUTES] [BUILD_DIR]      (BUILD_DIR default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
minutes="${1:-10}"
build="${2:-build/release}"
if ! [ "$minutes" -ge 2 ] 2>/dev/null; then
  echo "MINUTES must be 2 or more (the first minute is the memory baseline)" >&2
  exit 2
fi
cli="$build/src/tarvo-cli"
sim="$build/tools/devsim/tarvo-devsim"
work=$(mktemp -d)
simpid=""
clipid=""
cleanup() {
  [ -n "$clipid" ] && kill "$clipid" 2>/dev/null || true
  [ -n "$simpid" ] && kill "$simpid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkfifo "$work/control"
"$sim" --device "line=1,id=4110,fw=1.00,decimals=0,counter=0,stream=SN,update=0" <"$work/control" >"$work/sim.out" &
simpid=$!
exec 3>"$work/control" # keeps the simulator's input open
for _ in $(seq 50); do grep -q '^line 1:' "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
line=$(awk '/^line 1:/{print $3}' "$work/sim.out")
mkdir -p "$work/config/Tarvo"
{
  printf '[ComPorts]\nCOM1=%s\n' "$line"
  for n in 2 3 4 5 6 7 8; do printf 'COM%s=\n' "$n"; done
  printf '[Port]\nBaud=115200\nComNumber=1\n'
} >"$work/config/Tarvo/Tarvo.ini"

# The checker reads the stream as a consumer would and keeps only counters.
mkfifo "$work/stream"
awk '/"seq":/ { match($0, /"seq":[0-9]+/); s = substr($0, RSTART + 6, RLENGTH - 6) + 0;
                if (s == last + 1) n++; else if (s <= last) rep++; else gap += s - last - 1; last = s
                match($0, /"value":[0-9]+/); v = substr($0, RSTART + 8, RLENGTH - 8) + 0;
                if (n > 1) { d = (v - lastv + 100000) % 100000;
                             if (d == 0) vrep++; else if (d > 1) lost += d - 1 }
                lastv = v }
     END { printf "samples %d\ngaps %d\nrepeats %d\ndevice lines lost %d\ndevice lines repeated %d\n",
                  n, gap, rep, lost, vrep }' <"$work/stream" >"$work/check" &
checker=$!
XDG_CONFIG_HOME="$work/config" "$cli" record --follow --format jsonl - --seconds $((minutes * 60)) \
  >"$work/stream" 2>"$work/cli.err" &
clipid=$!

rss() { awk '/^VmRSS:/{print $2}' "/proc/$clipid/status"; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$clipid/stat"; }
sleep 60
rss_first=$(rss)
ticks_first=$(cpu_ticks)
start=$(date +%s.%N)
sleep $((minutes * 60 - 65))
rss_end=$(rss)
ticks_end=$(cpu_ticks)
end=$(date +%s.%N)
wait "$clipid" && status=0 || status=$?
clipid=""
wait "$checker" || true
hz=$(getconf CLK_TCK)
cat "$work/check"
awk -v s="$((minutes * 60))" '/^samples /{printf "rate: %.0f samples a second (8-byte lines fill 115200 baud at 1440)\n", $2 / s}' \
  "$work/check"
echo "exit status $status"
echo "rss after 1 min: ${rss_first} kB; at end: ${rss_end} kB; growth: $((rss_end - rss_first)) kB"
awk -v a="$ticks_first" -v b="$ticks_end" -v s="$start" -v e="$end" -v hz="$hz" \
  'BEGIN { printf "cpu: %.2f %% of one core\n", (b - a) / hz / (e - s) * 100 }'
