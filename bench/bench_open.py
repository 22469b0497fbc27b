#!/usr/bin/env python3
"""Opening capture files as a user does, timed from outside: the program is started on an X
display (Xvfb) and watched there.

  bench/bench_open.py [--display :97] [--runs 3] [--programs quillon,pulseview,sigrok-cli]
                      [--quillon PATH] FILE...

For each file and program it prints one line: the time from the start to the first frame (the
program's window mapped and painted), to the whole picture (the last change of the window's
middle band once it shows traces and has not changed for --settle seconds), and the peak
resident set of the process (GNU time). sigrok-cli has no window: its line is the time to read the whole file with
`-O null`. Runs alternate between the programs; medians of --runs.

The window is watched through Xlib (ctypes, no module needed): its map state every 5 ms until
it shows, then its middle band every 50 ms. A grab costs the X server a few milliseconds of
the machine's time, the same for every program.
"""
import argparse
import ctypes
import ctypes.util
import hashlib
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time

X = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
X.XOpenDisplay.restype = ctypes.c_void_p
X.XOpenDisplay.argtypes = [ctypes.c_char_p]
X.XDefaultRootWindow.restype = ctypes.c_ulong
X.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
X.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                         ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                         ctypes.POINTER(ctypes.c_uint)]
X.XFree.argtypes = [ctypes.c_void_p]
X.XGetImage.restype = ctypes.c_void_p
X.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                        ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
X.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
X.XSetErrorHandler.argtypes = [ctypes.c_void_p]
ZPIXMAP = 2
ALL_PLANES = 0xFFFFFFFF
IS_VIEWABLE = 2


class XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                ("height", ctypes.c_int), ("border_width", ctypes.c_int), ("depth", ctypes.c_int),
                ("visual", ctypes.c_void_p), ("root", ctypes.c_ulong), ("c_class", ctypes.c_int),
                ("bit_gravity", ctypes.c_int), ("win_gravity", ctypes.c_int),
                ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int),
                ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_char)),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int)]


X.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                   ctypes.POINTER(XWindowAttributes)]
ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(lambda d, e: 0)


class Screen:
    def __init__(self, display):
        self.display = X.XOpenDisplay(display.encode())
        if not self.display:
            raise SystemExit(f"cannot open display {display}")
        X.XSetErrorHandler(ERROR_HANDLER)  # a window may go while it is looked at
        self.root = X.XDefaultRootWindow(self.display)

    def shown_window(self):
        """The largest viewable top-level window, or None."""
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        children = ctypes.POINTER(ctypes.c_ulong)()
        count = ctypes.c_uint()
        if not X.XQueryTree(self.display, self.root, ctypes.byref(root), ctypes.byref(parent),
                            ctypes.byref(children), ctypes.byref(count)):
            return None
        best = None
        for i in range(count.value):
            attributes = XWindowAttributes()
            if X.XGetWindowAttributes(self.display, children[i], ctypes.byref(attributes)) and \
                    attributes.map_state == IS_VIEWABLE and attributes.width >= 200 and \
                    attributes.height >= 200:
                if best is None or attributes.width * attributes.height > best[1]:
                    best = (children[i], attributes.width * attributes.height,
                            attributes.width, attributes.height)
        if children:
            X.XFree(children)
        return best

    def band(self, window, width, height):
        """A digest of the window's middle band, whether it holds more than one colour, and
        whether traces show in it (coloured pixels: both programs draw channels in colours,
        everything else in greys)."""
        top = height // 4
        rows = height // 2
        image = X.XGetImage(self.display, window, 0, top, width, rows, ALL_PLANES, ZPIXMAP)
        if not image:
            return None, False, False
        xi = XImage.from_address(image)
        data = ctypes.string_at(xi.data, xi.bytes_per_line * xi.height)
        # What XDestroyImage (a macro) does for a ZPixmap image.
        X.XFree(xi.data)
        X.XFree(image)
        samples = [data[i:i + 3] for i in range(0, len(data) - 3, 4 * 37)]
        varied = len(set(samples)) > 1
        coloured = sum(1 for p in samples if max(p) - min(p) > 60)
        return hashlib.sha1(data).digest(), varied, coloured > len(samples) // 500


def stop(process):
    """Ends the program GNU time runs (time itself then writes its figures)."""
    try:
        with open(f"/proc/{process.pid}/task/{process.pid}/children") as children:
            for child in children.read().split():
                os.kill(int(child), signal.SIGTERM)
    except (OSError, ValueError):
        process.send_signal(signal.SIGTERM)


def watch(command, screen, settle, timeout, env):
    """Starts command, returns (first frame s, picture s, peak RSS KiB)."""
    with tempfile.NamedTemporaryFile(mode="r", suffix=".time") as timing:
        start = time.monotonic()
        process = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", timing.name] + command,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
        first = picture = None
        digest = None
        while time.monotonic() - start < timeout and process.poll() is None:
            now = time.monotonic()
            shown = screen.shown_window()
            if shown is None:
                time.sleep(0.005)
                continue
            band, varied, traces = screen.band(shown[0], shown[2], shown[3])
            if band is None:
                time.sleep(0.005)
                continue
            if first is None and varied:
                first = now - start
            if band != digest:
                digest = band
                picture = now - start
            elif traces and now - start - picture > settle:
                break
            time.sleep(0.05 if first is not None else 0.005)
        stop(process)
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        timing.seek(0)
        lines = [line for line in timing.read().split() if line.isdigit()]
        rss = int(lines[-1]) if lines else 0
        # Nothing of it may be left on the screen for the next program.
        while screen.shown_window() is not None and time.monotonic() - start < timeout + 20:
            time.sleep(0.05)
        return first, picture, rss


def read_only(command):
    """Runs a command to its end: (seconds, peak RSS KiB)."""
    with tempfile.NamedTemporaryFile(mode="r", suffix=".time") as timing:
        start = time.monotonic()
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", timing.name] + command,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        seconds = time.monotonic() - start
        timing.seek(0)
        lines = [line for line in timing.read().split() if line.isdigit()]
        return seconds, int(lines[-1]) if lines else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("files", nargs="+")
    parser.add_argument("--display", default=":97")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--settle", type=float, default=2.0)
    parser.add_argument("--timeout", type=float, default=300.0)
    parser.add_argument("--programs", default="quillon,pulseview,sigrok-cli")
    parser.add_argument("--quillon", default="build/release/app/quillon")
    args = parser.parse_args()

    xvfb = subprocess.Popen(["Xvfb", args.display, "-screen", "0", "1920x1080x24", "-nolisten",
                             "tcp"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(1.0)
        screen = Screen(args.display)
        home = tempfile.mkdtemp(prefix="bench-open-")
        env = dict(os.environ, DISPLAY=args.display, QUILLON_PORTS="", HOME=home,
                   XDG_CONFIG_HOME=os.path.join(home, "config"),
                   XDG_DATA_HOME=os.path.join(home, "data"))
        env.pop("QT_QPA_PLATFORM", None)
        programs = args.programs.split(",")
        print("file\tprogram\tfirst frame s\twhole picture s\tpeak RSS MiB\truns")
        for path in args.files:
            results = {name: [] for name in programs}
            for _ in range(args.runs):
                for name in programs:
                    if name == "quillon":
                        command = [args.quillon, "-geometry", "1920x1080+0+0", path]
                    elif name == "pulseview":
                        command = ["pulseview", "-c", "-D", "-geometry", "1920x1080+0+0",
                                   "-I", "vcd" if path.endswith(".vcd") else "csv", "-i", path]
                        if path.endswith(".sr"):
                            command = ["pulseview", "-c", "-D", "-geometry", "1920x1080+0+0",
                                       path]
                    else:
                        seconds, rss = read_only(["sigrok-cli", "-i", path, "-O", "null"])
                        results[name].append((None, seconds, rss))
                        continue
                    results[name].append(watch(command, screen, args.settle, args.timeout, env))
            for name in programs:
                runs = results[name]
                firsts = [r[0] for r in runs if r[0] is not None]
                pictures = [r[1] for r in runs if r[1] is not None]
                rss = [r[2] for r in runs]
                print("%s\t%s\t%s\t%s\t%.0f\t%d" % (
                    os.path.basename(path), name,
                    "%.2f" % statistics.median(firsts) if firsts else "-",
                    "%.2f" % statistics.median(pictures) if pictures else "-",
                    statistics.median(rss) / 1024.0 if rss else 0, len(runs)), flush=True)
    finally:
        xvfb.terminate()
        xvfb.wait()


if __name__ == "__main__":
    sys.exit(main())
