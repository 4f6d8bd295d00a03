#!/usr/bin/env python3
"""The start-up update against a real web server: Debian's nginx, started here on
127.0.0.1 with a private configuration, serves the update-server trees that
scripts/update-tree.sh writes (the code `make release` uses) for two releases.

  update_nginx_test.py --installed DIR [[NAME=]FILE ...] --published DIR [[NAME=]FILE ...]
                       --port PORT --build BUILD --source SOURCE [--poke TINDRA_POKE]
                       [--refused]

DIR is a program folder (Tindra.exe, Vantorel.exe, Pellmora.exe) built for the update
host 127.0.0.1:PORT; each program's revision is read from its version block. A FILE
after a folder takes the place of that folder's program NAME (by default the file's
own name). PORT 0 picks a free port, which only programs that take the server's
address from the environment can follow.

The round trip: the installed release, with its own tree served, starts and fetches
no program; then the newer tree is published, the checker fetches the new Tindra.exe,
the replacer installs it and the new program answers pokes of each mode and "end",
sent with TINDRA_POKE (by default the build's tindra-poke.exe; a release test gives
the one from its zip). With --refused the newer release is one the installed one must
not trust (another publisher's): it is fetched, refused, and nothing changes.

Runs inside scripts/test-env.sh, like update_wine_test.py, whose Wine helpers it uses.
Stops nginx by its process id. Exit status 0 when the round trip passes.
"""

import argparse
import os
import re
import shutil
import socket
import subprocess
import sys
import time
import traceback

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import update_wine_test as uw  # noqa: E402
from update_wine_test import check, same_file  # noqa: E402

PROGRAMS = ("Tindra.exe", "Vantorel.exe", "Pellmora.exe")

CONFIG = """\
daemon off;
{user}worker_processes 1;
pid {dir}/nginx.pid;
error_log {dir}/error.log;
events {{ worker_connections 64; }}
http {{
    default_type application/octet-stream;
    types {{ text/plain txt; }}
    log_format update '$status $request_uri "$http_user_agent"';
    access_log {dir}/access.log update;
    client_body_temp_path {dir}/temp/body;
    proxy_temp_path {dir}/temp/proxy;
    fastcgi_temp_path {dir}/temp/fastcgi;
    uwsgi_temp_path {dir}/temp/uwsgi;
    scgi_temp_path {dir}/temp/scgi;
    server {{
        listen 127.0.0.1:{port};
        root {dir}/www;
    }}
}}
"""


class Nginx:
    """nginx in the foreground on a private prefix: configuration, logs, pid, web root."""

    def __init__(self, prefix, port):
        self.prefix = prefix
        self.port = port
        self.www = os.path.join(prefix, "www")
        self.access_log = os.path.join(prefix, "access.log")
        self.error_log = os.path.join(prefix, "error.log")
        self.conf = os.path.join(prefix, "nginx.conf")
        self.pid_file = os.path.join(prefix, "nginx.pid")
        os.makedirs(os.path.join(prefix, "temp"))
        os.makedirs(self.www)
        # Started as root, the worker would run as nobody and might not read the build
        # folder; it runs as the test's own user instead.
        user = "user root;\n" if os.geteuid() == 0 else ""
        with open(self.conf, "w") as f:
            f.write(CONFIG.format(dir=prefix, port=port, user=user))

    def start(self):
        """The master process, once it listens (it writes its pid file after binding);
        it ends its worker when it is stopped."""
        nginx = shutil.which("nginx") or "/usr/sbin/nginx"
        check(os.path.exists(nginx), "nginx is not installed (scripts/setup.sh installs it)")
        try:
            socket.create_connection(("127.0.0.1", self.port), 0.5).close()
            raise uw.Failure("127.0.0.1:%d is taken by another program" % self.port)
        except OSError:
            pass
        proc = subprocess.Popen([nginx, "-c", self.conf, "-p", self.prefix, "-e",
                                 self.error_log], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and proc.poll() is None:
            if os.path.exists(self.pid_file):
                with open(self.pid_file) as f:
                    if f.read().strip() == str(proc.pid):
                        return proc
            time.sleep(0.1)
        proc.kill()
        proc.wait()
        raise uw.Failure("nginx did not listen on 127.0.0.1:%d:\n%s" % (self.port, self.errors()))

    def errors(self):
        if not os.path.exists(self.error_log):
            return ""
        with open(self.error_log, errors="replace") as f:
            return f.read()

    def serve(self, tree):
        """Publishes an update-server tree as the web root."""
        shutil.rmtree(self.www)
        shutil.copytree(tree, self.www)
        open(self.access_log, "w").close()

    def requests(self):
        """(status, URI as logged, user agent) per request; nginx logs bytes above
        0x7f as \\xNN."""
        with open(self.access_log, encoding="ascii", errors="replace") as f:
            return [re.match(r'(\d+) (\S+) "(.*)"$', line.rstrip("\n")).groups()
                    for line in f if line.strip()]

    def fetched(self, name):
        """Number of answered requests for a file of the update folder."""
        path = ("/download/%s/%s" % (uw.CP949_FOLDER, name)).lower()
        return sum(1 for status, uri, _ in self.requests()
                   if status == "200" and uri.lower() == path)


class Env(uw.Env):
    """update_wine_test's Wine helpers (start, poke, probe, end_all, stop_server)
    with the programs of this test and nginx in place of the test server."""

    def __init__(self, build, source, port, poke=None):  # pylint: disable=super-init-not-called
        self.build = build
        self.source = source
        self.probe_exe = os.path.join(build, "update", "tests", "update-probe.exe")
        self.poke_exe = poke or os.path.join(build, "tools", "poke", "tindra-poke.exe")
        self.work = os.path.join(build, "update", "tests", "nginx-work")
        self.port = port
        self.server = None
        self.started = []
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.nginx = Nginx(os.path.join(self.work, "nginx"), port)
        # The test copies of the programs ask the host their test names (TEST_HOST).
        os.environ["TINDRA_TEST_UPDATE_HOST"] = "127.0.0.1:%d" % port

    def start_server(self):
        self.server = self.nginx.start()

    def stop_server(self):
        if self.server:
            uw.wine_session.end_process(self.server)
            self.server = None


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def program_set(folder, *extra):
    """The three programs of a folder, some replaced by the files given after it."""
    files = {name: os.path.join(folder, name) for name in PROGRAMS}
    for replacement in extra:
        name, _, path = replacement.rpartition("=")
        name = name or os.path.basename(path)
        check(name in files, "%s names no program" % replacement)
        files[name] = path
    for path in files.values():
        check(os.path.isfile(path), "missing program: %s" % path)
    return files


def revision_of(env, path):
    version = env.version(path)
    check(re.fullmatch(r"1\.00\.\d{4}", version), "%s has no version: %r" % (path, version))
    return int(version.rsplit(".", 1)[1])


def assemble(env, name, files):
    folder = os.path.join(env.work, name)
    os.makedirs(folder)
    for program, path in files.items():
        shutil.copyfile(path, os.path.join(folder, program))
    return folder


def update_tree(env, programs, revision, name):
    tree = os.path.join(env.work, name)
    subprocess.run(["bash", os.path.join(env.source, "scripts", "update-tree.sh"), programs,
                    str(revision), tree], check=True)
    return tree


def round_trip(env, nginx, installed, published):
    old = revision_of(env, installed["Tindra.exe"])
    new = revision_of(env, published["Tindra.exe"])
    check(old < new, "installed revision %d is not older than published %d" % (old, new))
    old_programs = assemble(env, "release-%d" % old, installed)
    new_programs = assemble(env, "release-%d" % new, published)
    old_tree = update_tree(env, old_programs, old, "update-server-%d" % old)
    new_tree = update_tree(env, new_programs, new, "update-server-%d" % new)
    folder = assemble(env, "user", installed)
    tindra = os.path.join(folder, "Tindra.exe")

    # Its own release served: both version files are read, no program is fetched.
    nginx.serve(old_tree)
    proc = env.start(tindra)
    uw.wait_started(env, proc)
    for name in ("Vantorel_lastver.txt", "Tindra_lastver.txt"):
        check(nginx.fetched(name) == 1, "%s read %d times" % (name, nginx.fetched(name)))
    check(len(nginx.requests()) == 2, "more was asked for: %r" % nginx.requests())
    check(env.poke("end") == 0, "revision %d did not take end" % old)
    proc.wait(20)
    check(uw.program_files(folder) == sorted(PROGRAMS), "files: %r" % os.listdir(folder))
    print("    revision %d, own release served: %d requests, no program fetched"
          % (old, len(nginx.requests())), flush=True)

    # The newer release published: companions, then the program, then the hand-over.
    nginx.serve(new_tree)
    began = time.monotonic()
    first = env.start(tindra)
    first.wait(60)  # hands over to the replacer and ends
    deadline = time.monotonic() + 60
    while not same_file(tindra, published["Tindra.exe"]) and time.monotonic() < deadline:
        time.sleep(0.5)
    check(same_file(tindra, published["Tindra.exe"]), "the program was not replaced: %r"
          % nginx.requests())
    check(env.probe("waitgone", "Pellmora.exe", 20000)[0] == 0, "the replacer did not end")
    check(env.poke("0;김민준", wait=40) == 0, "revision %d takes no poke" % new)
    check(env.poke("1;김민준") == 0, "revision %d refused a logout" % new)
    check(env.poke("2;새 쪽지가 도착했습니다") == 0, "revision %d refused a notice" % new)
    installed = env.version(tindra)
    check(installed == "1.00.%04d" % new, "installed version %r" % installed)
    print("    revision %d published: installed and answering after %.1f s"
          % (new, time.monotonic() - began), flush=True)

    for name in PROGRAMS:
        check(same_file(os.path.join(folder, name), published[name]), "%s differs" % name)
    check(uw.program_files(folder) == sorted(PROGRAMS), "files: %r" % os.listdir(folder))
    check(nginx.fetched("Tindra.exe") == 1, "Tindra.exe fetched %d times"
          % nginx.fetched("Tindra.exe"))
    # The old program fetches the companions; the new one again only when the
    # published checker is older than the revision its own tree announces.
    companions = 1 if revision_of(env, published["Vantorel.exe"]) >= new else 2
    for name in ("Vantorel.exe", "Pellmora.exe"):
        check(nginx.fetched(name) == companions, "%s fetched %d times, not %d: %r"
              % (name, nginx.fetched(name), companions, nginx.requests()))
    failed = [r for r in nginx.requests() if r[0] != "200"]
    check(not failed, "requests not answered with 200: %r" % failed)
    check(env.poke("end") == 0, "revision %d did not take end" % new)
    check(env.probe("waitgone", "Tindra.exe", 10000)[0] == 0, "revision %d did not end" % new)


def refused_trip(env, nginx, installed, published):
    old = revision_of(env, installed["Tindra.exe"])
    new = revision_of(env, published["Tindra.exe"])
    new_tree = update_tree(env, assemble(env, "foreign-%d" % new, published), new,
                           "update-server-foreign-%d" % new)
    folder = assemble(env, "user", installed)
    nginx.serve(new_tree)
    proc = env.start(os.path.join(folder, "Tindra.exe"))
    uw.wait_started(env, proc)  # start-up goes on with the programs it has
    check(nginx.fetched("Vantorel.exe") == 1, "the newer checker was not fetched: %r"
          % nginx.requests())
    # The refused checker is backed off, and the trusted one in place runs: it may fetch
    # the other publisher's program once, and refuses it too.
    fetched_program = nginx.fetched("Tindra.exe")
    check(fetched_program <= 1, "the program was fetched %d times" % fetched_program)
    for name in PROGRAMS:
        check(same_file(os.path.join(folder, name), installed[name]), "%s changed" % name)
    records = ["Vantorel_failed.txt"] + (["Tindra_failed.txt"] if fetched_program else [])
    check(uw.program_files(folder) == sorted(list(PROGRAMS) + records),
          "files: %r" % os.listdir(folder))
    uw.check_logged(folder, "Tindra check", "Vantorel.exe", "verdict=refused",
                    'reason="foreign signer"')
    if fetched_program:
        uw.check_logged(folder, "Vantorel check", "New_Tindra.exe", "verdict=refused",
                        'reason="foreign signer"')
    check(env.poke("1;김민준") == 0, "revision %d takes no poke after the refusal" % old)
    check(env.poke("end") == 0, "revision %d did not take end" % old)
    proc.wait(20)
    print("    revision %d refused the release %d of another publisher and carried on"
          % (old, new), flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--installed", nargs="+", required=True, metavar="DIR [[NAME=]FILE]",
                        help="program folder of the older release, and files in place of its own")
    parser.add_argument("--published", nargs="+", required=True, metavar="DIR [[NAME=]FILE]",
                        help="program folder of the newer release, and files in place of its own")
    parser.add_argument("--port", type=int, required=True, help="0 picks a free port")
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--poke", help="the tindra-poke.exe to send the pokes with")
    parser.add_argument("--refused", action="store_true",
                        help="the published release is one the installed one must refuse")
    args = parser.parse_args()
    env = Env(os.path.abspath(args.build), os.path.abspath(args.source),
              args.port or free_port(), args.poke and os.path.abspath(args.poke))
    began = time.monotonic()
    try:
        installed = program_set(*args.installed)
        published = program_set(*args.published)
        env.start_server()
        (refused_trip if args.refused else round_trip)(env, env.nginx, installed, published)
        print("PASS nginx round trip (%.1f s)" % (time.monotonic() - began), flush=True)
        return 0
    except Exception as e:  # report, then clean up
        detail = str(e) if isinstance(e, uw.Failure) else traceback.format_exc()
        print("FAIL nginx round trip: %s" % detail, flush=True)
        errors = env.nginx.errors()
        if errors:
            print("nginx error log:\n" + errors, flush=True)
        return 1
    finally:
        env.end_all()
        env.stop_server()


if __name__ == "__main__":
    sys.exit(main())
