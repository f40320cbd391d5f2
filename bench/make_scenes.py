#!/usr/bin/env python3
"""Writes the benchmark scenes for `velquin render`: binary little-endian PLY point files and
JSON scenes, one pair per scene, plus index.json (names, metaball counts, files) for bench/run.py.

    python3 bench/make_scenes.py OUTDIR [--only NAME ...] [--list]

Every scene comes from a fixed seed, so each run writes identical files. They are generated,
not kept in the repository. The scenes (see bench/README.md):

    cloud-1k, cloud-10k, cloud-100k, cloud-1m   uniform clouds of 1k .. 1M metaballs
    cloud-100k-step01   the 100k cloud's points marched with "step": 0.1
    sheet     a jittered grid of metaballs in a plane
    strand    metaballs strung along a helix wound round a ring
    stream    a particle jet with velocities, rendered with motion blur
    average   a cloud rendered as the average-distance surface
"""
import argparse
import array
import json
import math
import os
import random
import sys

# Every scene looks at the origin from the same direction, with +Z up.
AZIMUTH_DEG = -60.0
ELEVATION_DEG = 25.0
FOV_DEG = 40.0  # vertical
FILL = 0.95  # fraction of the half-angle tangents the fitted box may use
# Distance kept beyond the corner fit, in metaball radii: the blobs round the outermost centres
# reach past the box of the centres by the same amount whatever the cloud's size. The value is
# fitted to the camera positions the clouds have always used, (201.5, -348.9, 187.8) for 1k and
# (875.4, -1516.2, 816.4) for 100k; it meets both within 0.1 in each coordinate.
MARGIN_RADII = 1.7935


def _sub(a, b):
    return (a[0] - b[0], a[1] - b[1], a[2] - b[2])


def _dot(a, b):
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]


def _cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def _unit(a):
    n = math.sqrt(_dot(a, a))
    return (a[0] / n, a[1] / n, a[2] / n)


def fit_camera(half, radius, width, height, azimuth=AZIMUTH_DEG, elevation=ELEVATION_DEG,
               fov=FOV_DEG, fill=FILL):
    """Camera position looking at the origin from (azimuth, elevation) at the distance where the
    box of the metaball centres (half extents `half`, centred on the origin) fills `fill` of the
    view, plus MARGIN_RADII radii.

    Perspective fit: a corner p with depth e = p.w towards the camera and lateral offsets a = p.u,
    b = p.v lies inside the fraction of the view when |a| <= fill tan(hfov/2) (d - e) and
    |b| <= fill tan(vfov/2) (d - e); d is the least distance that holds for all 8 corners."""
    az, el = math.radians(azimuth), math.radians(elevation)
    w = (math.cos(el) * math.cos(az), math.cos(el) * math.sin(az), math.sin(el))  # to the camera
    fwd = (-w[0], -w[1], -w[2])
    u = _unit(_cross(fwd, (0.0, 0.0, 1.0)))
    v = _cross(u, fwd)
    tv = math.tan(math.radians(fov) / 2.0)
    th = tv * width / height
    d = 0.0
    for sx in (-1, 1):
        for sy in (-1, 1):
            for sz in (-1, 1):
                p = (sx * half[0], sy * half[1], sz * half[2])
                e = _dot(p, w)
                d = max(d, e + abs(_dot(p, u)) / (fill * th), e + abs(_dot(p, v)) / (fill * tv))
    d += MARGIN_RADII * radius
    return [round(d * c, 1) for c in w]


# --- point files ---------------------------------------------------------------------------


def write_ply(path, comment, points, velocities=None):
    """Binary little-endian PLY: float x y z, and float vx vy vz (units per frame) when given."""
    props = ["x", "y", "z"] + (["vx", "vy", "vz"] if velocities is not None else [])
    header = ("ply\nformat binary_little_endian 1.0\n" + f"comment {comment}\n" +
              f"element vertex {len(points) // 3}\n" +
              "".join(f"property float {p}\n" for p in props) + "end_header\n").encode("ascii")
    if velocities is None:
        data = points
    else:
        data = array.array("f", bytes(4 * (len(points) + len(velocities))))
        data[0::6], data[1::6], data[2::6] = points[0::3], points[1::3], points[2::3]
        data[3::6], data[4::6], data[5::6] = velocities[0::3], velocities[1::3], velocities[2::3]
    if sys.byteorder != "little":
        data = array.array("f", data)
        data.byteswap()
    with open(path, "wb") as f:
        f.write(header)
        f.write(data.tobytes())


def cube_points(n, side, rng):
    h = side / 2.0
    pts = array.array("f", bytes(12 * n))
    for i in range(3 * n):
        pts[i] = rng.uniform(-h, h)
    return pts


# --- scenes ------------------------------------------------------------------------------------


def base_scene(width, height, position, metaball_params, ply, motion_blur=None):
    # Still points load as the vertices of a faceless mesh, 12 bytes a point in the host; the
    # moving stream needs a particle system for its velocities.
    source_form = "pflow" if motion_blur else "mesh"
    render = {"width": width, "height": height, "spp": 1}
    if motion_blur:
        render.update(motion_blur)
    params = {"radius": 20.0, "threshold": 0.5, "fieldFunction": 0}
    params.update(metaball_params)
    return {
        "render": render,
        "camera": {"position": position, "target": [0, 0, 0], "up": [0, 0, 1], "fov": FOV_DEG},
        "background": [0.2, 0.22, 0.26],
        # One directional light without shadows: every ray is a camera ray, so the figures
        # measure the metaball tracing, not the shading.
        "lights": [{"type": "directional", "direction": [-0.4, 0.7, -1.0], "color": [1, 1, 1],
                    "intensity": 1.0, "shadows": False}],
        "materials": {"plain": {"type": "diffuse", "color": [0.75, 0.75, 0.75]}},
        "nodes": [
            {"name": "points", "type": "particles", "file": ply, "as": source_form},
            {"name": "metaballs", "class": "VelquinMetaball", "material": "plain",
             "params": params, "nodes": ["points"]},
        ],
    }


def make_cloud(n):
    def build(rng):
        side = 16.0 * n ** (1.0 / 3.0)
        return cube_points(n, side, rng), None, [side / 2.0] * 3
    return build


def build_sheet(rng):
    # 316 x 316 centres 8 apart in the XY plane, each moved up to 3 units in x and y and 2 in z:
    # a single wavy layer that every camera ray meets at a slant.
    k, gap = 316, 8.0
    pts = array.array("f")
    h = (k - 1) * gap / 2.0
    for i in range(k):
        for j in range(k):
            pts.extend((-h + i * gap + rng.uniform(-3, 3), -h + j * gap + rng.uniform(-3, 3),
                        rng.uniform(-2, 2)))
    return pts, None, [h + 3.0, h + 3.0, 2.0]


def build_strand(rng):
    # One strand: a helix of 120 turns wound round a ring (ring radius 500, coil radius 100),
    # 100k centres ~0.75 apart along it, jittered by up to 0.2. Radius 6 makes a tube about 10
    # wide; the turns are 21 apart even on the inside of the ring.
    n, ring, coil, turns = 100_000, 500.0, 100.0, 120
    pts = array.array("f", bytes(12 * n))
    for i in range(n):
        t = 2.0 * math.pi * i / n
        s = turns * t
        r = ring + coil * math.cos(s)
        pts[3 * i] = r * math.cos(t) + rng.uniform(-0.2, 0.2)
        pts[3 * i + 1] = r * math.sin(t) + rng.uniform(-0.2, 0.2)
        pts[3 * i + 2] = coil * math.sin(s) + rng.uniform(-0.2, 0.2)
    return pts, None, [ring + coil + 0.2, ring + coil + 0.2, coil + 0.2]


def build_stream(rng):
    # A jet along +X: 100k centres in a cone (radius 60 at x = -800 widening to 240 at
    # x = +800), each moving 12 units a frame along X and away from the axis in proportion to its
    # distance from it, with a little scatter. Under a half-frame shutter each metaball moves
    # about 6 units.
    n, length = 100_000, 1600.0
    pts = array.array("f", bytes(12 * n))
    vel = array.array("f", bytes(12 * n))
    for i in range(n):
        x = rng.uniform(-length / 2, length / 2)
        reach = 60.0 + 180.0 * (x + length / 2) / length
        while True:
            y, z = rng.uniform(-1, 1), rng.uniform(-1, 1)
            if y * y + z * z <= 1.0:
                break
        y, z = y * reach, z * reach
        pts[3 * i], pts[3 * i + 1], pts[3 * i + 2] = x, y, z
        vel[3 * i] = 12.0 + rng.uniform(-1, 1)
        vel[3 * i + 1] = 0.0135 * y + rng.uniform(-0.3, 0.3)
        vel[3 * i + 2] = 0.0135 * z + rng.uniform(-0.3, 0.3)
    return pts, vel, [length / 2 + 6.0, 246.0, 246.0]


# name: (builder, seed, metaballs, (width, height), metaball params, motion blur, description)
SCENES = {
    "cloud-1k": (make_cloud(1_000), 101, 1_000, (640, 480), {}, None,
                 "1k metaballs uniform in a cube of side 16 N^(1/3)"),
    "cloud-10k": (make_cloud(10_000), 102, 10_000, (640, 480), {}, None,
                  "10k metaballs uniform in a cube of side 16 N^(1/3)"),
    "cloud-100k": (make_cloud(100_000), 103, 100_000, (640, 480), {}, None,
                   "100k metaballs uniform in a cube of side 16 N^(1/3)"),
    # The same seed as cloud-100k, so the same points: only the march step differs.
    "cloud-100k-step01": (make_cloud(100_000), 103, 100_000, (640, 480), {"step": 0.1}, None,
                          "the cloud-100k points with \"step\": 0.1"),
    "cloud-1m": (make_cloud(1_000_000), 104, 1_000_000, (1280, 720), {}, None,
                 "1M metaballs uniform in a cube of side 16 N^(1/3), 1280x720"),
    "sheet": (build_sheet, 201, 316 * 316, (640, 480), {}, None,
              "a jittered 316x316 grid in a plane, 8 apart"),
    "strand": (build_strand, 202, 100_000, (640, 480), {"radius": 6.0}, None,
               "100k metaballs along a helix wound round a ring, radius 6"),
    "stream": (build_stream, 203, 100_000, (640, 480), {},
               {"motionBlur": True, "shutter": 0.5},
               "a 100k-particle jet with velocities under motion blur"),
    "average": (make_cloud(100_000), 204, 100_000, (640, 480), {"useAverage": True}, None,
                "the 100k cloud as the average-distance surface"),
}


def write_scene(outdir, name):
    build, seed, count, (width, height), params, blur, desc = SCENES[name]
    pts, vel, half = build(random.Random(seed))
    assert len(pts) == 3 * count, (name, len(pts))
    ply = name + ".ply"
    write_ply(os.path.join(outdir, ply), f"velquin benchmark {name}, seed {seed}", pts, vel)
    radius = params.get("radius", 20.0)
    position = fit_camera(half, radius, width, height)
    scene = base_scene(width, height, position, params, ply, blur)
    with open(os.path.join(outdir, name + ".json"), "w") as f:
        json.dump(scene, f, indent=1)
        f.write("\n")
    return {"scene": name + ".json", "points": ply, "metaballs": count,
            "image": [width, height], "camera": position, "description": desc}


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("outdir")
    ap.add_argument("--only", nargs="+", metavar="NAME", choices=list(SCENES),
                    help="write only these scenes")
    ap.add_argument("--list", action="store_true", help="print the scene names and stop")
    args = ap.parse_args()
    if args.list:
        for name, s in SCENES.items():
            print(f"{name:17} {s[2]:>9}  {s[6]}")
        return
    os.makedirs(args.outdir, exist_ok=True)
    index_path = os.path.join(args.outdir, "index.json")
    index = {}
    if os.path.exists(index_path):
        with open(index_path) as f:
            index = json.load(f)
    for name in args.only or list(SCENES):
        entry = write_scene(args.outdir, name)
        index[name] = entry
        x, y, z = entry["camera"]
        print(f"{name:17} {entry['metaballs']:>9} metaballs  "
              f"{entry['image'][0]}x{entry['image'][1]}  camera ({x}, {y}, {z})")
    # Keep the index in SCENES order so the table reads the same every time.
    index = {k: index[k] for k in SCENES if k in index}
    with open(index_path, "w") as f:
        json.dump(index, f, indent=1)
        f.write("\n")


if __name__ == "__main__":
    main()
