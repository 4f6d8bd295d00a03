"""The X client watching the root window: when top-level X windows are mapped, get a
real height and go away."""
import ctypes
import select
import struct
import threading
import time

POPUP_SIZE_PX = (179, 131)  # 2685 x 1965 twips at 96 dpi: a popup's X window at creation


class RootWatcher:
    """Records when top-level X windows are mapped, get a real height and go away."""

    CREATE, DESTROY, UNMAP, MAP, CONFIGURE = 16, 17, 18, 19, 22
    SUBSTRUCTURE_NOTIFY_MASK = 1 << 19

    def __init__(self):
        x = ctypes.cdll.LoadLibrary("libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        for name in ("XConnectionNumber", "XPending", "XFlush"):
            getattr(x, name).argtypes = [ctypes.c_void_p]
        x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        self.x = x
        self.dpy = x.XOpenDisplay(None)
        if not self.dpy:
            raise RuntimeError("cannot open the X display")
        x.XSelectInput(self.dpy, x.XDefaultRootWindow(self.dpy), self.SUBSTRUCTURE_NOTIFY_MASK)
        x.XFlush(self.dpy)
        self.fd = x.XConnectionNumber(self.dpy)
        self.lock = threading.Condition()
        self.size = {}      # X window -> (width, height)
        self.created = {}   # X window -> (width, height) at creation
        self.popups = {}    # X window of a popup now -> {"mapped", "visible", "gone"}
        self.order = []     # every popup's record, in the order they were mapped
        self.running = True
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        event = ctypes.create_string_buffer(192)
        while self.running:
            ready, _, _ = select.select([self.fd], [], [], 0.05)
            while self.x.XPending(self.dpy):
                self.x.XNextEvent(self.dpy, event)
                self._handle(event.raw, time.monotonic())

    def _handle(self, raw, now):
        kind = struct.unpack_from("i", raw, 0)[0]
        window = struct.unpack_from("L", raw, 40)[0]
        with self.lock:
            if kind in (self.CREATE, self.CONFIGURE):
                w, h = struct.unpack_from("ii", raw, 56)
                self.size[window] = (w, h)
                if kind == self.CREATE:
                    self.created[window] = (w, h)
                    # The X server reuses the ids of destroyed windows: this one is new.
                    self.popups.pop(window, None)
                p = self.popups.get(window)
                if p and p["mapped"] and not p["visible"] and h > 1:
                    p["visible"] = now
            elif kind == self.MAP:
                h = self.size.get(window, (0, 0))[1]
                if self.created.get(window) == POPUP_SIZE_PX and window not in self.popups:
                    self.popups[window] = {"mapped": now, "visible": now if h > 1 else None,
                                           "gone": None}
                    self.order.append(self.popups[window])
            elif kind in (self.UNMAP, self.DESTROY):
                p = self.popups.get(window)
                if p and not p["gone"]:
                    p["gone"] = now
                if kind == self.DESTROY:
                    self.size.pop(window, None)
                    self.created.pop(window, None)
            self.lock.notify_all()

    def mark(self):
        with self.lock:
            return len(self.order)

    def since(self, mark):
        with self.lock:
            return [dict(p) for p in self.order[mark:]]

    def open_count(self):
        with self.lock:
            return sum(1 for p in self.popups.values() if not p["gone"])

    def wait(self, predicate, timeout):
        end = time.monotonic() + timeout
        with self.lock:
            while not predicate():
                left = end - time.monotonic()
                if left <= 0:
                    return False
                self.lock.wait(min(left, 0.1))
            return True

    def wait_popups(self, mark, count, key, timeout):
        """Waits until `count` popups mapped after `mark` all have `key` set."""
        def done():
            got = self.order[mark:]
            return len(got) >= count and all(p[key] for p in got[:count])
        return self.wait(done, timeout)

    def wait_none_open(self, timeout):
        return self.wait(lambda: all(p["gone"] for p in self.popups.values()), timeout)

    def stop(self):
        self.running = False
        self.thread.join(1)
