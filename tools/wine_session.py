"""A local update server for this build and Windows programs under Wine, for the Python
tests and the benchmark (wine_session.sh beside it is the same for the shell scripts).

    server = UpdateServer(root, port, log=...)   # tools/update_server.py, not yet started
    server.start()                               # returns once it listens
    publish_build(root, program_folder, revision)
    proc = start_program(exe)                    # wine exe, detached from our output
    stop_program(proc)                           # waits for its end, then ends it
"""
import os
import select
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SERVER = os.path.join(ROOT, "tools", "update_server.py")


class UpdateServer:
    """tools/update_server.py serving `root` on 127.0.0.1:`port` (0: a free one)."""

    def __init__(self, root, port=0, log=None, control=None, stderr=subprocess.DEVNULL, args=()):
        self.command = [sys.executable, SERVER, "--root", root, "--port", str(port)]
        if log:
            self.command += ["--log", log]
        if control:
            self.command += ["--control", control]
        self.command += list(args)
        self.stderr = stderr
        self.proc = None
        self.port = None

    def start(self, tries=1, pause=2.0, timeout=10.0):
        """Starts the server and returns its port once it listens. A port held by
        another run for a moment is tried again `tries` times in all, `pause` seconds
        apart; RuntimeError when it never listens."""
        for attempt in range(tries):
            if attempt:
                time.sleep(pause)
            self.proc = subprocess.Popen(self.command, stdin=subprocess.DEVNULL,
                                         stdout=subprocess.PIPE, stderr=self.stderr, text=True)
            ready, _, _ = select.select([self.proc.stdout], [], [], timeout)
            line = self.proc.stdout.readline() if ready else ""
            if line.strip().isdigit():
                self.port = int(line)
                return self.port
            self.stop()
        raise RuntimeError("the update server could not listen: " + " ".join(self.command[2:]))

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def stop(self):
        if not self.proc:
            return
        end_process(self.proc)
        self.proc.stdout.close()
        self.proc = None


def win_build(build):
    """The Windows build folder under `build` for WINARCH (scripts/winarch.sh)."""
    return os.path.join(build, "win-x86_64" if os.environ.get("WINARCH") == "x86_64" else "win")


def end_process(proc, timeout=10):
    """Asks a process of ours to end (SIGTERM) and kills it after `timeout` seconds."""
    proc.terminate()
    try:
        proc.wait(timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def publish_build(root, program_folder, revision):
    """Makes `root` the update folder of a build: its three programs from
    `program_folder`, and `revision` announced for the checker and for Tindra, so that
    a start-up update of that build passes quietly."""
    subprocess.run(["bash", os.path.join(ROOT, "scripts", "update-tree.sh"), "--folder",
                    program_folder, str(revision), root], check=True)


def start_program(exe, args=(), **popen):
    """Starts a Windows program under Wine; its standard handles go nowhere unless
    given. Further keywords go to subprocess.Popen (cwd, env, text ...)."""
    for name in ("stdin", "stdout", "stderr"):
        popen.setdefault(name, subprocess.DEVNULL)
    return subprocess.Popen(["wine", exe] + [str(a) for a in args], **popen)


def stop_program(proc, timeout=10):
    """Waits up to `timeout` seconds for a started program to end, then ends it."""
    try:
        proc.wait(timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
