#!/usr/bin/env python3
"""Start-up of the window program against a bare Qt main window built in the same tree.

Each program is exec'd RUNS times, the two interleaved; a run's time goes from just before the exec to
the moment its main window is first exposed (the program reports it with TARVO_STARTUP_MARK set), and its
resident memory is read from /proc once the window is up. Every run starts with empty settings. Run
offscreen and, when Xvfb is installed, under a virtual X server.

    python3 bench/startup-bench.py [--runs N] [--build DIR] [--platform offscreen|xvfb|both]
                                   [--max-ratio R] [--max-extra-rss-mb M]

Prints the medians and their ratio; exits 1 when the ratio exceeds --max-ratio or the program's resident
memory exceeds the hello window's by more than --max-extra-rss-mb (0 = only report).
"""
import argparse
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

SETTLE_S = 0.3  # after the window is up, before the resident memory is read
TIMEOUT_S = 20.0


def rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def one_run(program, env):
    with tempfile.TemporaryDirectory() as home:
        run_env = dict(env, TARVO_STARTUP_MARK="1", XDG_CONFIG_HOME=home, HOME=home)
        start = time.monotonic_ns()
        proc = subprocess.Popen([program], env=run_env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE, text=True)
        # A program that never shows its window is ended; its standard error then closes.
        watchdog = threading.Timer(TIMEOUT_S, proc.kill)
        watchdog.start()
        try:
            exposed = None
            while exposed is None:
                line = proc.stderr.readline()
                if not line:
                    raise RuntimeError(f"{program} ended or timed out before its window was shown")
                if line.startswith("exposed "):
                    exposed = int(line.split()[1])
            time.sleep(SETTLE_S)
            memory = rss_kb(proc.pid)
        finally:
            watchdog.cancel()
            proc.send_signal(signal.SIGKILL)
            proc.wait(timeout=TIMEOUT_S)
            proc.stderr.close()
        return (exposed - start) / 1e6, memory / 1024.0


def measure(programs, env, runs):
    times = {p: [] for p in programs}
    memory = {p: [] for p in programs}
    one_run(programs[0], env)  # warms the file cache for both
    one_run(programs[1], env)
    for _ in range(runs):
        for p in programs:
            t, m = one_run(p, env)
            times[p].append(t)
            memory[p].append(m)
    return ({p: statistics.median(v) for p, v in times.items()},
            {p: statistics.median(v) for p, v in memory.items()})


def start_xvfb():
    if not shutil.which("Xvfb"):
        return None, None
    for display in range(97, 120):
        if os.path.exists(f"/tmp/.X11-unix/X{display}") or os.path.exists(f"/tmp/.X{display}-lock"):
            continue
        server = subprocess.Popen(["Xvfb", f":{display}", "-screen", "0", "1920x1080x24", "-nolisten", "tcp"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and not os.path.exists(f"/tmp/.X11-unix/X{display}"):
            time.sleep(0.05)
        if server.poll() is None and os.path.exists(f"/tmp/.X11-unix/X{display}"):
            return server, f":{display}"
        server.kill()
        server.wait()
    return None, None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=15)
    parser.add_argument("--build", default="build/release")
    parser.add_argument("--platform", choices=["offscreen", "xvfb", "both"], default="both")
    parser.add_argument("--program", help="the window program (default BUILD/src/tarvo)")
    parser.add_argument("--hello", help="the hello window (default BUILD/bench/QtHello)")
    parser.add_argument("--max-ratio", type=float, default=0)
    parser.add_argument("--max-extra-rss-mb", type=float, default=0)
    args = parser.parse_args()
    programs = [args.program or os.path.join(args.build, "src/tarvo"),
                args.hello or os.path.join(args.build, "bench/QtHello")]
    for p in programs:
        if not os.access(p, os.X_OK):
            sys.exit(f"no {p}: build the release configuration's tarvo and QtHello")

    base = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    failed = False
    print(f"{'platform':<10} {'tarvo ms':>9} {'hello ms':>9} {'ratio':>6} {'tarvo MB':>9} {'hello MB':>9} "
          f"{'extra MB':>9}")
    for platform in (["offscreen", "xvfb"] if args.platform == "both" else [args.platform]):
        server = None
        if platform == "offscreen":
            env = dict(base, QT_QPA_PLATFORM="offscreen")
        else:
            server, display = start_xvfb()
            if not server:
                print("xvfb: Xvfb not installed or no free display, skipped")
                if args.platform == "xvfb":
                    failed = True
                continue
            env = dict(base, QT_QPA_PLATFORM="xcb", DISPLAY=display)
        try:
            times, memory = measure(programs, env, args.runs)
        finally:
            if server:
                server.terminate()
                server.wait(timeout=10)
        ratio = times[programs[0]] / times[programs[1]]
        extra = memory[programs[0]] - memory[programs[1]]
        print(f"{platform:<10} {times[programs[0]]:9.1f} {times[programs[1]]:9.1f} {ratio:6.2f} "
              f"{memory[programs[0]]:9.1f} {memory[programs[1]]:9.1f} {extra:9.1f}")
        if args.max_ratio and ratio > args.max_ratio:
            print(f"  start-up ratio {ratio:.2f} exceeds {args.max_ratio}")
            failed = True
        if args.max_extra_rss_mb and extra > args.max_extra_rss_mb:
            print(f"  resident memory {extra:.1f} MB above the hello window's exceeds {args.max_extra_rss_mb} MB")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
