#!/usr/bin/env python3
"""Moves the X pointer of DISPLAY to a point (the top-left corner unless told), where no
popup ever appears. Each test slot keeps one X server for many tests, so a pointer that
one test left on the popups' column would rest under the next test's popups.
    tools/park_pointer.py [X Y]
Uses libX11 through ctypes: nothing to install beyond the X server's own library."""

import ctypes
import ctypes.util
import sys


def main():
    x, y = (int(sys.argv[1]), int(sys.argv[2])) if len(sys.argv) == 3 else (0, 0)
    name = ctypes.util.find_library("X11") or "libX11.so.6"
    x11 = ctypes.CDLL(name)
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XWarpPointer.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong] + \
        [ctypes.c_int] * 2 + [ctypes.c_uint] * 2 + [ctypes.c_int] * 2
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(None)
    if not display:
        print("park_pointer: cannot open the display", file=sys.stderr)
        return 1
    x11.XWarpPointer(display, 0, x11.XDefaultRootWindow(display), 0, 0, 0, 0, x, y)
    x11.XSync(display, 0)
    x11.XCloseDisplay(display)
    return 0


if __name__ == "__main__":
    sys.exit(main())
