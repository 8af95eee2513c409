"""Mapping 10^6 rays through the example triplet's polynomial from Python
(tavokestrim.Kestrim.map) against the same loop inside KESTRIM
(bench_kestrim, BM_Coftran1M). Run from the build folder:

    PYTHONPATH=python python3 ../bench/python_map.py
"""
import json
import subprocess
import sys
import time
from pathlib import Path

import numpy as np

import tavokestrim as tk

source = Path(__file__).resolve().parents[1]
n = 1000000
i = np.arange(n)
rays = np.empty((n, 5))
rays[:, 0] = 5e-6 * ((i % 101) / 50.0 - 1.0)
rays[:, 1] = 2e-5 * ((i % 97) / 48.0 - 1.0)
rays[:, 2] = 5e-6 * ((i % 89) / 44.0 - 1.0)
rays[:, 3] = 2e-5 * ((i % 83) / 41.0 - 1.0)
rays[:, 4] = 0.5 * ((i % 79) / 39.0 - 1.0)

k = tk.Kestrim()
k.read_cof(str(source / "examples" / "triplet.cof"))
k.map(rays)                       # warm-up
def best_of(f, n=7):
    times = []
    for _ in range(n):
        t0 = time.perf_counter()
        f()
        times.append(time.perf_counter() - t0)
    return min(times)


# Into an array of its own (as KESTRIM's loop writes into one buffer), and
# into a new array each time (its first touch of 40 MB included).
out = np.empty_like(rays)
best = best_of(lambda: k.map(rays, out=out))
fresh = best_of(lambda: k.map(rays))
print("Python  map of 10^6 rays: %.1f ms into out=, %.1f ms into a new array" % (1e3 * best, 1e3 * fresh))

bench = Path("bench_kestrim")
if bench.exists():
    out = subprocess.run([str(bench.resolve()), "--benchmark_filter=BM_Coftran1M", "--benchmark_repetitions=7",
                          "--benchmark_format=json"], capture_output=True, text=True, check=True).stdout
    runs = [b for b in json.loads(out)["benchmarks"] if b.get("run_type") == "iteration"]
    inside = min(b["real_time"] for b in runs) / 1e3   # ms -> s
    print("KESTRIM map of 10^6 rays: %.1f ms" % (1e3 * inside))
    print("ratio Python / KESTRIM: %.3f with out=, %.3f with a new array (goal <= 1.2)"
          % (best / inside, fresh / inside))
else:
    print("bench_kestrim not built here: no KESTRIM figure", file=sys.stderr)
