"""Real windows for the end-to-end drivers: an X display of the tests' own
(Xvfb), a Wine prefix whose X11 driver draws on it, a window found by its
title, a picture of it, and keys pressed in it, as a person would."""
import os
import subprocess
import time

import test_support


def start_display():
    """An Xvfb server on a free display; (process, ":N")."""
    for number in range(90, 140):
        if os.path.exists("/tmp/.X%d-lock" % number):
            continue
        server = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "1280x1024x24",
                                   "-nolisten", "tcp"], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline and server.poll() is None:
            if os.path.exists("/tmp/.X11-unix/X%d" % number):
                return server, ":%d" % number
            time.sleep(0.1)
        server.kill()
        server.wait()
    raise RuntimeError("no free X display for Xvfb")


def draw_on_x(prefix, wine, env):
    """Makes the prefix show its windows through Wine's X11 driver, which
    draws the caption bar itself (there is no window manager); the prefix's
    session is ended so that the next program starts with the driver."""
    for key, name, value in (("HKCU\\Software\\Wine\\Drivers", "Graphics", "x11"),
                             ("HKCU\\Software\\Wine\\X11 Driver", "Managed", "N")):
        subprocess.run(wine.split() + ["reg", "add", key, "/v", name, "/d", value, "/f"],
                       env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120, check=True)
    for option in ("-k", "-w"):
        test_support.wineserver(prefix, option)


def _xdotool(display, *arguments):
    return subprocess.run(["xdotool"] + list(arguments), env=dict(os.environ, DISPLAY=display),
                          capture_output=True, text=True, timeout=30)


def geometry(display, window):
    """(x, y, width, height) of an X window, or None once it is gone."""
    shown = _xdotool(display, "getwindowgeometry", "--shell", window)
    if shown.returncode != 0:
        return None
    values = dict(line.split("=", 1) for line in shown.stdout.split())
    return tuple(int(values[name]) for name in ("X", "Y", "WIDTH", "HEIGHT"))


def find_window(display, title, seconds=60.0):
    """The window titled exactly title, once it is shown, as (id, geometry);
    None after seconds. Wine makes several X windows for one top-level
    window: the largest is the window itself."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = _xdotool(display, "search", "--onlyvisible", "--name", "^%s$" % title)
        shown = [(window, geometry(display, window)) for window in found.stdout.split()]
        shown = [(window, place) for window, place in shown if place and place[2] * place[3] > 1]
        if shown:
            # Painted a moment after it is mapped.
            time.sleep(1.5)
            return max(shown, key=lambda item: item[1][2] * item[1][3])
        time.sleep(0.2)
    return None


def wait_until_gone(display, title, seconds=30.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if not _xdotool(display, "search", "--onlyvisible", "--name", "^%s$" % title).stdout.split():
            return True
        time.sleep(0.2)
    return False


def picture(display, place, path):
    """Keeps a PNG of the screen's area place at path; the number of colours
    below the caption bar (1 for a window with nothing drawn in it)."""
    x, y, width, height = place
    screen = subprocess.run(["xwd", "-root", "-silent", "-display", display], capture_output=True,
                            timeout=60, check=True).stdout
    subprocess.run(["convert", "xwd:-", "-crop", "%dx%d+%d+%d" % (width, height, x, y), "+repage",
                    path], input=screen, timeout=60, check=True)
    colours = subprocess.run(["convert", path, "-gravity", "South", "-crop", "100%x85%+0+0",
                              "-format", "%k", "info:"], capture_output=True, text=True,
                             timeout=60, check=True).stdout
    return int(colours)


def press(display, window, key):
    """Presses key in the window: Wine takes keys only from the focus."""
    _xdotool(display, "windowfocus", "--sync", window)
    _xdotool(display, "key", key)
