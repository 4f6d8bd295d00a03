"""Counts X11 requests per client process: a proxy display in front of the real one.
Programs started with DISPLAY=proxy.display connect to it; each connection is
forwarded to the real display unchanged, and the requests its client sends are counted
(the X protocol's own framing: a set-up block, then requests that carry their length),
by the process that connected (the socket's peer credentials)."""
import os
import re
import select
import socket
import struct
import threading

# struct ucred: pid, uid, gid
_UCRED = struct.Struct("3i")


class _Connection:
    """One client's byte stream, parsed only as far as needed to count requests."""

    def __init__(self, pid):
        self.pid = pid
        self.buffer = b""
        self.setup_done = False
        self.order = "<"

    def feed(self, data):
        """Adds bytes from the client; returns the major opcodes of the whole requests
        they completed."""
        self.buffer += data
        count = []
        while True:
            if not self.setup_done:
                if len(self.buffer) < 12:
                    return count
                self.order = "<" if self.buffer[0:1] == b"l" else ">"
                name, value = struct.unpack(self.order + "HH", self.buffer[6:10])
                size = 12 + (name + 3) // 4 * 4 + (value + 3) // 4 * 4
                if len(self.buffer) < size:
                    return count
                self.buffer = self.buffer[size:]
                self.setup_done = True
                continue
            if len(self.buffer) < 4:
                return count
            opcode = self.buffer[0]
            (units,) = struct.unpack(self.order + "H", self.buffer[2:4])
            if units == 0:  # BIG-REQUESTS: the length follows as 32 bits
                if len(self.buffer) < 8:
                    return count
                (units,) = struct.unpack(self.order + "I", self.buffer[4:8])
            if len(self.buffer) < units * 4:
                return count
            self.buffer = self.buffer[units * 4:]
            count.append(opcode)


class XRequestCounter:
    """A proxy display on a free display number (abstract socket only, so it leaves
    no file behind), forwarding to `display` (":N")."""

    def __init__(self, display):
        self.target = "\0/tmp/.X11-unix/X" + re.match(r"^:(\d+)", display).group(1)
        self.opcodes = {}  # (pid, major opcode) -> requests
        self.lock = threading.Lock()
        self.listener = None
        for number in range(150, 400):
            s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            try:
                # The number must be free as a file too: clients try both.
                if os.path.exists(f"/tmp/.X11-unix/X{number}") or os.path.exists(f"/tmp/.X{number}-lock"):
                    continue
                s.bind(f"\0/tmp/.X11-unix/X{number}")
            except OSError:
                s.close()
                continue
            self.listener, self.display = s, f":{number}"
            break
        if not self.listener:
            raise RuntimeError("no free display number for the X request counter")
        self.listener.listen(64)
        self.stopping = False
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def opcodes_of(self, pid):
        """Requests so far of process `pid`, by major opcode."""
        with self.lock:
            return {op: n for (p, op), n in self.opcodes.items() if p == pid}

    def _serve(self):
        pairs = {}  # socket -> (its other end, the client's parser or None)
        while not self.stopping:
            readable, _, _ = select.select([self.listener, *pairs], [], [], 0.2)
            for s in readable:
                if s is self.listener:
                    client, _ = self.listener.accept()
                    pid = _UCRED.unpack(client.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED,
                                                          _UCRED.size))[0]
                    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                    try:
                        server.connect(self.target)
                    except OSError:
                        client.close()
                        continue
                    pairs[client] = (server, _Connection(pid))
                    pairs[server] = (client, None)
                    continue
                if s not in pairs:
                    continue  # closed with its other end in this round
                other, parser = pairs[s]
                try:
                    data = s.recv(65536)
                except OSError:
                    data = b""
                if parser and data:
                    opcodes = parser.feed(data)
                    if opcodes:
                        with self.lock:
                            for op in opcodes:
                                key = (parser.pid, op)
                                self.opcodes[key] = self.opcodes.get(key, 0) + 1
                try:
                    if data:
                        other.sendall(data)
                except OSError:  # the other end went away meanwhile
                    data = b""
                if not data:
                    for end in (s, other):
                        pairs.pop(end, None)
                        end.close()
        for s in pairs:
            s.close()

    def stop(self):
        self.stopping = True
        self.thread.join(5)
        self.listener.close()
