#!/bin/bash
# run.sh [HOST_BUILD] [WIN32_BUILD]: runs the host benchmarks (default build/host) and the Wine
# benchmark (default build/win32, in tests/wine/env.sh), then prints the figures table with the
# machine it was measured on. Without a Windows build the Wine rows are left out.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
host=${1:-$root/build/host}
win32=${2:-$root/build/win32}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

"$host/bin/voxcap_bench" --benchmark_out="$out/host.json" --benchmark_out_format=json
if [ -x "$win32/bin/wine_bench.exe" ] || [ -f "$win32/bin/wine_bench.exe" ]; then
  "$root/tests/wine/env.sh" -- wine "$win32/bin/wine_bench.exe" 2>"$out/wine.err" | tr -d '\r' | tee "$out/wine.txt" ||
    { tail -n 20 "$out/wine.err" >&2; exit 1; }
else
  : >"$out/wine.txt"
fi

machine="$(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1), $(. /etc/os-release && echo "$PRETTY_NAME")"
python3 - "$out/host.json" "$out/wine.txt" "$machine" <<'PY'
import json, sys

# Repeated benchmarks count by their median; the others ran once.
host = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("aggregate_name", "median") == "median":
        host[b["name"].split("/iterations")[0]] = b
wine = {}
for line in open(sys.argv[2]):
    name, *pairs = line.split()
    wine[name] = dict(p.split("=", 1) for p in pairs)

def ns(name):
    b = host[name]
    return b["real_time"] * {"ns": 1, "us": 1e3, "ms": 1e6}[b["time_unit"]]

rows = []
for size, label in ((1024, "1 KB"), (16384, "16 KB"), (65536, "64 KB")):
    call, copy, requeue = ns(f"ngetBufferAllReady/{size}"), ns(f"memcpyBaseline/{size}"), ns(f"memcpyAndRequeueBaseline/{size}")
    allocs = int(host[f"ngetBufferAllReady/{size}"]["allocations"])
    rows.append((f"ngetBuffer, every buffer ready, {label} (stand-in)", f"{call:,.0f} ns/call, {allocs} allocations",
                 f"memcpy {copy:,.0f} ns; memcpy + re-queue {requeue:,.0f} ns",
                 f"{call / copy:.2f}x memcpy; {call / requeue:.2f}x memcpy + re-queue",
                 "within 1.2x of memcpy at 64 KB; no allocation"))
w, e = host["wakeUpLatency"], host["eventWakeUpBaseline"]
rows.append(("Wake-up, buffer done to ngetBuffer returning (stand-in)",
             f"median {w['median_us']:.0f} µs, p99 {w['p99_us']:.0f} µs",
             f"bare event hand-over: median {e['median_us']:.0f} µs, p99 {e['p99_us']:.0f} µs",
             f"p99 {w['p99_us'] / e['p99_us']:.2f}x", "p99 under 1 ms"))
c, a = host["closeWithBlockedReader"], host["closeWithoutReaderBaseline"]
rows.append(("Close with a blocked reader, until both return (stand-in)",
             f"median {c['median_us'] / 1000:.1f} ms, max {c['max_us'] / 1000:.1f} ms",
             f"close, no reader: median {a['median_us'] / 1000:.2f} ms, max {a['max_us'] / 1000:.2f} ms", "", "under 50 ms"))
b, o = host["openCloseBesideThreeBusyCaptures"], host["openCloseAloneBaseline"]
rows.append(("Open and close, 30 rounds beside three captures being read (stand-in)",
             f"open max {b['open_max_us'] / 1000:.1f} ms, close max {b['close_max_us'] / 1000:.1f} ms",
             f"no other capture: open max {o['open_max_us'] / 1000:.1f} ms, close max {o['close_max_us'] / 1000:.1f} ms",
             "", "every open and close under 100 ms"))
if "wine_close_with_blocked_reader" in wine and "median_ms" in wine["wine_close_with_blocked_reader"]:
    c, a = wine["wine_close_with_blocked_reader"], wine["wine_close_without_reader"]
    rows.append(("Close with a blocked reader, until both return (Wine, PulseAudio source)",
                 f"median {float(c['median_ms']):.1f} ms, max {float(c['max_ms']):.1f} ms",
                 f"close, no reader: median {float(a['median_ms']):.1f} ms, max {float(a['max_ms']):.1f} ms", "",
                 "under 300 ms"))
if "wine_grab_ratio" in wine:
    g, b, s = wine["wine_nGrabPixels"], wine["wine_bitblt_getdibits"], wine["wine_grab_screen"]
    d, r = wine["wine_grab_steps_directly"], wine["wine_grab_ratio"]
    rows.append((f"nGrabPixels, whole {s['width']}x{s['height']} screen (Wine, Xvfb)", f"median {float(g['median_ms']):.2f} ms",
                 f"BitBlt + GetDIBits into a kept buffer: median {float(b['median_ms']):.2f} ms; "
                 f"the same per-call steps written out directly: median {float(d['median_ms']):.2f} ms",
                 f"{float(r['ratio']):.2f}x kept buffer; {float(r['steps_ratio']):.2f}x direct steps", "within 1.3x"))

print(f"\nMachine: {sys.argv[3]}. Command: make bench (bench/run.sh).\n")
print("| Figure | Measured | Baseline, same run | Ratio | Target |")
print("|---|---|---|---|---|")
for r in rows:
    print("| " + " | ".join(r) + " |")
PY
