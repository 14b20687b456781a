#!/usr/bin/env python3
"""Times whole converter processes against cjpeg and ImageMagick, side by side.

usage: bench/converter_bench.py BUILD_DIR [RUNS]
Needs libjpeg-turbo-progs (cjpeg) and imagemagick (convert).
"""
import os, statistics, subprocess, sys, tempfile, time

build = sys.argv[1] if len(sys.argv) > 1 else "build/demo"
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 15
converter = os.path.join(build, "lib", "imagemaker", "imgcon32.exe")

def timed(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start

with tempfile.TemporaryDirectory() as tmp:
    print(f"{'size':>10} {'imgcon32':>10} {'cjpeg':>10} {'convert':>10} {'vs cjpeg':>9} {'IM/ours':>8}")
    for w, h in [(1280, 720), (1920, 1080)]:
        src = os.path.join(tmp, f"photo_{w}x{h}.bmp")
        # Plasma is smooth like a photographed surface; the noise stands for sensor grain.
        subprocess.run(["convert", "-size", f"{w}x{h}", "-seed", "7", "plasma:fractal", "-blur", "0x2",
                        "-attenuate", "0.4", "+noise", "Gaussian", "-type", "TrueColor", f"BMP3:{src}"], check=True)
        out = os.path.join(tmp, "out.jpg")
        tools = {
            "imgcon32": [converter, src, "-j", "--o", out],
            "cjpeg": ["cjpeg", "-quality", "90", "-outfile", out, src],
            "convert": ["convert", src, "-quality", "90", out],
        }
        times = {name: [] for name in tools}
        names = list(tools)
        for i in range(runs):
            # Interleaved, so load on the machine hits all three alike, and in
            # turns, so that no tool always runs right after the same other.
            for name in names[i % 3:] + names[:i % 3]:
                times[name].append(timed(tools[name]))
        med = {name: statistics.median(t) * 1000 for name, t in times.items()}
        print(f"{w}x{h:>5} {med['imgcon32']:>8.1f}ms {med['cjpeg']:>8.1f}ms {med['convert']:>8.1f}ms "
              f"{med['imgcon32'] / med['cjpeg']:>8.2f}x {med['convert'] / med['imgcon32']:>7.2f}x")
