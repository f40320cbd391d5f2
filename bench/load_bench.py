#!/usr/bin/env python3
"""Scenes that are small files but big to load: a VelquinMetaball naming N sphere nodes, and one
whose "metaballs" table has N entries. Each is loaded, rendered at 64x48 and torn down by
`velquin render`; the table gives the wall time and the peak memory of the whole process.

    python3 bench/load_bench.py PROGRAM [PROGRAM ...] [--nodes N ...] [--table N ...]
                                [--plugins DIR] [--keep DIR]

PROGRAM is a velquin program or a build folder (its apps/velquin/velquin, with the plug-in
module beside it). Several programs are run on the same scenes, one after the other, so that a
build before a change and one after it are compared in one run. The goal: 10,000 nodes and a
1,000,000-entry table each within 10 s.
"""
import argparse
import json
import os
import random
import subprocess
import sys
import tempfile
import time


def nodes_scene(n):
    rng = random.Random(1)
    nodes = [{"name": "s%d" % i, "type": "sphere", "radius": 1, "segments": 4,
              "transform": {"position": [round(rng.uniform(-50, 50), 3) for _ in range(3)]}}
             for i in range(n)]
    nodes.append({"name": "blobs", "class": "VelquinMetaball",
                  "params": {"radius": 6, "threshold": 0.5},
                  "nodes": ["s%d" % i for i in range(n)]})
    return {"render": {"width": 64, "height": 48},
            "camera": {"position": [0, -300, 100], "target": [0, 0, 0]}, "nodes": nodes}


def table_scene(n):
    rng = random.Random(2)
    side = 16 * n ** (1 / 3)
    rows = [[round(rng.uniform(-side / 2, side / 2), 3) for _ in range(3)] for _ in range(n)]
    return {"render": {"width": 64, "height": 48},
            "camera": {"position": [0, -3 * side, side], "target": [0, 0, 0]},
            "nodes": [{"name": "blobs", "class": "VelquinMetaball",
                       "params": {"radius": 20, "threshold": 0.5}, "metaballs": rows}]}


def program_of(arg):
    if os.path.isdir(arg):
        return os.path.join(arg, "apps", "velquin", "velquin")
    return arg


def run(prog, scene, out, plugins, timeout):
    """Wall seconds and peak resident MiB of one render, or None for a failure or a timeout."""
    cmd = [prog, "render", scene, "-o", out, "--quiet"]
    if plugins:
        cmd += ["--plugins", plugins]
    t0 = time.monotonic()
    # A fresh process per run: its peak is its own (ru_maxrss of the waited-for child).
    pid = os.fork()
    if pid == 0:
        try:
            os.execv(prog, cmd)
        finally:
            os._exit(127)
    deadline = t0 + timeout
    while True:
        done, status, usage = os.wait4(pid, os.WNOHANG)
        if done:
            break
        if time.monotonic() > deadline:
            os.kill(pid, 9)
            os.wait4(pid, 0)
            return None
        time.sleep(0.02)
    wall = time.monotonic() - t0
    if not os.WIFEXITED(status) or os.WEXITSTATUS(status) != 0:
        return None
    return wall, usage.ru_maxrss / 1024.0


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("programs", nargs="+")
    ap.add_argument("--nodes", type=int, nargs="*", default=[2000, 5000, 10000])
    ap.add_argument("--table", type=int, nargs="*", default=[20000, 80000, 1000000])
    ap.add_argument("--plugins")
    ap.add_argument("--keep", help="write the scenes here and keep them")
    ap.add_argument("--timeout", type=float, default=600.0)
    a = ap.parse_args()
    work = a.keep or tempfile.mkdtemp(prefix="velquin_load_")
    os.makedirs(work, exist_ok=True)
    scenes = [("nodes", n, nodes_scene) for n in a.nodes] + \
             [("table", n, table_scene) for n in a.table]
    print(f"{'scene':<16} {'program':<40} {'wall s':>9} {'peak MiB':>9}")
    for kind, n, make in scenes:
        path = os.path.join(work, f"{kind}-{n}.json")
        if not os.path.exists(path):
            with open(path, "w") as f:
                json.dump(make(n), f, separators=(",", ":"))
        for p in a.programs:
            prog = program_of(p)
            r = run(prog, path, os.path.join(work, "out.png"), a.plugins, a.timeout)
            shown = prog if len(prog) <= 40 else "..." + prog[-37:]
            text = "failed or over the timeout" if r is None else f"{r[0]:9.2f} {r[1]:9.1f}"
            print(f"{kind + '-' + str(n):<16} {shown:<40} {text}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
