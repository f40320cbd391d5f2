#!/usr/bin/env python3
"""Renders the benchmark scenes with `velquin render --stats --quiet` and prints a table.

    python3 bench/run.py BUILD_OR_PROGRAM [--scenes DIR] [--threads N ...] [--only NAME ...]
                         [--repeat K] [--plugins DIR] [--csv FILE] [--keep-images DIR]
    python3 bench/run.py --list

BUILD_OR_PROGRAM is a build folder (its apps/velquin/velquin is used, with the plug-in module
beside it), a folder holding a velquin program, or the program itself. The scenes are the
generated ones of bench/make_scenes.py (missing ones are written first) and the example scenes
shipped in scenes/, read from there as they are. Each figure is the median of K runs; with
several --threads values a speed-up column gives the render time at the first value divided by
the render time at this one, and a wall speed-up column the same for the whole process.

"""
import argparse
import csv
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # no __pycache__ left in the source tree
import make_scenes  # noqa: E402  (the scene list and the generator)

# The lines of `velquin render --stats` this table reads.
STATS = {
    "compile": re.compile(r"^\s*frame compile:\s*([0-9.]+) s", re.M),
    "build": re.compile(r"^\s*scene build:\s*([0-9.]+) s", re.M),
    "render": re.compile(r"^\s*render:\s*([0-9.]+) s on (\d+) threads", re.M),
    "rays": re.compile(r"^\s*total rays:\s*(\d+)", re.M),
    "rays_per_s": re.compile(r"^\s*rays per second:\s*([0-9.]+)", re.M),
    "peak_mib": re.compile(r"^\s*peak memory:\s*([0-9.]+) MiB", re.M),
}
# Lines only some builds print: a figure is None when its line is missing.
_NUM = r"([0-9.]+|nan|inf)"
OPTIONAL_STATS = {
    "metaballs": (re.compile(r"^\s*metaballs:\s*(\d+)", re.M), {1: "metaballs"}),
    "skipped": (re.compile(r"^\s*skipped by bounds:\s*" + _NUM + r" march samples per camera "
                           r"ray \(" + _NUM + r"% of all march samples\)", re.M),
                {1: "skipped_per_ray", 2: "skipped_pct"}),
    "candidates": (re.compile(r"^\s*candidates:\s*" + _NUM + r" per leaf visit \(" + _NUM +
                              r" leaf visits per camera ray\)", re.M),
                   {1: "candidates", 2: "leaf_visits"}),
}
OPTIONAL_KEYS = [k for _, groups in OPTIONAL_STATS.values() for k in groups.values()
                 if k != "metaballs"]

# The example scenes shipped in scenes/, rendered as they are: name in the table: (file, what).
SCENE_DIR = os.path.join(os.path.dirname(HERE), "scenes")
EXAMPLES = {
    "scene-default": ("default.json", "scenes/default.json: the vertices of a torus and 14 "
                      "particles, 1 spp, shadows"),
    "scene-average": ("average.json", "scenes/average.json: a box's 8 corners as the "
                      "average-distance surface, 4 spp"),
    "scene-noise": ("noise.json", "scenes/noise.json: a sphere's vertices with a noise texture, "
                    "4 spp"),
    "scene-glass": ("glass.json", "scenes/glass.json: four metaballs in glass before three boxes, "
                    "4 spp, depth 8"),
}
ALL_SCENES = list(make_scenes.SCENES) + list(EXAMPLES)

COLUMNS = [  # key, heading, format
    ("scene", "scene", "{}"),
    ("metaballs", "metaballs", "{:,}"),
    ("threads", "threads", "{}"),
    ("build", "build s", "{:.3f}"),
    ("compile", "compile s", "{:.3f}"),
    ("render", "render s", "{:.3f}"),
    ("rays_per_s", "rays/s", "{:,.0f}"),
    ("peak_mib", "peak MiB", "{:.1f}"),
    ("wall", "total wall s", "{:.2f}"),
]
SPEEDUP = [("speedup", "speed-up", "{:.2f}x"), ("wall_speedup", "wall speed-up", "{:.2f}x")]
# Shown when at least one row has them (builds that print the lines).
BOUNDS = [("skipped_pct", "skipped %", "{:.1f}"), ("candidates", "cand/leaf", "{:.2f}")]


def usage_error(message):
    print(f"run.py: {message}", file=sys.stderr)
    sys.exit(2)


def find_program(arg):
    if os.path.isdir(arg):
        for prog in (os.path.join(arg, "apps", "velquin", "velquin"), os.path.join(arg, "velquin")):
            if os.path.isfile(prog) and os.access(prog, os.X_OK):
                return prog
        usage_error(f"{arg} is a folder with neither apps/velquin/velquin nor velquin in "
                    "it: build the velquin and VelquinMetaball targets there first")
    if os.path.isfile(arg) and os.access(arg, os.X_OK):
        return arg
    usage_error(f"{arg}: neither a build folder nor a program")


def ensure_scenes(scene_dir, names):
    index_path = os.path.join(scene_dir, "index.json")
    index = {}
    if os.path.exists(index_path):
        with open(index_path) as f:
            index = json.load(f)
    missing = [n for n in names
               if n not in index or not all(os.path.exists(os.path.join(scene_dir, index[n][k]))
                                            for k in ("scene", "points"))]
    if missing:
        print(f"writing scenes {' '.join(missing)} to {scene_dir}", file=sys.stderr)
        subprocess.run([sys.executable, os.path.join(HERE, "make_scenes.py"), scene_dir,
                        "--only", *missing], check=True, stdout=subprocess.DEVNULL)
        with open(index_path) as f:
            index = json.load(f)
    return index


def scene_table(scene_dir, names):
    """name: (scene file, metaball count or None when only --stats tells) for the chosen names."""
    generated = [n for n in names if n in make_scenes.SCENES]
    index = ensure_scenes(scene_dir, generated) if generated else {}
    table = {}
    for name in names:
        if name in EXAMPLES:
            path = os.path.join(SCENE_DIR, EXAMPLES[name][0])
            if not os.path.isfile(path):
                sys.exit(f"run.py: {name}: no {path} (the example scenes are read from the "
                         "repository's scenes folder)")
            table[name] = (path, None)
        else:
            table[name] = (os.path.join(scene_dir, index[name]["scene"]), index[name]["metaballs"])
    return table


def render_once(prog, scene_path, threads, plugins, image):
    cmd = [prog, "render", scene_path, "-o", image, "--stats", "--quiet", "--threads",
           str(threads)]
    if plugins:
        cmd += ["--plugins", plugins]
    t0 = time.monotonic()
    p = subprocess.run(cmd, capture_output=True, text=True)
    wall = time.monotonic() - t0
    if p.returncode != 0:
        raise RuntimeError(f"exit {p.returncode}: {' '.join(cmd)}\n{p.stderr.strip()}")
    out = {"wall": wall}
    for key, rx in STATS.items():
        m = rx.search(p.stdout)
        if not m:
            raise RuntimeError(f"no '{key}' line in the statistics of {' '.join(cmd)}:\n"
                               f"{p.stdout}")
        out[key] = float(m.group(1))
    for rx, groups in OPTIONAL_STATS.values():
        m = rx.search(p.stdout)
        for group, key in groups.items():
            out[key] = None if m is None else float(m.group(group))
    if out["metaballs"] is not None:
        out["metaballs"] = int(out["metaballs"])
    return out


def median_of(runs, key):
    """The median of a figure over runs, or None when any run lacks it."""
    values = [r[key] for r in runs]
    return None if any(v is None for v in values) else statistics.median(values)


def format_table(rows, cols):
    cells = [[h for _, h, _ in cols]]
    for r in rows:
        cells.append([fmt.format(r[k]) if r.get(k) is not None else "-" for k, _, fmt in cols])
    widths = [max(len(c[i]) for c in cells) for i in range(len(cols))]
    lines = []
    for n, c in enumerate(cells):
        # The scene name reads left to right; the figures line up on the right.
        lines.append("  ".join(c[0].ljust(widths[0]) if i == 0 else c[i].rjust(widths[i])
                               for i in range(len(cols))).rstrip())
        if n == 0:
            lines.append("  ".join("-" * w for w in widths))
    return "\n".join(lines)


def present(rows, optional):
    """The optional columns at least one row has a figure for."""
    return [c for c in optional if any(r.get(c[0]) is not None for r in rows)]


def list_scenes():
    for name, s in make_scenes.SCENES.items():
        print(f"{name:17} {s[2]:>9}  {s[6]}")
    for name, (_, what) in EXAMPLES.items():
        print(f"{name:17} {'-':>9}  {what}")


def plain_rows(table, args, prog, image_dir):
    rows, failed = [], 0
    for name, (scene_path, metaballs) in table.items():
        first_render = first_wall = None
        for threads in args.threads:
            runs = []
            try:
                for _ in range(args.repeat):
                    runs.append(render_once(prog, scene_path, threads, args.plugins,
                                            os.path.join(image_dir, f"{name}-t{threads}.png")))
            except RuntimeError as e:
                print(f"run.py: {name}, {threads} thread(s): {e}", file=sys.stderr)
                failed += 1
                rows.append({"scene": name + " (failed)", "metaballs": metaballs,
                             "threads": threads})
                continue
            row = {"scene": name, "metaballs": metaballs if metaballs is not None else
                   runs[0]["metaballs"], "threads": threads}
            for key in ("build", "compile", "render", "rays_per_s", "peak_mib", "wall",
                        *OPTIONAL_KEYS):
                row[key] = median_of(runs, key)
            if first_render is None:
                first_render, first_wall = row["render"], row["wall"]
            row["speedup"] = first_render / row["render"] if row["render"] > 0 else None
            row["wall_speedup"] = first_wall / row["wall"] if row["wall"] > 0 else None
            rows.append(row)
            print(f"  {name}, {threads} thread{'s' if threads > 1 else ''}: "
                  f"{row['render']:.3f} s render",
                  file=sys.stderr)
    cols = COLUMNS + (SPEEDUP if len(args.threads) > 1 else []) + present(rows, BOUNDS)
    return rows, cols, failed


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("program", metavar="BUILD_OR_PROGRAM", nargs="?")
    ap.add_argument("--scenes", metavar="DIR",
                    help="folder of the generated scenes (default: bench-scenes in the build "
                    "folder, or in the system's temporary folder when a program is given)")
    ap.add_argument("--threads", type=int, nargs="+", default=[1], metavar="N")
    ap.add_argument("--only", nargs="+", metavar="NAME", choices=ALL_SCENES)
    ap.add_argument("--list", action="store_true", help="print the scene names and stop")
    ap.add_argument("--repeat", type=int, default=1, metavar="K", help="runs per figure (median)")
    ap.add_argument("--plugins", metavar="DIR", help="plug-in folder for velquin render")
    ap.add_argument("--csv", metavar="FILE", help="also write the rows as CSV ('-': stdout)")
    ap.add_argument("--keep-images", metavar="DIR", help="keep the rendered images here")
    args = ap.parse_args()
    if args.list:
        list_scenes()
        return 0
    if args.program is None:
        ap.error("BUILD_OR_PROGRAM is required unless --list")
    if args.repeat < 1 or any(t < 1 for t in args.threads):
        ap.error("--repeat and --threads take whole numbers of at least 1")

    prog = find_program(args.program)
    scene_dir = args.scenes or (
        os.path.join(args.program, "bench-scenes") if os.path.isdir(args.program) else
        os.path.join(tempfile.gettempdir(), "velquin-bench-scenes"))
    table = scene_table(scene_dir, args.only or ALL_SCENES)
    image_dir = args.keep_images or tempfile.mkdtemp(prefix="velquin-bench-")
    os.makedirs(image_dir, exist_ok=True)

    try:
        rows, cols, failed = plain_rows(table, args, prog, image_dir)
    finally:
        if not args.keep_images:
            shutil.rmtree(image_dir, ignore_errors=True)

    print(format_table(rows, cols))
    runs = f"{args.repeat} run{'s' if args.repeat > 1 else ''}"
    print(f"\n{prog}; median of {runs}; "
          "wall = the whole velquin process, loading included")
    if args.csv:
        f = sys.stdout if args.csv == "-" else open(args.csv, "w", newline="")
        w = csv.writer(f)
        w.writerow([k for k, _, _ in cols])
        for r in rows:
            w.writerow(["" if r.get(k) is None else
                        round(r[k], 4) if isinstance(r[k], float) else r[k] for k, _, _ in cols])
        if f is not sys.stdout:
            f.close()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
