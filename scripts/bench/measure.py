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
from bench.floor import SEQUENCE_S, floor_gone_s, median, percentile
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
        self.floor_samples = []
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
        """The machine's load as `uptime` shows it: times taken above 1.0 do not judge."""
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

    def move_cost(self, popups=5):
        """One sample of what a popup's own window costs on this machine, alone: the
        bench client plays login popups on bare windows with the popup's styles (see
        floor_gone_s). Per move, and per popup for creating, showing, destroying and
        handling the exposures of the opening."""
        client = find_process(("tindra-bench.ex", "tindra-bench.exe"), self.prefix)
        before = (cpu_seconds(client) if client else 0.0, self.cpu()[1] or 0.0)
        span = self.trace.offset() if self.trace else None
        x_before = self.xcount.opcodes_of(self.client_pid) if self.xcount else None
        reply = self.client.ask(f"movecost {popups}")
        if self.trace:
            self.last_move_span = (span, self.trace.offset(), popups)
        if self.xcount:
            self.last_move_x = (opcode_delta(x_before, self.xcount.opcodes_of(self.client_pid)), popups)
        after = (cpu_seconds(client) if client else 0.0, self.cpu()[1] or 0.0)
        opening, closing, move_us = int(reply[1]), int(reply[2]), float(reply[3])
        extra = [float(v) for v in reply[4:8]] if len(reply) >= 8 else [0.0] * 4
        moves = popups * (opening + closing)
        return {"opening_moves": opening, "closing_moves": closing, "move_us": move_us,
                "create_us": extra[0] + extra[1], "destroy_us": extra[2], "expose_us": extra[3],
                "cpu_us_per_move": (sum(after) - sum(before)) * 1e6 / moves if client else None}

    def sample_floor(self, where, count=3):
        """Short samples of the floor, spread over the run: their median is the run's
        floor, their spread says how far to trust it."""
        for _ in range(count):
            sample = self.move_cost()
            sample["where"] = where
            self.floor_samples.append(sample)

    def floor_summary(self):
        samples = self.floor_samples
        if not samples:
            return None
        out = {"samples": samples, "opening_moves": samples[0]["opening_moves"],
               "closing_moves": samples[0]["closing_moves"]}
        for key in ("move_us", "create_us", "destroy_us", "expose_us", "cpu_us_per_move"):
            values = [x[key] for x in samples if x.get(key) is not None]
            out[key] = median(values)
            out[key + "_min"] = min(values) if values else None
            out[key + "_max"] = max(values) if values else None
        m = out["move_us"]
        out["move_spread"] = (out["move_us_max"] - out["move_us_min"]) / m if m else None
        # half the samples lie within this of the median
        devs = sorted(abs(x["move_us"] - m) for x in samples)
        out["move_mad"] = median(devs) / m if m else None
        return out

    def apply_floor(self, burst, floor):
        """The floor of a burst from the run's median samples."""
        starts = burst.pop("_starts", None)
        if not starts or not floor:
            return
        o, c = floor["opening_moves"], floor["closing_moves"]
        gone = floor_gone_s(starts, o, c, floor["move_us"] / 1e6, floor["expose_us"] / o / 1e6,
                            floor["create_us"] / 1e6, floor["destroy_us"] / 1e6)
        moves_only = floor_gone_s(starts, o, c, floor["move_us"] / 1e6)
        n = burst["pokes"]
        burst["move_us"] = floor["move_us"]
        burst["floor_gone_s"] = gone
        burst["floor_moves_only_s"] = moves_only
        burst["floor_ratio"] = gone / burst["ideal_s"]
        burst["gone_per_floor"] = burst["all_gone_s"] / gone if burst["all_gone_s"] else None
        # what the floor's thread spends, by row (seconds)
        burst["floor_parts_s"] = {
            "moves": n * (o + c) * floor["move_us"] / 1e6,
            "exposures": n * floor["expose_us"] / 1e6,
            "create_show": n * floor["create_us"] / 1e6,
            "destroy": n * floor["destroy_us"] / 1e6,
        }
        work = burst.get("work")
        if work and work.get("move", (0, 0))[0]:
            # The same floor at the pace the burst's own moves went: every row scaled by
            # the burst's mean move against the samples' median.
            own = work["move"][1] / work["move"][0] * 1e6
            scale = own / floor["move_us"]
            stats = {}
            burst["own_move_us"] = own
            burst["own_floor_gone_s"] = floor_gone_s(
                starts, o, c, own / 1e6, scale * floor["expose_us"] / o / 1e6,
                scale * floor["create_us"] / 1e6, scale * floor["destroy_us"] / 1e6, stats)
            burst["own_floor_late"] = stats
            burst["gone_per_own_floor"] = (burst["all_gone_s"] / burst["own_floor_gone_s"]
                                           if burst["all_gone_s"] else None)
        if floor["cpu_us_per_move"]:
            # the samples' CPU (client + wineserver) covers everything a bare popup does
            burst["floor_cpu_s"] = n * (o + c) * floor["cpu_us_per_move"] / 1e6
            cpu = burst["tindra_cpu_s"] + (burst["wineserver_cpu_s"] or 0.0)
            burst["cpu_per_floor"] = cpu / burst["floor_cpu_s"]

    def burst(self, count, label, quiet=False):
        self.settle()
        if not quiet:
            self.sample_floor(f"before burst {count}")
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
        if not quiet and latencies:
            result["_starts"] = [ms / 1000 for ms in itertools.accumulate(latencies)]
        if not quiet:
            self.say(f"burst of {count}: acked in {all_acked:.2f} s, gone after "
                     f"{result['all_gone_s'] or float('nan'):.2f} s (ratio {result['gone_ratio'] or float('nan'):.2f}), "
                     f"CPU {result['tindra_cpu_s']:.1f} s + {result['wineserver_cpu_s'] or 0:.1f} s")
        return result

    def count_requests(self):
        """wineserver and X11 requests per popup: Tindra's during each burst, and the bare
        window's during the last floor sample (whose client thread made them)."""
        out = {}
        start, end, popups = self.last_move_span
        bare = self.trace.count((start, end), self.trace.thread_of(self.client_pid))
        out["bare"] = {"popups": popups, "per_popup": {k: v / popups for k, v in bare.items()}}
        if self.xcount:
            x, n = self.last_move_x
            out["bare"]["x11_per_popup"] = sum(x.values()) / n
            out["bare"]["x11_by_opcode"] = {str(k): v / n for k, v in sorted(x.items())}
        tindra = self.trace.thread_of(self.pid)
        for key in ("burst50", "burst200"):
            b = self.results.get(key)
            if b and "_trace_span" in b:
                counts = self.trace.count(b.pop("_trace_span"), tindra)
                n = b["pokes"]
                out[key] = {"popups": n, "per_popup": {k: v / n for k, v in counts.items()}}
                if "_x11_requests" in b:
                    x = b.pop("_x11_requests")
                    out[key]["x11_per_popup"] = sum(x.values()) / n
                    out[key]["x11_by_opcode"] = {str(k): v / n for k, v in sorted(x.items())}
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

    def run(self):
        started = time.monotonic()
        load_before = os.getloadavg()
        self.say_uptime()
        self.watcher = RootWatcher()
        if self.args.trace_requests:
            self.trace = RequestTrace(os.path.join(self.args.out_dir, "requests.log"))
            self.xcount = XRequestCounter(os.environ["DISPLAY"])
        self.start_update_server()
        try:
            self.start_tindra()
            # Warm-up: one-time costs (artwork, window classes) out of the figures.
            for text in ("0;warm", "1;warm", "2;warm"):
                self.poke(text)
            self.settle()
            self.sample_floor("start", 4)
            phases = {"idle": self.idle, "single": self.singles,
                       "burst50": lambda: self.burst(50, "b"),
                       "burst200": lambda: self.burst(200, "c"), "many": self.many,
                       "flood": self.flood}
            for name in self.args.phases.split(","):
                self.results[name] = phases[name]()
            self.sample_floor("end")
            floor = self.floor_summary()
            self.results["move"] = floor
            for key in ("burst50", "burst200"):
                if key in self.results:
                    self.apply_floor(self.results[key], floor)
            if self.trace:
                self.results["requests"] = self.count_requests()
            self.say(f"a popup step's window move alone: median {floor['move_us']:.0f} us of "
                     f"{len(floor['samples'])} samples ({floor['move_us_min']:.0f} to "
                     f"{floor['move_us_max']:.0f}); {floor['opening_moves']} + "
                     f"{floor['closing_moves']} moves a popup")
        finally:
            self.stop()
        self.say_uptime()
        self.results["meta"] = {
            "exe": self.args.exe, "label": self.args.label, "host": socket.gethostname(),
            "cpus": os.cpu_count(), "date": datetime.datetime.now().isoformat(timespec="seconds"),
            "load_average": os.getloadavg(), "load_average_before": load_before,
            "architecture": pe_architecture(self.args.exe),
            "minutes": (time.monotonic() - started) / 60,
        }
        return self.results

    def stop(self):
        if self.client:
            try:
                self.client.ask("poke end")
            except (RuntimeError, OSError):
                pass
            self.client.close()
        if self.tindra:
            wine_session.stop_program(self.tindra)
        if self.server:
            self.server.stop()
        if self.watcher:
            self.watcher.stop()
        if self.xcount:
            self.xcount.stop()
