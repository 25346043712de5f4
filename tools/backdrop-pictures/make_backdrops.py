#!/usr/bin/env python3
"""Draws the built-in backdrop pictures (resources/images) with ImageMagick: a sky
gradient, a sun and layers of ridges, waves or dunes made of summed sine waves.
Run from the repository root: python3 tools/backdrop-pictures/make_backdrops.py"""

import math
import subprocess

W, H = 1920, 1080


def ridge(base, waves, seed, bottom=H):
    """A filled outline: y = base + sum of sines, closed along the bottom."""
    points = []
    for x in range(0, W + 1, 8):
        y = base
        for i, (amplitude, length) in enumerate(waves):
            y += amplitude * math.sin(x / length * 2 * math.pi + seed * (i + 1.7))
        points.append(f"{x},{y:.1f}")
    points += [f"{W},{bottom}", f"0,{bottom}"]
    return " ".join(points)


def draw(name, sky_top, sky_bottom, sun, layers, extra=()):
    args = ["convert", "-size", f"{W}x{H}", f"gradient:{sky_top}-{sky_bottom}"]
    if sun:
        x, y, r, colour = sun
        args += ["-fill", colour, "-draw", f"circle {x},{y} {x + r},{y}"]
    for colour, base, waves, seed in layers:
        args += ["-fill", colour, "-draw", "polygon " + ridge(base, waves, seed)]
    args += list(extra)
    args += ["-strip"]
    if name.endswith(".jpg"):
        args += ["-quality", "82", "-sampling-factor", "4:2:0"]
    else:
        args += ["-colors", "64", "-dither", "None", "-define", "png:compression-level=9"]
    args.append(f"resources/images/{name}")
    subprocess.run(args, check=True)


# A coast at dusk: cliffs falling into the sea.
draw("bigsur.png", "#f2a65a", "#7d4e8c", (1380, 520, 90, "#ffd98a"), [
    ("#5a3d73", 600, [(60, 520), (25, 170)], 1.0),
    ("#3b2c5e", 700, [(90, 700), (30, 230)], 2.0),
    ("#1f3b5c", 820, [(6, 300), (3, 90)], 0.3),
    ("#142a45", 900, [(140, 1400), (40, 260)], 3.0),
])
# Soft violet waves.
draw("monterey.jpg", "#2b1b5a", "#c65b9b", None, [
    ("#6e3aa6", 520, [(80, 900), (30, 400)], 0.5),
    ("#4d2d94", 640, [(90, 1100), (35, 500)], 1.5),
    ("#33237a", 760, [(70, 1300), (25, 350)], 2.5),
    ("#1d1654", 880, [(60, 1500), (20, 300)], 3.5),
])
# An island in a bright sea by day.
draw("10-15-Day.jpg", "#4d9be6", "#cfe9ff", (420, 240, 70, "#fff6d5"), [
    ("#3f8fcf", 720, [(4, 240), (2, 70)], 0.2),
    ("#2f6e5a", 700, [(120, 1600), (60, 420)], 4.2),
    ("#2a7fc0", 820, [(5, 260), (2, 80)], 1.1),
    ("#1c5f9a", 940, [(6, 300), (3, 95)], 2.1),
])
# Desert dunes under a warm sky.
draw("10-14-Day.jpg", "#5f8fc9", "#f3d2a2", (1500, 300, 80, "#fff1c9"), [
    ("#d9a066", 640, [(70, 1200), (25, 380)], 0.9),
    ("#c8874f", 740, [(80, 1500), (30, 450)], 1.9),
    ("#b06f3d", 860, [(90, 1700), (30, 520)], 2.9),
    ("#8e552c", 980, [(60, 1900), (20, 600)], 3.9),
])
