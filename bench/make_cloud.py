#!/usr/bin/env python3
"""Writes the one-million-particle benchmark scene: cloud.ply (binary little-endian points with
x, y, z, radius and an 8-bit colour) and cloud.json, a scene that renders them as metaballs.

The points come from a fixed seed, so every run writes the same files. They are generated, not
kept in the repository:

    python3 bench/make_cloud.py OUTDIR [--count N]
    velquin render OUTDIR/cloud.json -o cloud.png --stats
"""
import argparse
import json
import math
import os
import random
import struct


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("outdir", nargs="?", default=".")
    ap.add_argument("--count", type=int, default=1_000_000)
    ap.add_argument("--seed", type=int, default=20120)
    args = ap.parse_args()
    os.makedirs(args.outdir, exist_ok=True)
    rng = random.Random(args.seed)

    # A few dense clumps in a loose shell: blobby where points crowd, open between.
    clumps = [(rng.uniform(-60, 60), rng.uniform(-60, 60), rng.uniform(30, 120),
               rng.uniform(8, 22)) for _ in range(24)]
    header = (
        "ply\nformat binary_little_endian 1.0\n"
        f"comment velquin benchmark cloud, seed {args.seed}\n"
        f"element vertex {args.count}\n"
        "property float x\nproperty float y\nproperty float z\nproperty float radius\n"
        "property uchar red\nproperty uchar green\nproperty uchar blue\n"
        "end_header\n").encode("ascii")
    rec = struct.Struct("<ffffBBB")
    with open(os.path.join(args.outdir, "cloud.ply"), "wb") as f:
        f.write(header)
        chunk = []
        for i in range(args.count):
            cx, cy, cz, cr = clumps[rng.randrange(len(clumps))]
            # Uniform in a ball of radius cr around the clump centre.
            while True:
                x, y, z = rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(-1, 1)
                if x * x + y * y + z * z <= 1.0:
                    break
            px, py, pz = cx + x * cr, cy + y * cr, cz + z * cr
            t = min(1.0, max(0.0, (pz - 20.0) / 110.0))
            col = (int(255 * (0.95 - 0.7 * t)), int(255 * (0.35 + 0.3 * t)), int(255 * (0.15 + 0.8 * t)))
            chunk.append(rec.pack(px, py, pz, 0.6, *col))
            if len(chunk) == 65536:
                f.write(b"".join(chunk))
                chunk.clear()
        f.write(b"".join(chunk))

    scene = {
        "render": {"width": 640, "height": 480, "spp": 1},
        "camera": {"position": [0, -330, 160], "target": [0, 0, 70], "fov": 40},
        "background": {"top": [0.1, 0.12, 0.2], "bottom": [0.5, 0.52, 0.58]},
        "lights": [
            {"type": "directional", "direction": [-0.4, 0.7, -1.0], "color": [1, 0.96, 0.9],
             "intensity": 1.0},
            {"type": "dome", "sky": [0.3, 0.32, 0.4], "color": [0.1, 0.1, 0.1], "intensity": 1.0},
        ],
        "materials": {
            "cloud": {"type": "glossy", "color": "surface", "specular": 0.3, "shininess": 30,
                      "reflection": 0.0},
            "ground": {"type": "diffuse", "color": [0.5, 0.5, 0.5]},
        },
        "nodes": [
            {"name": "ground", "type": "plane", "length": 3000, "width": 3000, "visible": True,
             "material": "ground"},
            {"name": "points", "type": "particles", "file": "cloud.ply", "as": "pflow"},
            {"name": "cloud", "class": "VelquinMetaball", "material": "cloud",
             "params": {"radius": 2.0, "threshold": 0.5, "step": 0.3, "error": 0.001, "color": 1,
                        "leafLength": 4.0},
             "nodes": ["points"]},
        ],
    }
    with open(os.path.join(args.outdir, "cloud.json"), "w") as f:
        json.dump(scene, f, indent=1)
        f.write("\n")
    print(f"wrote {args.count} points to {os.path.join(args.outdir, 'cloud.ply')} and the scene "
          f"{os.path.join(args.outdir, 'cloud.json')}")


if __name__ == "__main__":
    main()
