"""The measurements: the wineserver's request trace, the bench client (tindra-bench.exe)
and the phases of a run."""
import datetime
import itertools
import os
import re
import socket
import struct
import subprocess
import threading
import time

import wine_session
from bench.floor import SEQUENCE_S, TIMED_REPEATS, median, percentile, why_untimed
from bench.procfs import context_switches, cpu_seconds, find_process, rss_kib
from bench.xcount import XRequestCounter
from bench.xwatch import RootWatcher


# The Windows architecture of a program, from its PE header's machine field.
PE_MACHINES = {0x014C: "i686", 0x8664: "x86_64", 0xAA64: "arm64"}


def pe_architecture(path):
    with open(path, "rb") as f:
        head = f.read(4096)
    (pe,) = struct.unpack_from("<I", head, 0x3C)
    if head[:2] != b"MZ" or head[pe:pe + 4] != b"PE\0\0":
        return "not a Windows program"
    (machine,) = struct.unpack_from("<H", head, pe + 4)
    return PE_MACHINES.get(machine, f"machine 0x{machine:04x}")


def opcode_delta(before, after):
    """Requests by opcode made between two readings."""
    return {k: v - before.get(k, 0) for k, v in after.items() if v - before.get(k, 0)}


class RequestTrace:
    """The wineserver's own trace of requests (wineserver -d1), restarted for this run:
    requests are counted per thread between two offsets of the trace file."""

    LINE = re.compile(rb"^([0-9a-f]{4}): (\w+)\((.*)$", re.M)

    def __init__(self, path):
        self.path = path
        subprocess.run(["wineserver", "-k"], check=False)
        subprocess.run(["wineserver", "-w"], check=False)
        self.file = open(path, "wb")
        self.server = subprocess.Popen(["wineserver", "-f", "-d1"], stdin=subprocess.DEVNULL,
                                       stdout=subprocess.DEVNULL, stderr=self.file)
        time.sleep(1)
        # Wine's services start now, not holding the bench client's pipes.
        subprocess.run(["wine", "cmd", "/c", "exit"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)

    def offset(self):
        return os.path.getsize(self.path)

    def thread_of(self, unix_pid):
        """The Wine thread id of a process's first thread."""
        with open(self.path, "rb") as f:
            text = f.read()
        m = re.search(rb"^([0-9a-f]{4}): init_first_thread\( unix_pid=%d," % unix_pid, text, re.M)
        return m.group(1) if m else None

    def count(self, span, thread):
        """Requests (not replies) of `thread` within the byte span, by name."""
        with open(self.path, "rb") as f:
            f.seek(span[0])
            text = f.read(span[1] - span[0])
        counts = {}
        for m in self.LINE.finditer(text):
            if m.group(1) == thread and not m.group(3).startswith(b") ="):
                name = m.group(2).decode()
                counts[name] = counts.get(name, 0) + 1
        return counts


class BenchClient:
    """tindra-bench.exe under Wine, one command and one reply at a time."""

    def __init__(self, exe, log, env=None):
        self.proc = wine_session.start_program(exe, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                               stderr=log, text=True, encoding="utf-8", bufsize=1,
                                               env=env)
        self.offset = 0.0

    def ask(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        reply = self.proc.stdout.readline()
        if not reply:
            raise RuntimeError(f"tindra-bench ended while answering: {line}")
        return reply.split()

    def sync_clock(self):
        """Offset from the client's counter to time.monotonic(), from the fastest of
        several round trips."""
        best = None
        for _ in range(20):
            before = time.monotonic()
            reply = self.ask("clock")
            after = time.monotonic()
            if best is None or after - before < best[0]:
                best = (after - before, int(reply[1]) / 1e6 - (before + after) / 2)
        self.offset = best[1]
        return best[0]

    def mono(self, microseconds):
        return int(microseconds) / 1e6 - self.offset

    def close(self):
        try:
            self.proc.stdin.write("quit\n")
            self.proc.stdin.flush()
            self.proc.wait(10)
        except (OSError, subprocess.TimeoutExpired):
            self.proc.kill()


class Bench:
    def __init__(self, args):
        self.args = args
        self.prefix = os.environ["WINEPREFIX"]
        self.results = {}
        self.untimed = None
        self.xorg = None
        self.trace = None
        self.xcount = None
        self.log = open(os.path.join(args.out_dir, "bench-wine.log"), "w")
        self.server = None
        self.tindra = None
        self.client = None
        self.watcher = None

    def say(self, text):
        print(f"bench: {text}", flush=True)

    def say_uptime(self):
        """The machine's load as `uptime` shows it: times of a run that began at 0.5 or more do not judge."""
        up = subprocess.run(["uptime"], capture_output=True, text=True, check=False)
        self.say(f"uptime: {up.stdout.strip()}")

    # -- set-up --
    def start_update_server(self):
        host = self.args.update_host
        port = int(host.split(":")[1]) if ":" in host else 80
        updates = os.path.join(self.args.out_dir, "updates")
        wine_session.publish_build(updates, os.path.dirname(self.args.exe), self.args.revision)
        self.server = wine_session.UpdateServer(
            updates, port, log=os.path.join(self.args.out_dir, "updates.log"), stderr=self.log)
        # The port may be held for a moment by another run on this machine.
        self.server.start(tries=30)

    def start_tindra(self):
        folder = os.path.dirname(self.args.exe)
        env = dict(os.environ)
        if self.xcount:
            env["DISPLAY"] = self.xcount.display
        client_env = dict(env)
        if self.args.wine_debug:
            env["WINEDEBUG"] = self.args.wine_debug
        # The client first: it makes the section Tindra keeps its step counters in.
        self.client = BenchClient(self.args.client, self.log, client_env)
        self.client.ask("clock")
        self.tindra = wine_session.start_program(self.args.exe, cwd=folder, env=env,
                                                 stdout=self.log, stderr=self.log)
        reply = self.client.ask("connect 60")
        if reply[0] != "connected":
            raise RuntimeError("Tindra did not answer over DDE: " + " ".join(reply))
        self.pid = find_process(("Tindra.exe",), self.prefix) or self.tindra.pid
        self.client_pid = find_process(("tindra-bench.ex", "tindra-bench.exe"), self.prefix)
        self.wineserver = find_process(("wineserver", "wineserver32", "wineserver64"),
                                       self.prefix)
        self.xorg = find_process(("Xvfb",), self.prefix)
        rtt = self.client.sync_clock()
        self.say(f"Tindra.exe runs (pid {self.pid}, wineserver {self.wineserver}); "
                 f"clock round trip {rtt * 1000:.2f} ms")

    def counters(self):
        """Tindra's step counters: {work: (count, seconds)}, or None."""
        reply = self.client.ask("counters")
        if len(reply) < 2 or reply[1] == "none":
            return None
        out = {}
        for item in reply[1:]:
            name, value = item.split("=")
            count, us = value.split(":")
            out[name] = (int(count), int(us) / 1e6)
        return out

    def cpu(self):
        return (cpu_seconds(self.pid), cpu_seconds(self.wineserver) if self.wineserver else None)

    def poke(self, text):
        reply = self.client.ask("poke " + text)
        return self.client.mono(reply[1]), self.client.mono(reply[2]), reply[3]

    def settle(self, timeout=120):
        if not self.watcher.wait_none_open(timeout):
            self.say("popups still open; closing them")
            self.client.ask("close")
            self.watcher.wait_none_open(10)
        time.sleep(0.3)

    # -- phases --
    def singles(self):
        names = {0: "0;김민준", 1: "1;이서연", 2: "2;새 쪽지가 도착했습니다"}
        out = {}
        for mode, text in names.items():
            mapped, visible, acks = [], [], []
            for _ in range(self.args.singles):
                mark = self.watcher.mark()
                sent, acked, outcome = self.poke(text)
                if outcome == "ok" and self.watcher.wait_popups(mark, 1, "visible", 5):
                    p = self.watcher.since(mark)[0]
                    mapped.append((p["mapped"] - sent) * 1000)
                    visible.append((p["visible"] - sent) * 1000)
                    acks.append((acked - sent) * 1000)
                self.client.ask("close")  # a click closes it: the next one is alone again
                self.watcher.wait_none_open(5)
                time.sleep(0.05)
            out[str(mode)] = {
                "count": len(visible),
                **{f"mapped_ms_{k}": percentile(mapped, p) for k, p in (("p50", 50), ("p90", 90), ("p99", 99))},
                **{f"visible_ms_{k}": percentile(visible, p) for k, p in (("p50", 50), ("p90", 90), ("p99", 99))},
                "ack_ms_p50": percentile(acks, 50),
            }
            self.say(f"single mode {mode}: mapped {out[str(mode)]['mapped_ms_p50']:.1f} ms, "
                     f"visible {out[str(mode)]['visible_ms_p50']:.1f} ms (medians of {len(visible)})")
        return out

    def floor(self, count, starts=None):
        """One burst of the floor (tindra-bench's FloorBurst): `count` login popups on
        bare windows, popup i let in no earlier than starts[i] seconds after the first
        (the program's burst's acknowledgements), at most as many open as the program
        keeps. When its last window had gone (as the X watcher saw it), and what
        tindra-bench and wineserver used meanwhile."""
        self.settle()
        mark = self.watcher.mark()
        span = self.trace.offset() if self.trace else None
        x_before = self.xcount.opcodes_of(self.client_pid) if self.xcount else None
        cpu_before = (cpu_seconds(self.client_pid) or 0.0, self.cpu()[1] or 0.0)
        xorg_before = cpu_seconds(self.xorg) if self.xorg else None
        us = ",".join(str(round(s * 1e6)) for s in starts or ())
        reply = self.client.ask(f"floor {count} {us}".strip())
        if len(reply) < 7:
            raise RuntimeError("the floor failed: " + " ".join(reply))
        cpu_after = (cpu_seconds(self.client_pid) or 0.0, self.cpu()[1] or 0.0)
        xorg_after = cpu_seconds(self.xorg) if self.xorg else None
        first, last = self.client.mono(reply[1]), self.client.mono(reply[2])
        # Every window is destroyed by the time the reply comes; the watcher hears of it
        # a moment later.
        self.watcher.wait_popups(mark, count, "gone", 10)
        gone = max((p["gone"] for p in self.watcher.since(mark) if p["gone"]), default=last)
        result = {"popups": count, "all_gone_s": gone - first,
                  "client_cpu_s": cpu_after[0] - cpu_before[0],
                  "wineserver_cpu_s": cpu_after[1] - cpu_before[1],
                  "cpu_s": sum(cpu_after) - sum(cpu_before),
                  "xserver_cpu_s": (xorg_after - xorg_before) if xorg_before is not None else None,
                  "created": int(reply[3]),
                  "most_open": int(reply[4]), "moves": int(reply[5]), "draws": int(reply[6])}
        if self.trace:
            result["_trace_span"] = (span, self.trace.offset())
        if self.xcount:
            result["_x11_requests"] = opcode_delta(x_before, self.xcount.opcodes_of(self.client_pid))
        return result

    def burst_and_floor(self, count, label, timed=False):
        """The program's burst of `count`, then the floor's with the same arrivals; when
        `timed`, three such pairs and the medians of their times and CPU."""
        pairs = []
        for i in range(TIMED_REPEATS if timed else 1):
            b = self.burst(count, f"{label}{i}_" if i else label)
            f = self.floor(count, b.pop("_starts", None))
            self.say(f"the floor of {count}: gone after {f['all_gone_s']:.2f} s, CPU "
                     f"{f['client_cpu_s']:.1f} s + {f['wineserver_cpu_s']:.1f} s, "
                     f"{f['most_open']} open at most, {f['moves'] / count:.0f} moves a popup")
            pairs.append((b, f))
        result, result["floor"] = pairs[0]
        if timed:
            result["timed"] = {
                "bursts": len(pairs),
                "gone_s": median([b["all_gone_s"] for b, _ in pairs if b["all_gone_s"]]),
                "cpu_s": median([b["tindra_cpu_s"] + (b["wineserver_cpu_s"] or 0.0) for b, _ in pairs]),
                "floor_gone_s": median([f["all_gone_s"] for _, f in pairs]),
                "floor_cpu_s": median([f["cpu_s"] for _, f in pairs]),
            }
        return result

    def burst(self, count, label, quiet=False):
        self.settle()
        mark = self.watcher.mark()
        span = self.trace.offset() if self.trace else None
        x_before = self.xcount.opcodes_of(self.pid) if self.xcount else None
        counters_before = self.counters()
        cpu_before = self.cpu()
        xorg_before = cpu_seconds(self.xorg) if self.xorg else None
        reply = self.client.ask(f"burst {count} {label}")
        acked = int(reply[1])
        first, last = self.client.mono(reply[2]), self.client.mono(reply[3])
        latencies = [int(v) / 1000 for v in reply[4].split(",")] if len(reply) > 4 else []
        seen = self.watcher.wait_popups(mark, acked, "gone", self.args.burst_timeout)
        popups = self.watcher.since(mark)
        gone = max((p["gone"] for p in popups if p["gone"]), default=None)
        cpu_after = self.cpu()
        xorg_after = cpu_seconds(self.xorg) if self.xorg else None
        counters_after = self.counters()
        trace_end = self.trace.offset() if self.trace else None
        x_after = self.xcount.opcodes_of(self.pid) if self.xcount else None
        all_acked = last - first
        ideal = all_acked + SEQUENCE_S
        result = {
            "pokes": count, "acknowledged": acked, "popups_seen": len(popups), "all_gone_seen": seen,
            "all_acked_s": all_acked, "all_gone_s": (gone - first) if gone else None,
            "ideal_s": ideal, "gone_ratio": ((gone - first) / ideal) if gone else None,
            "mid_ack_ms": latencies[len(latencies) // 2] if latencies else None,
            "max_ack_ms": max(latencies) if latencies else None,
            "tindra_cpu_s": cpu_after[0] - cpu_before[0],
            "wineserver_cpu_s": (cpu_after[1] - cpu_before[1]) if cpu_before[1] is not None else None,
            "xserver_cpu_s": (xorg_after - xorg_before) if xorg_before is not None else None,
        }
        if self.trace:
            result["_trace_span"] = (span, trace_end)
        if self.xcount:
            result["_x11_requests"] = opcode_delta(x_before, x_after)
        # A program without step counters leaves the section as it was.
        if counters_before and counters_after and counters_after != counters_before:
            result["work"] = {k: [counters_after[k][0] - counters_before[k][0],
                                  counters_after[k][1] - counters_before[k][1]]
                              for k in counters_after}
        if latencies:
            result["_starts"] = [ms / 1000 for ms in itertools.accumulate(latencies)]
        if not quiet:
            self.say(f"burst of {count}: acked in {all_acked:.2f} s, gone after "
                     f"{result['all_gone_s'] or float('nan'):.2f} s (ratio {result['gone_ratio'] or float('nan'):.2f}), "
                     f"CPU {result['tindra_cpu_s']:.1f} s + {result['wineserver_cpu_s'] or 0:.1f} s")
        return result

    def counted(self):
        """wineserver and X11 requests per popup of a 50- and a 200-burst and of the
        floor's: the run goes on traced from here (Tindra.exe started again behind the
        trace and the counting display) unless it was traced from the start."""
        if not self.trace:
            self.stop_tindra()
            self.start_traced()
            self.start_tindra()
            self.warm_up()
        return self.count_requests({f"burst{n}": self.burst_and_floor(n, label)
                                    for n, label in ((50, "k"), (200, "l"))})

    def count_requests(self, bursts):
        """Requests per popup of each burst that was traced: Tindra.exe's thread's and
        its connections' during the burst, and tindra-bench's during the floor's."""
        out = {}
        tindra, client = self.trace.thread_of(self.pid), self.trace.thread_of(self.client_pid)
        for key, b in bursts.items():
            f = b.get("floor") or {}
            if "_trace_span" not in b or "_trace_span" not in f:
                continue
            n = b["pokes"]
            out[key] = {"popups": n}
            for who, part, thread in (("tindra", b, tindra), ("floor", f, client)):
                counts = self.trace.count(part.pop("_trace_span"), thread)
                x = part.pop("_x11_requests", None)
                out[key][who] = {"per_popup": {k: v / n for k, v in counts.items()}}
                if x is not None:
                    out[key][who]["x11_per_popup"] = sum(x.values()) / n
                    out[key][who]["x11_by_opcode"] = {str(k): v / n for k, v in sorted(x.items())}
            out[key]["floor"]["moves_per_popup"] = f["moves"] / n
        return out

    def idle(self):
        self.settle()
        before = (cpu_seconds(self.pid), context_switches(self.pid))
        time.sleep(self.args.idle_seconds)
        after = (cpu_seconds(self.pid), context_switches(self.pid))
        result = {"seconds": self.args.idle_seconds, "tindra_cpu_s": after[0] - before[0],
                  "context_switches": after[1] - before[1]}
        self.say(f"idle {self.args.idle_seconds} s: CPU {result['tindra_cpu_s']:.2f} s, "
                 f"{result['context_switches']} context switches")
        return result

    def counts(self):
        reply = dict(kv.split("=") for kv in self.client.ask("count")[1:])
        return {"rss_kib": rss_kib(self.pid), "windows": int(reply["windows"]),
                "gdi_objects": int(reply["gdi"]) if int(reply["gdi"]) >= 0 else None}

    def many(self):
        self.settle()
        before = self.counts()
        ratios = []
        for batch in range(self.args.many // 50):
            ratios.append(self.burst(50, f"m{batch:02d}_", quiet=True)["gone_ratio"])
        self.settle()
        after = self.counts()
        result = {"popups": self.args.many, "batch": 50, "before": before, "after": after,
                  "batch_gone_ratio_p50": percentile([r for r in ratios if r], 50)}
        self.say(f"{self.args.many} popups: RSS {before['rss_kib']} -> {after['rss_kib']} KiB, "
                 f"windows {before['windows']} -> {after['windows']}, "
                 f"GDI {before['gdi_objects']} -> {after['gdi_objects']}")
        return result

    def flood(self):
        """Long notices poked back to back, far more than Tindra shows or keeps waiting:
        how many it took and refused, its slowest answer, its resident memory before,
        at its highest (read every 0.2 s) and after, and how long until every popup had
        gone."""
        self.settle()
        n, chars = self.args.flood_pokes, self.args.flood_chars
        before = rss_kib(self.pid)
        peak = [before or 0]
        sampling = [True]

        def sample():
            while sampling[0]:
                peak[0] = max(peak[0], rss_kib(self.pid) or 0)
                time.sleep(0.2)

        sampler = threading.Thread(target=sample, daemon=True)
        sampler.start()
        mark = self.watcher.mark()
        try:
            reply = self.client.ask(f"flood {n} {chars}")
            acked, refused = int(reply[1]), int(reply[2])
            first, last = self.client.mono(reply[3]), self.client.mono(reply[4])
            seen = self.watcher.wait_popups(mark, acked, "gone", self.args.flood_timeout)
        finally:
            sampling[0] = False
            sampler.join(1)
        popups = self.watcher.since(mark)
        gone = max((p["gone"] for p in popups if p["gone"]), default=None)
        result = {"pokes": n, "chars": chars, "acknowledged": acked, "refused": refused,
                  "all_acked_s": last - first, "slowest_ack_ms": int(reply[5]) / 1000,
                  "popups_seen": len(popups), "all_gone_seen": seen,
                  "all_gone_s": (gone - first) if gone else None,
                  "rss_kib_before": before, "rss_kib_peak": peak[0], "rss_kib_after": rss_kib(self.pid)}
        self.say(f"flood of {n} x {chars} characters: {acked} acknowledged, {refused} refused in "
                 f"{result['all_acked_s']:.1f} s (slowest answer {result['slowest_ack_ms']:.0f} ms); "
                 f"gone after {result['all_gone_s'] or float('nan'):.1f} s; resident memory "
                 f"{before} -> {peak[0]} (highest) -> {result['rss_kib_after']} KiB")
        return result

    def start_traced(self):
        self.trace = RequestTrace(os.path.join(self.args.out_dir, "requests.log"))
        self.xcount = XRequestCounter(os.environ["DISPLAY"])

    def warm_up(self):
        """One-time costs (artwork, window classes) out of the figures, the program's
        and the floor's."""
        for text in ("0;warm", "1;warm", "2;warm"):
            self.poke(text)
        self.settle()
        self.floor(3)

    def run(self):
        started = time.monotonic()
        load_before = os.getloadavg()
        self.say_uptime()
        # The machine's own load, before this run adds to it.
        self.untimed = why_untimed(load_before[0], self.args.trace_requests)
        self.say("times and CPU against the floor: " +
                 (f"skipped, {self.untimed}" if self.untimed else
                  f"medians of {TIMED_REPEATS} bursts of each"))
        self.watcher = RootWatcher()
        if self.args.trace_requests:
            self.start_traced()
        self.start_update_server()
        try:
            self.start_tindra()
            self.warm_up()
            timed = not self.untimed
            phases = {"idle": self.idle, "single": self.singles,
                      "burst50": lambda: self.burst_and_floor(50, "b", timed),
                      "burst200": lambda: self.burst_and_floor(200, "c", timed),
                      "many": self.many, "flood": self.flood, "count": self.counted}
            for name in self.args.phases.split(","):
                self.results["requests" if name == "count" else name] = phases[name]()
            bursts = {k: self.results[k] for k in ("burst50", "burst200") if k in self.results}
            if self.trace and "requests" not in self.results:
                self.results["requests"] = self.count_requests(bursts)
            for b in bursts.values():  # what only the counting needed
                for part in (b, b["floor"]):
                    for key in [k for k in part if k.startswith("_")]:
                        del part[key]
        finally:
            self.stop()
        self.say_uptime()
        self.results["meta"] = {
            "exe": self.args.exe, "label": self.args.label, "host": socket.gethostname(),
            "cpus": os.cpu_count(), "date": datetime.datetime.now().isoformat(timespec="seconds"),
            "load_average": os.getloadavg(), "load_average_before": load_before,
            "untimed": self.untimed, "architecture": pe_architecture(self.args.exe),
            "minutes": (time.monotonic() - started) / 60,
        }
        return self.results

    def stop_tindra(self):
        if self.client:
            try:
                self.client.ask("poke end")
            except (RuntimeError, OSError):
                pass
            self.client.close()
            self.client = None
        if self.tindra:
            wine_session.stop_program(self.tindra)
            self.tindra = None

    def stop(self):
        self.stop_tindra()
        if self.server:
            self.server.stop()
        if self.watcher:
            self.watcher.stop()
        if self.xcount:
            self.xcount.stop()
