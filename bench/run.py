#!/usr/bin/env python3
"""Renders the benchmark scenes with `velquin render --stats --quiet` and prints a table.

    python3 bench/run.py BUILD_OR_PROGRAM [--scenes DIR] [--threads N ...] [--only NAME ...]
                         [--repeat K] [--plugins DIR] [--csv FILE] [--keep-images DIR]
                         [--compare OTHER [--other-plugins DIR]]
    python3 bench/run.py --list

BUILD_OR_PROGRAM is a build folder (its apps/velquin/velquin is used, with the plug-in module
beside it), a folder holding a velquin program, or the program itself. The scenes are the
generated ones of bench/make_scenes.py (missing ones are written first) and the example scenes
shipped in scenes/, read from there as they are. Each figure is the median of K runs; with
several --threads values a speed-up column gives the render time at the first value divided by
the render time at this one, and a wall speed-up column the same for the whole process.

With --compare OTHER (a second build or program), every scene and thread count is rendered by
both in alternation, this one first in each of K pairs (default 3), and the table gives the
medians of each and, per row, the median over the pairs of OTHER's time / this one's: above 1,
this build is faster. The two images must be the same, byte for byte; the exit status is 1 when
any differ or any render failed.
"""
import argparse
import csv
import json
import math
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
COMPARE_COLUMNS = [
    ("scene", "scene", "{}"),
    ("metaballs", "metaballs", "{:,}"),
    ("threads", "threads", "{}"),
    ("render", "render s", "{:.3f}"),
    ("other_render", "other render s", "{:.3f}"),
    ("render_ratio", "render other/this", "{:.3f}"),
    ("wall", "wall s", "{:.2f}"),
    ("other_wall", "other wall s", "{:.2f}"),
    ("wall_ratio", "wall other/this", "{:.3f}"),
    ("image", "image", "{}"),
]
COMPARE_BOUNDS = BOUNDS + [("other_skipped_pct", "other skipped %", "{:.1f}"),
                           ("other_candidates", "other cand/leaf", "{:.2f}")]


def usage_error(message):
    print(f"run.py: {message}", file=sys.stderr)
    sys.exit(2)


def find_program(arg, what="BUILD_OR_PROGRAM"):
    if os.path.isdir(arg):
        for prog in (os.path.join(arg, "apps", "velquin", "velquin"), os.path.join(arg, "velquin")):
            if os.path.isfile(prog) and os.access(prog, os.X_OK):
                return prog
        usage_error(f"{what} {arg} is a folder with neither apps/velquin/velquin nor velquin in "
                    "it: build the velquin and VelquinMetaball targets there first")
    if os.path.isfile(arg) and os.access(arg, os.X_OK):
        return arg
    usage_error(f"{what} {arg}: neither a build folder nor a program")


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


def same_image(path_a, path_b):
    # The PNG encoder is deterministic: the same pixels give the same bytes.
    with open(path_a, "rb") as a, open(path_b, "rb") as b:
        return a.read() == b.read()


def geometric_mean(values):
    values = [v for v in values if v is not None and v > 0]
    return math.exp(statistics.fmean(math.log(v) for v in values)) if values else None


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
                rows.append(failed_row(name, metaballs, threads, e))
                failed += 1
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


def failed_row(name, metaballs, threads, error):
    """Says why a scene's renders failed and gives its row in the table."""
    print(f"run.py: {name}, {threads} thread(s): {error}", file=sys.stderr)
    return {"scene": name + " (failed)", "metaballs": metaballs, "threads": threads}


def pair_ratio(pairs, key):
    """The median over the pairs of other / this for one figure (pairs where this is 0 left
    out: a time printed as 0.000 s gives no ratio)."""
    ratios = [b[key] / a[key] for a, b in pairs if a[key] > 0]
    return statistics.median(ratios) if ratios else None


def compare_rows(table, args, prog, other, image_dir):
    rows, failed, different = [], 0, []
    for name, (scene_path, metaballs) in table.items():
        for threads in args.threads:
            image_a = os.path.join(image_dir, f"{name}-t{threads}-this.png")
            image_b = os.path.join(image_dir, f"{name}-t{threads}-other.png")
            pairs, same = [], True
            try:
                for k in range(args.repeat):
                    # No image of an earlier pair may stand in for one a run did not write.
                    for image in (image_a, image_b):
                        if os.path.exists(image):
                            os.remove(image)
                    a = render_once(prog, scene_path, threads, args.plugins, image_a)
                    b = render_once(other, scene_path, threads, args.other_plugins, image_b)
                    pairs.append((a, b))
                    same = same_image(image_a, image_b) and same
                    print(f"  {name}, {threads} thread{'s' if threads > 1 else ''}, pair "
                          f"{k + 1}/{args.repeat}: {a['render']:.3f} s render, other "
                          f"{b['render']:.3f} s", file=sys.stderr)
            except RuntimeError as e:
                rows.append(failed_row(name, metaballs, threads, e))
                failed += 1
                continue
            this_runs = [a for a, _ in pairs]
            other_runs = [b for _, b in pairs]
            row = {"scene": name, "metaballs": metaballs if metaballs is not None else
                   this_runs[0]["metaballs"], "threads": threads,
                   "render_ratio": pair_ratio(pairs, "render"),
                   "wall_ratio": pair_ratio(pairs, "wall"),
                   "image": "same image" if same else "DIFFERENT IMAGE"}
            for key in ("render", "wall", *OPTIONAL_KEYS):
                row[key] = median_of(this_runs, key)
                row["other_" + key] = median_of(other_runs, key)
            if not same:
                different.append(f"{name}, {threads} thread(s)")
            rows.append(row)
    # One geometric mean of the per-row ratios for each thread count.
    for threads in args.threads:
        done = [r for r in rows if r["threads"] == threads and "render_ratio" in r]
        if done:
            rows.append({"scene": "geometric mean", "threads": threads,
                         "render_ratio": geometric_mean(r["render_ratio"] for r in done),
                         "wall_ratio": geometric_mean(r["wall_ratio"] for r in done)})
    for d in different:
        print(f"run.py: {d}: the two programs wrote different images", file=sys.stderr)
    cols = COMPARE_COLUMNS + present(rows, COMPARE_BOUNDS)
    return rows, cols, failed + len(different)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("program", metavar="BUILD_OR_PROGRAM", nargs="?")
    ap.add_argument("--scenes", metavar="DIR",
                    help="folder of the generated scenes (default: bench-scenes in the build "
                    "folder, or in the system's temporary folder when a program is given)")
    ap.add_argument("--threads", type=int, nargs="+", default=[1], metavar="N")
    ap.add_argument("--only", nargs="+", metavar="NAME", choices=ALL_SCENES)
    ap.add_argument("--list", action="store_true", help="print the scene names and stop")
    ap.add_argument("--repeat", type=int, metavar="K",
                    help="runs per figure (median); with --compare, pairs of runs (default 1, "
                    "with --compare 3)")
    ap.add_argument("--plugins", metavar="DIR", help="plug-in folder for velquin render")
    ap.add_argument("--compare", metavar="OTHER",
                    help="a second build folder or velquin program, rendered in alternation "
                    "with this one")
    ap.add_argument("--other-plugins", metavar="DIR",
                    help="plug-in folder for the --compare program (default: the one beside it)")
    ap.add_argument("--csv", metavar="FILE", help="also write the rows as CSV ('-': stdout)")
    ap.add_argument("--keep-images", metavar="DIR", help="keep the rendered images here")
    args = ap.parse_args()
    if args.list:
        list_scenes()
        return 0
    if args.program is None:
        ap.error("BUILD_OR_PROGRAM is required unless --list")
    if args.other_plugins and not args.compare:
        ap.error("--other-plugins only goes with --compare")
    if args.repeat is None:
        args.repeat = 3 if args.compare else 1
    if args.repeat < 1 or any(t < 1 for t in args.threads):
        ap.error("--repeat and --threads take whole numbers of at least 1")

    prog = find_program(args.program)
    other = find_program(args.compare, "--compare") if args.compare else None
    scene_dir = args.scenes or (
        os.path.join(args.program, "bench-scenes") if os.path.isdir(args.program) else
        os.path.join(tempfile.gettempdir(), "velquin-bench-scenes"))
    table = scene_table(scene_dir, args.only or ALL_SCENES)
    image_dir = args.keep_images or tempfile.mkdtemp(prefix="velquin-bench-")
    os.makedirs(image_dir, exist_ok=True)

    try:
        if other:
            rows, cols, failed = compare_rows(table, args, prog, other, image_dir)
        else:
            rows, cols, failed = plain_rows(table, args, prog, image_dir)
    finally:
        if not args.keep_images:
            shutil.rmtree(image_dir, ignore_errors=True)

    print(format_table(rows, cols))
    runs = f"{args.repeat} run{'s' if args.repeat > 1 else ''}"
    if other:
        print(f"\nthis: {prog}\nother: {other}\n"
              f"{args.repeat} alternating pair{'s' if args.repeat > 1 else ''} (this, then "
              "other); seconds are medians; other/this is the median over the pairs of the\n"
              "other's time / this one's: above 1, this build is faster; wall = the whole "
              "velquin process, loading included")
    else:
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
