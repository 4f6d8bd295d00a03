#!/usr/bin/env python3
"""The start-up update under Wine: the real, signed Tindra.exe (revisions 27 and 28),
Vantorel.exe and Pellmora.exe, built for the test host, against tools/update_server.py
listening on that host.

Runs inside scripts/test-env.sh (display, Wine prefix, Korean locale). Every
scenario ends every program it started. Exit status 0 when all scenarios pass.
"""

import argparse
import hashlib
import json
import os
import re
import shutil
import subprocess
import tempfile
import sys
import time
import traceback
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                                "tools"))
import wine_session  # noqa: E402

CP949_FOLDER = "\\xc0\\xda\\xb5\\xbf\\xbe\\xf7\\xb5\\xa5\\xc0\\xcc\\xc6\\xae_v1"
CANNOT_READ = "Vantorel.exe의 최신버전 정보를 읽어올 수 없습니다!"
NO_REPLACER = "파일교체 프로그램을 찾을 수 없습니다."


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Env:
    def __init__(self, build, source, work="wine-work"):
        self.build = build
        self.source = source
        self.port = 0  # a free one, kept once the server has taken it
        p = lambda *parts: os.path.join(build, *parts)
        self.tindra = {27: p("programs", "Tindra_update_t27", "Tindra.exe"),
                       28: p("programs", "Tindra_update_t28", "Tindra.exe")}
        self.vantorel = {27: p("vantorel", "Vantorel_test.exe"),
                         26: p("vantorel", "Vantorel_test_r26.exe"),
                         28: p("vantorel", "Vantorel_test_r28.exe")}
        self.pellmora = p("pellmora", "Pellmora_test.exe")
        self.pellmora_r = {26: p("pellmora", "Pellmora_test_r26.exe"),
                           28: p("pellmora", "Pellmora_test_r28.exe")}
        self.vantorel_r28 = p("vantorel", "Vantorel_test_r28.exe")
        self.probe_exe = p("update", "tests", "update-probe.exe")
        # Revision 28 that ends with a crash's exit code, one that really crashes, and
        # one that shows its fatal error box and waits there; a replacer that ends at
        # start.
        self.crashing = {"crash exit code": p("update", "tests", "crash_r28.exe"),
                         "real crash": p("update", "tests", "fault_r28.exe"),
                         "fatal error box": p("update", "tests", "fatal_r28.exe")}
        self.crash_pellmora = p("update", "tests", "crash_pellmora_r27.exe")
        # Revision 28 that answers its window messages for 25 s, then crashes.
        self.slow_crash = p("update", "tests", "slow_crash_r28.exe")
        self.poke_exe = p("tools", "poke", "tindra-poke.exe")
        self.work = p("update", "tests", work)
        self.root = os.path.join(self.work, "server")
        self.control = os.path.join(self.work, "control.json")
        self.log = os.path.join(self.work, "server.log")
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.root)
        self.server = wine_session.UpdateServer(self.root, self.port, log=self.log,
                                                control=self.control)
        self.started = []
        self.signing = os.path.join(build, "signing")

    # ---- the server

    def start_server(self):
        """Starts the server, on the port it had before when it is started again, and
        passes its host to the programs (they are built to take it: TEST_HOST)."""
        port = self.server.start(tries=3)
        check(self.port in (0, port), "server port")
        self.port = port
        self.server.command[self.server.command.index("--port") + 1] = str(port)
        os.environ["TINDRA_TEST_UPDATE_HOST"] = self.host()

    def stop_server(self):
        self.server.stop()

    def publish(self, files, status=None, hang=None, cut=None, drip=None, endless=None,
                redirect=None, drip_head=None):
        """Serves exactly `files` (name -> local path or bytes) with the given misbehaviour."""
        for name in os.listdir(self.root):
            os.remove(os.path.join(self.root, name))
        for name, content in files.items():
            target = os.path.join(self.root, name)
            if isinstance(content, bytes):
                with open(target, "wb") as f:
                    f.write(content)
            else:
                shutil.copyfile(content, target)
        with open(self.control, "w", encoding="utf-8") as f:
            json.dump({"status": status or {}, "hang": hang or [], "cut": cut or {},
                       "drip": drip or {}, "drip_head": drip_head or {},
                       "endless": endless or [],
                       "redirect": redirect or {}}, f)
        open(self.log, "w").close()

    def requests(self):
        with open(self.log, encoding="utf-8") as f:
            return [line.rstrip("\n") for line in f]

    def clear_requests(self):
        open(self.log, "w").close()

    def requested(self, name):
        return any(("/" + name + " ") in line for line in self.requests())

    # ---- Wine programs

    def host(self):
        return "127.0.0.1:%d" % self.port

    def start(self, exe, args=(), env=None):
        proc = wine_session.start_program(exe, args, env=env)
        self.started.append(proc)
        return proc

    @staticmethod
    def run_wine(cmd, env=None, timeout=120):
        # Output goes to a file, not a pipe: a Wine helper process started on the way
        # (the desktop process, when it had shut down) inherits the output handles and
        # would keep a pipe open long after the program itself has ended.
        with tempfile.TemporaryFile() as out:
            r = subprocess.run(["wine"] + cmd, env=env, stdin=subprocess.DEVNULL, stdout=out,
                               stderr=subprocess.DEVNULL, timeout=timeout)
            out.seek(0)
            return r.returncode, out.read().decode("utf-8", "replace").replace("\r\n", "\n")

    def probe(self, *args, timeout=120):
        return self.run_wine([self.probe_exe] + [str(a) for a in args], timeout=timeout)

    def box(self, timeout_ms=20000):
        rc, out = self.probe("box", timeout_ms)
        check(rc == 0, "no message box appeared within %d ms" % timeout_ms)
        return out

    def poke(self, text, wait=20):
        rc, _ = self.run_wine([self.poke_exe, "--wait", str(wait), "--", text], timeout=wait + 30)
        return rc

    def program_folder(self, name, checker=27, replacer=True, tindra=27):
        folder = os.path.join(self.work, name)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        shutil.copyfile(self.tindra[tindra], os.path.join(folder, "Tindra.exe"))
        if checker:
            shutil.copyfile(self.vantorel[checker], os.path.join(folder, "Vantorel.exe"))
        if replacer:
            shutil.copyfile(self.pellmora, os.path.join(folder, "Pellmora.exe"))
        return folder

    def version(self, path):
        """The file's version text; when it cannot be read, why, for the failure's message."""
        rc, out = self.probe("version", path)
        return out.strip() if rc == 0 else "(unreadable: exit %d, %s)" % (rc, out.strip())

    def end_all(self):
        """Ends Tindra politely when it listens, then whatever of ours still runs."""
        if self.probe("running", "Tindra.exe")[0] == 0:
            self.poke("end", wait=3)
            self.probe("waitgone", "Tindra.exe", 5000)
        for _ in range(5):  # boxes left open by a failed scenario
            if self.probe("box", 300)[0] != 0:
                break
        for name in ("Tindra.exe", "Vantorel.exe", "Pellmora.exe"):
            self.probe("kill", name)
        for proc in self.started:
            wine_session.stop_program(proc, 15)
        self.started = []


def sha256_of(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def same_file(a, b):
    with open(a, "rb") as f, open(b, "rb") as g:
        return f.read() == g.read()


def program_files(folder):
    """The folder's files, sorted, without the update log."""
    return sorted(n for n in os.listdir(folder) if not n.startswith("Tindra_update.log"))


def leftovers(folder):
    """Files a transfer may have left behind."""
    return [n for n in os.listdir(folder) if n.lower().endswith((".tmp", ".part"))]


def hostile_copies(env, signed):
    """Copies of a signed program that must not be trusted, name -> path: one byte
    changed, the signature removed, signed again with another key, and a web page
    served with status 200 in its place."""
    folder = os.path.join(env.work, "hostile", os.path.basename(os.path.dirname(signed)) +
                          "-" + os.path.basename(signed))
    made = {name: os.path.join(folder, name + ".exe")
            for name in ("one byte changed", "unsigned", "another key", "web page")}
    if os.path.isdir(folder):
        return made
    os.makedirs(folder)
    with open(signed, "rb") as f:
        data = bytearray(f.read())
    data[len(data) // 3] ^= 0x01
    with open(made["one byte changed"], "wb") as f:
        f.write(data)
    subprocess.run(["osslsigncode", "remove-signature", "-in", signed, "-out", made["unsigned"]],
                   check=True, stdout=subprocess.DEVNULL)
    key, cert = os.path.join(env.work, "other-key.pem"), os.path.join(env.work, "other-cert.pem")
    if not os.path.exists(cert):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                        "-out", cert, "-days", "30", "-subj", "/CN=Somebody else",
                        "-addext", "extendedKeyUsage=codeSigning"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256",
                    "-in", made["unsigned"], "-out", made["another key"]],
                   check=True, stdout=subprocess.DEVNULL)
    with open(made["web page"], "wb") as f:
        f.write(b"<html><body>Please sign in to the network</body></html>\n" * 50)
    return made


def resigned(env, signed, cert, key, label):
    """A copy of `signed` with its signature replaced by one made with `cert` and `key`."""
    folder = os.path.join(env.work, "resigned", label)
    os.makedirs(folder, exist_ok=True)
    out = os.path.join(folder, os.path.basename(os.path.dirname(signed)) + "-" +
                       os.path.basename(signed))
    bare = out + ".unsigned"
    subprocess.run(["osslsigncode", "remove-signature", "-in", signed, "-out", bare],
                   check=True, stdout=subprocess.DEVNULL)
    if os.path.exists(out):
        os.remove(out)
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256",
                    "-n", "Tindra", "-in", bare, "-out", out],
                   check=True, stdout=subprocess.DEVNULL)
    os.remove(bare)
    return out


def expired_dev_certificate(env):
    """A code-signing certificate for the development key that expired on 1 January 2024."""
    folder = os.path.join(env.work, "expired-ca")
    cert = os.path.join(folder, "expired-cert.pem")
    if os.path.exists(cert):
        return cert
    os.makedirs(os.path.join(folder, "certs"))
    key = os.path.join(env.signing, "dev-key.pem")
    open(os.path.join(folder, "index.txt"), "w").close()
    with open(os.path.join(folder, "serial"), "w") as f:
        f.write("01\n")
    with open(os.path.join(folder, "ca.cnf"), "w") as f:
        f.write("[ca]\ndefault_ca = d\n[d]\ndatabase = index.txt\nnew_certs_dir = certs\n"
                "serial = serial\ndefault_md = sha256\npolicy = p\nunique_subject = no\n"
                "x509_extensions = ext\n[p]\ncommonName = supplied\n"
                "[ext]\nextendedKeyUsage = codeSigning\n")
    quiet = dict(check=True, cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["openssl", "req", "-new", "-key", key, "-subj", "/CN=Tindra, expired",
                    "-out", "req.csr"], **quiet)
    subprocess.run(["openssl", "ca", "-batch", "-config", "ca.cnf", "-selfsign", "-keyfile", key,
                    "-in", "req.csr", "-startdate", "20230101000000Z",
                    "-enddate", "20240101000000Z", "-out", cert], **quiet)
    return cert


def serve_and_start(env, folder, files):
    """Serves `files` and starts the folder's Tindra; returns once start-up has finished."""
    env.publish(files)
    wait_started(env, env.start(os.path.join(folder, "Tindra.exe")))


def wait_started(env, proc):
    """Start-up has finished once Tindra takes a poke."""
    rc = env.poke("0;test")
    check(rc == 0, "Tindra did not take a poke after start-up (tindra-poke exit %s)" % rc)


# ---- scenarios

def scenario_unreachable_server(env):
    folder = env.program_folder("unreachable")
    env.stop_server()  # nobody listens on the host
    try:
        proc = env.start(os.path.join(folder, "Tindra.exe"))
        out = env.box()
    finally:
        env.start_server()
    check("caption: Tindra" in out, "box caption: %r" % out)
    check("text: " + CANNOT_READ in out, "box text: %r" % out)
    check("icon" in out, "the message has no error icon: %r" % out)
    check_logged(folder, "Tindra read url=http://", "verdict=failed", "no answer from the server")
    wait_started(env, proc)
    check(env.poke("end") == 0, "end not taken")
    proc.wait(20)


def scenario_error_page_and_raw_request(env):
    folder = env.program_folder("error page")
    env.publish({"Vantorel.exe": env.vantorel[27], "Pellmora.exe": env.pellmora},
                status={"Vantorel_lastver.txt": 404})
    proc = env.start(os.path.join(folder, "Tindra.exe"))
    wait_started(env, proc)
    lines = env.requests()
    check(not env.requested("Vantorel.exe"), "a download happened: %r" % lines)
    check(env.requested("Tindra_lastver.txt"), "the checker did not run: %r" % lines)
    raw = "GET /download/%s/Vantorel_lastver.txt HTTP/1.1 | User-Agent: VB OpenUrl" % CP949_FOLDER
    check(raw in lines, "request line not sent as raw CP949 by 'VB OpenUrl': %r" % lines)
    check_logged(folder, "Vantorel read", "status=404", 'reason="HTTP status 404"')


def scenario_current_checker(env):
    folder = env.program_folder("current")
    with open(os.path.join(folder, "New_Tindra.exe"), "wb") as f:
        f.write(b"left from an earlier run")
    env.publish({"Vantorel_lastver.txt": b"27\r\n", "Vantorel.exe": env.vantorel[27],
                 "Pellmora.exe": env.pellmora})
    proc = env.start(os.path.join(folder, "Tindra.exe"))
    wait_started(env, proc)
    check(not env.requested("Vantorel.exe") and not env.requested("Pellmora.exe"),
          "downloaded although current: %r" % env.requests())
    check(env.requested("Tindra_lastver.txt"), "the checker did not run")
    check(not os.path.exists(os.path.join(folder, "New_Tindra.exe")),
          "the checker left a stale New_ file")


def scenario_older_checker(env):
    folder = env.program_folder("older", checker=26)
    with open(os.path.join(folder, "Pellmora.exe"), "wb") as f:
        f.write(b"old replacer")
    env.publish({"Vantorel_lastver.txt": b"27", "Vantorel.exe": env.vantorel[27],
                 "Pellmora.exe": env.pellmora})
    proc = env.start(os.path.join(folder, "Tindra.exe"))
    wait_started(env, proc)
    check(same_file(os.path.join(folder, "Vantorel.exe"), env.vantorel[27]), "checker not updated")
    check(same_file(os.path.join(folder, "Pellmora.exe"), env.pellmora), "replacer not updated")
    check(env.version(os.path.join(folder, "Vantorel.exe")) == "1.00.0027", "checker version")
    check(env.requested("Tindra_lastver.txt"), "the new checker did not run")
    check(not leftovers(folder), "temporary files left: %r" % leftovers(folder))


def scenario_missing_checker(env):
    folder = env.program_folder("missing", checker=None)
    env.publish({"Vantorel_lastver.txt": b"27", "Vantorel.exe": env.vantorel[27],
                 "Pellmora.exe": env.pellmora})
    proc = env.start(os.path.join(folder, "Tindra.exe"))
    wait_started(env, proc)
    check(same_file(os.path.join(folder, "Vantorel.exe"), env.vantorel[27]), "checker not fetched")
    check(env.requested("Pellmora.exe"), "replacer not fetched")


def scenario_latest_zero_without_checker(env):
    # No checker to check, so none is started, and no box is shown for it.
    folder = env.program_folder("zero", checker=None)
    env.publish({"Vantorel_lastver.txt": b"0", "Vantorel.exe": env.vantorel[27]})
    proc = env.start(os.path.join(folder, "Tindra.exe"))
    wait_started(env, proc)
    check(env.probe("nobox", 1000)[0] == 0, "a message box is open")
    check(not env.requested("Vantorel.exe"), "downloaded with latest 0")
    check(not os.path.exists(os.path.join(folder, "Vantorel.exe")), "a checker appeared")


def scenario_checker_download_fails(env):
    # Checker 28 announced but answered with 500: the trusted checker in place (27)
    # still runs, so the program's own update still comes, and nothing holds revision
    # 28 back. A checker in place below the build's floor (26) is not run.
    for in_place in (27, 26):
        print("    checker %d in place" % in_place)
        folder = env.program_folder("download fails", checker=in_place)
        env.publish({"Vantorel_lastver.txt": b"28", "Vantorel.exe": env.vantorel[28],
                     "Pellmora.exe": env.pellmora}, status={"Vantorel.exe": 500})
        proc = env.start(os.path.join(folder, "Tindra.exe"))
        wait_started(env, proc)
        check(same_file(os.path.join(folder, "Vantorel.exe"), env.vantorel[in_place]),
              "the old checker was touched")
        check(not env.requested("Pellmora.exe"), "the replacer was fetched after a failure")
        check(env.requested("Tindra_lastver.txt") == (in_place == 27),
              "the checker in place %s" % ("did not run" if in_place == 27 else "ran"))
        check(not os.path.exists(os.path.join(folder, "Vantorel_failed.txt")), "held back")
        check(not leftovers(folder), "temporary files left: %r" % leftovers(folder))
        check_logged(folder, "Tindra download file=Vantorel.exe.part", "status=500",
                     "verdict=failed")
        env.end_all()
        env.clear_requests()


def scenario_body_cut_short(env):
    folder = env.program_folder("cut short", checker=27)
    env.publish({"Vantorel_lastver.txt": b"28", "Vantorel.exe": env.vantorel[28],
                 "Pellmora.exe": env.pellmora}, cut={"Vantorel.exe": 5000})
    proc = env.start(os.path.join(folder, "Tindra.exe"))
    wait_started(env, proc)
    check(same_file(os.path.join(folder, "Vantorel.exe"), env.vantorel[27]),
          "a short body replaced the checker")
    check(not env.requested("Pellmora.exe"), "the replacer was fetched after a short body")
    check(env.requested("Tindra_lastver.txt"), "the checker in place did not run")
    check_logged(folder, "Tindra download", "status=200", "verdict=failed", "incomplete")
    check(not leftovers(folder), "temporary files left: %r" % leftovers(folder))


def scenario_new_file_without_replacer(env):
    # A New_ file from elsewhere, no checker to refresh it and no replacer: the
    # message and Explorer on the folder; then the new file goes, its failure is
    # recorded and Tindra takes notifications. (A checker that runs leaves a New_
    # file only beside a trusted replacer.)
    folder = env.program_folder("no replacer", checker=None, replacer=False)
    shutil.copyfile(env.tindra[28], os.path.join(folder, "New_Tindra.exe"))
    env.publish({"Vantorel_lastver.txt": b"0"})
    proc = env.start(os.path.join(folder, "Tindra.exe"))
    out = env.box(30000)
    check("text: " + NO_REPLACER + "\n\n" in out, "box text: %r" % out)
    check(out.rstrip("\n").endswith("no replacer\\Pellmora.exe") or
          "no replacer\\Pellmora.exe" in out, "box does not name the replacer path: %r" % out)
    check("icon" not in out, "the message has an icon")
    rc, shown = env.probe("window", "no replacer", 15000)
    check(rc == 0, "no Explorer window on the program folder")
    wait_started(env, proc)
    check(not os.path.exists(os.path.join(folder, "New_Tindra.exe")), "New_ file kept")
    check(same_file(os.path.join(folder, "Tindra.exe"), env.tindra[27]), "program replaced")
    check_failure_recorded(folder, 28, "no trusted replacer could be started")


def scenario_hand_over_to_a_replacer_that_cannot_take_over(env):
    # The publisher's Tindra.exe in the replacer's place, then a trusted replacer that
    # another program keeps locked (as a scanner may): each time the message, the new
    # file goes, the failure is recorded, and this start and the next take
    # notifications with no message.
    for fault in ("the program as the replacer", "a locked replacer"):
        print("    %s" % fault)
        folder = env.program_folder("replacer cannot start", checker=None)
        shutil.copyfile(env.tindra[28], os.path.join(folder, "New_Tindra.exe"))
        replacer = os.path.join(folder, "Pellmora.exe")
        holder = None
        if fault == "the program as the replacer":
            shutil.copyfile(env.tindra[27], replacer)
        else:
            holder = env.start(env.probe_exe, args=["lock", replacer, "60000"])
            time.sleep(1)
        env.publish({"Vantorel_lastver.txt": b"0"})
        proc = env.start(os.path.join(folder, "Tindra.exe"))
        out = env.box(30000)
        check("text: " + NO_REPLACER in out, "box text: %r" % out)
        env.probe("window", "replacer cannot start", 15000)
        wait_started(env, proc)
        check(not os.path.exists(os.path.join(folder, "New_Tindra.exe")), "New_ file kept")
        check_failure_recorded(folder, 28, "no trusted replacer could be started")
        check_logged(folder, "Tindra hand-over file=Pellmora.exe verdict=failed")
        check(env.probe("running", "Pellmora.exe")[0] != 0, "a replacer runs")
        env.end_all()
        proc = env.start(os.path.join(folder, "Tindra.exe"))
        wait_started(env, proc)
        check(env.probe("nobox", 1000)[0] == 0, "a message box at the second start")
        check(same_file(os.path.join(folder, "Tindra.exe"), env.tindra[27]), "program replaced")
        env.end_all()
        if holder:
            holder.kill()


def scenario_served_in_the_wrong_role(env):
    # The publisher's own signed files, each served in another's place (and an older
    # replacer): none is kept, Tindra.exe stays byte for byte and takes pokes.
    cases = [
        ("a newer replacer as the checker", "Vantorel.exe", env.pellmora_r[28], b"28", None),
        ("the program as the checker", "Vantorel.exe", env.tindra[28], b"28", None),
        ("a replacer as the program", "Tindra.exe", env.pellmora_r[28], b"27", b"28"),
        ("a checker as the program", "Tindra.exe", env.vantorel_r28, b"27", b"28"),
        ("the program as the replacer", "Pellmora.exe", env.tindra[28], b"27", b"28"),
        ("an older replacer", "Pellmora.exe", env.pellmora_r[26], b"27", None),
    ]
    for name, file, path, checker_latest, program_latest in cases:
        print("    %s" % name)
        folder = env.program_folder("wrong role", checker=26 if program_latest is None else 27,
                                    replacer=file != "Pellmora.exe" or program_latest is None)
        files = {"Vantorel_lastver.txt": checker_latest, "Vantorel.exe": env.vantorel[27],
                 "Pellmora.exe": env.pellmora, "Tindra.exe": env.tindra[28]}
        if program_latest:
            files["Tindra_lastver.txt"] = program_latest
        files[file] = path
        env.publish(files)
        proc = env.start(os.path.join(folder, "Tindra.exe"))
        wait_started(env, proc)
        check(env.requested(file), "%s was not fetched" % file)
        check(same_file(os.path.join(folder, "Tindra.exe"), env.tindra[27]), "program replaced")
        check(not os.path.exists(os.path.join(folder, "New_Tindra.exe")), "a New_ file was kept")
        if file == "Vantorel.exe":
            check(same_file(os.path.join(folder, "Vantorel.exe"), env.vantorel[26]),
                  "the checker was replaced")
        if file == "Pellmora.exe" and program_latest is None:
            check(same_file(os.path.join(folder, "Pellmora.exe"), env.pellmora),
                  "the replacer was replaced by an older one")
        if file == "Pellmora.exe" and program_latest:
            check(not os.path.exists(os.path.join(folder, "Pellmora.exe")),
                  "the program was kept as the replacer")
        check(not leftovers(folder), "temporary files left: %r" % leftovers(folder))
        check_logged(folder, "check", "verdict=refused", "revision" if "older" in name else "role")
        check(env.poke("0;test") == 0, "Tindra takes no poke")
        env.end_all()


def scenario_leftovers_that_cannot_go_cause_no_loop(env):
    # A New_ file held open by another program (it cannot be deleted), a backup name
    # taken by a folder or a read-only file, a record that cannot be written: no
    # start-up loop, and a later revision is not blocked. The faults that keep the old
    # program are started twice; with a backup in the way the new program is
    # installed, and the replacer's native table covers what a second start would.
    cases = ("New_ held open", "backup a folder", "backup read-only", "record a folder")
    for fault in cases:
        print("    %s" % fault)
        folder = env.program_folder("cannot go")
        tindra = os.path.join(folder, "Tindra.exe")
        env.publish({"Vantorel_lastver.txt": b"27", "Tindra_lastver.txt": b"28",
                     "Tindra.exe": env.tindra[28]})
        holder = None
        if fault == "New_ held open":
            fresh = os.path.join(folder, "New_Tindra.exe")
            shutil.copyfile(env.tindra[28], fresh)
            holder = env.start(env.probe_exe, args=["hold", fresh, "60000"])
            time.sleep(1)
        elif fault == "backup a folder":
            os.makedirs(os.path.join(folder, "Tindra.exe.bak"))
        elif fault == "backup read-only":
            backup = os.path.join(folder, "Tindra.exe.bak")
            shutil.copyfile(env.tindra[27], backup)
            os.chmod(backup, 0o444)
        else:
            os.makedirs(os.path.join(folder, "Tindra_failed.txt"))
            os.chmod(tindra, 0o444)  # and an install that fails
        for start in (1,) if fault.startswith("backup") else (1, 2):
            if start == 1 or fault == "record a folder":
                hand_over_and_wait(env, folder)
            else:
                env.start(tindra)
            time.sleep(3)  # a loop would hand over again meanwhile
            check(env.poke("0;test", wait=30) == 0, "start %d: no Tindra takes pokes" % start)
            fetched = len([line for line in env.requests() if "/Tindra.exe " in line])
            if fault.startswith("backup"):
                check(same_file(tindra, env.tindra[28]), "start %d: 28 not installed" % start)
                check(fetched == 1, "start %d: the program was fetched %d times" % (start, fetched))
            elif fault == "New_ held open":
                check(same_file(tindra, env.tindra[27]), "the program changed")
                check(fetched == 0, "fetched %d times" % fetched)
                check_failure_recorded(folder, 28)
            else:
                check(same_file(tindra, env.tindra[27]), "the program changed")
                check(fetched == start, "start %d: the program was fetched %d times, a loop" %
                      (start, fetched))
            env.end_all()
        if holder:
            holder.kill()
        os.chmod(tindra, 0o644)


def scenario_long_program_folder(env):
    # A program folder whose path is longer than MAX_PATH: the companions still arrive.
    # (The checker itself is started through the shell's ANSI call, which takes no
    # path that long: the shell says so in its own box, which is closed here.)
    name = os.path.join("long", *(["a folder with a long name"] * 12))
    folder = env.program_folder(name, checker=26)
    check(len(folder) > 300, "path of %d characters" % len(folder))
    env.publish({"Vantorel_lastver.txt": b"27", "Vantorel.exe": env.vantorel[27],
                 "Pellmora.exe": env.pellmora, "Tindra_lastver.txt": b"27"})
    proc = env.start(os.path.join(folder, "Tindra.exe"))
    out = env.box(20000)
    check("caption: Tindra" not in out, "Tindra's own box, not the shell's: %r" % out)
    wait_started(env, proc)
    check(same_file(os.path.join(folder, "Vantorel.exe"), env.vantorel[27]),
          "checker not updated: %r" % env.requests())
    check(same_file(os.path.join(folder, "Pellmora.exe"), env.pellmora), "replacer not updated")
    check(not leftovers(folder), "temporary files left: %r" % leftovers(folder))


def scenario_other_locale(env):
    # An English system (ANSI code page 1252): the request still names the update
    # folder by its CP949 bytes, and the Korean message still reads as Korean.
    english = dict(os.environ, LANG="en_US.UTF-8", LC_ALL="en_US.UTF-8")
    rc, acp = env.run_wine([env.probe_exe, "acp"], env=english)
    check(acp.strip() == "1252", "the English locale gives code page %r" % acp)
    folder = env.program_folder("english")
    env.publish({"Vantorel_lastver.txt": b"27", "Tindra_lastver.txt": b"27"})
    proc = env.start(os.path.join(folder, "Tindra.exe"), env=english)
    wait_started(env, proc)
    raw = "GET /download/%s/Vantorel_lastver.txt HTTP/1.1" % CP949_FOLDER
    check(any(line.startswith(raw) for line in env.requests()),
          "request not sent in CP949: %r" % env.requests())
    check(env.requested("Tindra_lastver.txt"), "the checker did not reach the server")
    env.end_all()
    env.stop_server()
    try:
        proc = env.start(os.path.join(folder, "Tindra.exe"), env=english)
        out = env.box()
    finally:
        env.start_server()
    check("text: " + CANNOT_READ in out, "box text: %r" % out)
    wait_started(env, proc)


def scenario_untrusted_companions_are_not_kept(env):
    # With checker 28 announced, each companion served tampered, unsigned, signed by
    # another key, as a web page, or (the checker) as an older signed revision: the
    # old file stays byte for byte, nothing is left behind, nothing served is started.
    # A refused checker is recorded by its SHA-256, and the trusted one in place runs.
    served = [("Vantorel.exe", name, path) for name, path in hostile_copies(
        env, env.vantorel[28]).items()]
    served.append(("Vantorel.exe", "older revision", env.vantorel[27]))
    served += [("Pellmora.exe", name, path) for name, path in hostile_copies(
        env, env.pellmora).items() if name in ("another key", "web page")]
    for file, name, path in served:
        print("    %s: %s" % (file, name))
        folder = env.program_folder("hostile companion", checker=27)
        with open(os.path.join(folder, "Pellmora.exe"), "wb") as f:
            f.write(b"old replacer")
        files = {"Vantorel_lastver.txt": b"28", "Vantorel.exe": env.vantorel[28],
                 "Pellmora.exe": env.pellmora}
        files[file] = path
        env.publish(files)
        proc = env.start(os.path.join(folder, "Tindra.exe"))
        wait_started(env, proc)
        check(env.requested(file), "%s was not fetched" % file)
        if file == "Vantorel.exe":
            check(same_file(os.path.join(folder, "Vantorel.exe"), env.vantorel[27]),
                  "the checker was replaced")
            check(not env.requested("Pellmora.exe"), "the replacer was fetched after a refusal")
        else:
            check(same_file(os.path.join(folder, "Vantorel.exe"), env.vantorel[28]),
                  "the trusted checker was not installed")
        with open(os.path.join(folder, "Pellmora.exe"), "rb") as f:
            check(f.read() == b"old replacer", "the replacer was replaced")
        # The trusted checker runs: the one in place, or the one just fetched.
        checker_refused = file == "Vantorel.exe"
        check(env.requested("Tindra_lastver.txt"), "the checker did not run")
        check_logged(folder, "Tindra check file=%s.part verdict=refused" % file, HOSTILE_REASON[name])
        expected = ["Pellmora.exe", "Tindra.exe", "Vantorel.exe"]
        if checker_refused:
            expected.append("Vantorel_failed.txt")
        check(program_files(folder) == sorted(expected), "files left: %r" % os.listdir(folder))
        env.end_all()


def scenario_read_only_companions_are_updated(env):
    # A read-only Vantorel.exe and Pellmora.exe of revision 26 are replaced by the
    # served ones, and the new checker runs.
    folder = env.program_folder("read-only companions", checker=26, replacer=False)
    shutil.copyfile(env.pellmora_r[26], os.path.join(folder, "Pellmora.exe"))
    for name in ("Vantorel.exe", "Pellmora.exe"):
        os.chmod(os.path.join(folder, name), 0o444)
    env.publish({"Vantorel_lastver.txt": b"27", "Vantorel.exe": env.vantorel[27],
                 "Pellmora.exe": env.pellmora, "Tindra_lastver.txt": b"27"})
    proc = env.start(os.path.join(folder, "Tindra.exe"))
    wait_started(env, proc)
    check(same_file(os.path.join(folder, "Vantorel.exe"), env.vantorel[27]),
          "the read-only checker was not replaced")
    check(same_file(os.path.join(folder, "Pellmora.exe"), env.pellmora),
          "the read-only replacer was not replaced")
    check(env.requested("Tindra_lastver.txt"), "the checker did not run")
    check(not leftovers(folder), "temporary files left: %r" % leftovers(folder))


def scenario_untrusted_checker_is_repaired(env):
    # A checker with one byte changed counts as none: the served one replaces it, and
    # that one runs.
    folder = env.program_folder("tampered checker")
    shutil.copyfile(hostile_copies(env, env.vantorel[27])["one byte changed"],
                    os.path.join(folder, "Vantorel.exe"))
    serve_and_start(env, folder, {"Vantorel_lastver.txt": b"27", "Vantorel.exe": env.vantorel[27],
                                  "Pellmora.exe": env.pellmora, "Tindra_lastver.txt": b"27"})
    check(same_file(os.path.join(folder, "Vantorel.exe"), env.vantorel[27]),
          "the tampered checker was not replaced: %r" % env.requests())
    check(env.requested("Tindra_lastver.txt"), "the repaired checker did not run")
    check_logged(folder, "Tindra check file=Vantorel.exe verdict=refused reason=tampered")
    check(env.probe("nobox", 1000)[0] == 0, "a message box is open")


def scenario_announced_checker_not_served(env):
    # The server announces checker 28 but serves 27: it is refused and recorded by its
    # SHA-256, then dropped unchecked when served again, and the trusted checker in
    # place runs each time. Once the server serves checker 28, the next start keeps it.
    folder = env.program_folder("checker announced, not served")
    env.publish({"Vantorel_lastver.txt": b"28", "Vantorel.exe": env.vantorel[27],
                 "Pellmora.exe": env.pellmora, "Tindra_lastver.txt": b"27"})
    for attempt in (1, 2):
        env.clear_requests()
        proc = env.start(os.path.join(folder, "Tindra.exe"))
        wait_started(env, proc)
        check(env.requested("Tindra_lastver.txt"), "attempt %d: the checker did not run" % attempt)
        check(env.requested("Vantorel.exe"), "attempt %d: checker requests %r" %
              (attempt, env.requests()))
        env.end_all()
    check_logged(folder, "Tindra check file=Vantorel.exe.part verdict=refused",
                 'reason="wrong revision: 27, wanted 28')
    check_logged(folder, "Tindra check file=Vantorel.exe.part verdict=skipped",
                 "sha256 " + sha256_of(env.vantorel[27]))
    with open(os.path.join(folder, "Vantorel_failed.txt"), encoding="utf-8") as f:
        record = f.read()
    check("failures=1" in record and "sha256=" + sha256_of(env.vantorel[27]) in record,
          "record: %r" % record)
    check(same_file(os.path.join(folder, "Vantorel.exe"), env.vantorel[27]), "checker changed")
    serve_and_start(env, folder, {"Vantorel_lastver.txt": b"28", "Vantorel.exe": env.vantorel[28],
                                  "Pellmora.exe": env.pellmora, "Tindra_lastver.txt": b"27"})
    check(same_file(os.path.join(folder, "Vantorel.exe"), env.vantorel[28]),
          "the genuine checker 28 was not kept: %r" % env.requests())


def scenario_hangul_folder_on_code_page_1252(env):
    # A folder the ANSI code page cannot spell: the checker in place reads as current
    # and runs, and the replacer still refuses an older program. The C.UTF-8 locale
    # gives Wine code page 1252 and still passes the folder's name to it whole.
    english = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
    rc, acp = env.run_wine([env.probe_exe, "acp"], env=english)
    check(acp.strip() == "1252", "the C.UTF-8 locale gives code page %r" % acp)
    folder = env.program_folder("업데이트")
    env.publish({"Vantorel_lastver.txt": b"27", "Vantorel.exe": env.vantorel[27],
                 "Pellmora.exe": env.pellmora, "Tindra_lastver.txt": b"27"})
    env.clear_requests()
    proc = env.start(os.path.join(folder, "Tindra.exe"), env=english)
    wait_started(env, proc)
    check(not env.requested("Vantorel.exe") and not env.requested("Pellmora.exe"),
          "a current companion was fetched again: %r" % env.requests())
    check(env.requested("Tindra_lastver.txt"), "the checker did not run")
    env.end_all()
    shutil.copyfile(env.tindra[28], os.path.join(folder, "Tindra.exe"))
    shutil.copyfile(env.tindra[27], os.path.join(folder, "New_Tindra.exe"))
    replacer = env.start(os.path.join(folder, "Pellmora.exe"), args=["Tindra.exe;New_Tindra.exe"],
                         env=english)
    replacer.wait(60)
    check(replacer.returncode == 1, "replacer exit %s for an older program" % replacer.returncode)
    check(same_file(os.path.join(folder, "Tindra.exe"), env.tindra[28]), "downgraded")
    env.end_all()


def start_with_28_served_as(env, label, name, path):
    """Starts Tindra 27 in a new folder with revision 28 announced and `path` served as
    Tindra.exe; returns the folder once start-up has finished."""
    print("    Tindra.exe: %s" % name)
    folder = env.program_folder(label)
    serve_and_start(env, folder,
                    {"Vantorel_lastver.txt": b"27", "Tindra_lastver.txt": b"28", "Tindra.exe": path})
    return folder


def scenario_untrusted_new_program_is_not_kept(env):
    # The server announces 28 but serves a tampered copy of 28, or revision 27: the
    # checker keeps neither and records the file by its SHA-256, so no hand-over (and
    # no update loop) follows; served again, the same file is dropped unchecked and not
    # recorded again. Every other kind of refused program is in the checker's native
    # table, and goes through the same platform check in untrusted_companions_are_not_kept.
    served = {"one byte changed": hostile_copies(env, env.tindra[28])["one byte changed"],
              "older revision": env.tindra[27]}
    for name, path in served.items():
        folder = start_with_28_served_as(env, "hostile program", name, path)
        check(env.requested("Tindra.exe"), "the checker did not fetch the program")
        check_logged(folder, "Vantorel check file=New_Tindra.exe.part", HOSTILE_REASON[name])
        check(same_file(os.path.join(folder, "Tindra.exe"), env.tindra[27]), "program replaced")
        check(program_files(folder) ==
              ["Pellmora.exe", "Tindra.exe", "Tindra_failed.txt", "Vantorel.exe"],
              "files left: %r" % os.listdir(folder))
        with open(os.path.join(folder, "Tindra_failed.txt"), encoding="utf-8") as f:
            record = f.read()
        check(("sha256=" + sha256_of(path)) in record, "record: %r" % record)
        env.end_all()
        proc = env.start(os.path.join(folder, "Tindra.exe"))
        wait_started(env, proc)
        check_logged(folder, "Vantorel check file=New_Tindra.exe.part verdict=skipped",
                     "is the one refused 1 time (sha256 " + sha256_of(path) + ")")
        with open(os.path.join(folder, "Tindra_failed.txt"), encoding="utf-8") as f:
            check(f.read() == record, "recorded again")
        check(same_file(os.path.join(folder, "Tindra.exe"), env.tindra[27]), "program replaced")
        env.end_all()


def scenario_forged_answer_holds_back_nothing_genuine(env):
    # Revision 28 is announced and answered with a forged or misplaced file, refused;
    # then the server serves the genuine revision 28: the next start installs it.
    hostile = hostile_copies(env, env.tindra[28])
    forged = {"unsigned": hostile["unsigned"], "another key": hostile["another key"],
              "older revision": env.tindra[27]}
    for name, path in forged.items():
        folder = start_with_28_served_as(env, "forged answer", name, path)
        check_logged(folder, "Vantorel check file=New_Tindra.exe.part verdict=refused",
                     HOSTILE_REASON[name])
        env.end_all()
        env.publish({"Vantorel_lastver.txt": b"27", "Tindra_lastver.txt": b"28",
                     "Tindra.exe": env.tindra[28]})
        first = env.start(os.path.join(folder, "Tindra.exe"))
        first.wait(60)  # hands over to the replacer and ends
        check_installed(env, folder)
        env.end_all()


def scenario_replacer_refuses_swapped_program(env):
    # A New_ file swapped after the checker kept it, or one of no newer revision: the
    # replacer removes it, keeps the old program and starts it again.
    swapped = hostile_copies(env, env.tindra[28])
    swapped = {"unsigned": swapped["unsigned"], "another key": swapped["another key"],
               "same revision": env.tindra[27], "the checker of revision 28": env.vantorel_r28}
    for name, path in swapped.items():
        print("    New_Tindra.exe: %s" % name)
        folder = env.program_folder("swapped program")
        shutil.copyfile(path, os.path.join(folder, "New_Tindra.exe"))
        replacer = env.start(os.path.join(folder, "Pellmora.exe"),
                             args=["Tindra.exe;New_Tindra.exe"])
        replacer.wait(30)
        check(replacer.returncode == 1, "replacer exit %s" % replacer.returncode)
        check_logged(folder, "Pellmora check file=New_Tindra.exe verdict=refused", HOSTILE_REASON[name])
        check(same_file(os.path.join(folder, "Tindra.exe"), env.tindra[27]), "program replaced")
        check(not os.path.exists(os.path.join(folder, "New_Tindra.exe")), "New_ file kept")
        check(env.poke("0;test") == 0, "the old program was not started again")
        env.end_all()


def scenario_planted_dll_is_not_loaded(env):
    # wininet.dll and wintrust.dll planted beside the programs, with Wine told to
    # prefer native DLLs: a program that imports them the usual way loads them (the
    # update probe, as a control); the three programs do not. (version.dll cannot be
    # tried so under Wine: Wine's own user32 imports it, so every window program
    # would load a planted one through user32.)
    folder = env.program_folder("planted dll")
    planted_dir = os.path.join(env.build, "update", "tests", "planted")
    for name in os.listdir(planted_dir):
        shutil.copyfile(os.path.join(planted_dir, name), os.path.join(folder, name))
    markers = [os.path.join(folder, "planted-%s-loaded" % n) for n in ("wininet.dll", "wintrust.dll")]
    planted = dict(os.environ)
    planted["WINEDLLOVERRIDES"] = "wininet,wintrust=n,b;" + os.environ.get("WINEDLLOVERRIDES", "")
    env.publish({"Vantorel_lastver.txt": b"27", "Tindra_lastver.txt": b"27"})

    probe = os.path.join(folder, "update-probe.exe")
    shutil.copyfile(env.probe_exe, probe)
    env.run_wine([probe, "version", os.path.join(folder, "Tindra.exe")], env=planted)
    check(all(os.path.exists(m) for m in markers), "control: the planted DLLs were not loaded")
    for m in markers + [probe]:
        os.remove(m)

    proc = env.start(os.path.join(folder, "Tindra.exe"), env=planted)
    wait_started(env, proc)
    check(env.requested("Tindra_lastver.txt"), "the checker did not run")
    env.end_all()
    # The replacer with a new program to check and install: it reaches the signature
    # check, and the new program it starts runs its own start-up update.
    shutil.copyfile(env.tindra[28], os.path.join(folder, "New_Tindra.exe"))
    rc, _ = env.run_wine([os.path.join(folder, "Pellmora.exe"), "Tindra.exe;New_Tindra.exe"],
                         env=planted)
    check(rc == 0, "replacer exit %s" % rc)
    check(same_file(os.path.join(folder, "Tindra.exe"), env.tindra[28]), "28 not installed")
    check(env.poke("0;test", wait=40) == 0, "revision 28 takes no poke")
    env.end_all()
    loaded = [m for m in markers if os.path.exists(m)]
    check(not loaded, "a program loaded a planted DLL: %r" % loaded)


def scenario_replacer_keeps_old_program_on_failure(env):
    # No new file: nothing is replaced, the old program is started again.
    folder = env.program_folder("replacer alone")
    env.publish({"Vantorel_lastver.txt": b"27"})
    replacer = env.start(os.path.join(folder, "Pellmora.exe"), args=["Tindra.exe;New_Tindra.exe"])
    replacer.wait(30)
    check(replacer.returncode == 1, "replacer exit %s without a new file" % replacer.returncode)
    check_logged(folder, "Pellmora end verdict=failed", 'reason="nothing replaced" exit=1')
    check(env.poke("0;test") == 0, "the old program was not started again")
    check(same_file(os.path.join(folder, "Tindra.exe"), env.tindra[27]), "program changed")


def scenario_replacer_refuses_a_linked_new_program(env):
    # New_Tindra.exe as a symbolic link to a trusted, newer program elsewhere: the file
    # held is not the one at that name, so nothing is installed.
    folder = env.program_folder("linked new program")
    outside = os.path.join(env.work, "outside", "Tindra.exe")
    os.makedirs(os.path.dirname(outside), exist_ok=True)
    shutil.copyfile(env.tindra[28], outside)
    os.symlink(outside, os.path.join(folder, "New_Tindra.exe"))
    env.publish({"Vantorel_lastver.txt": b"27"})
    replacer = env.start(os.path.join(folder, "Pellmora.exe"), args=["Tindra.exe;New_Tindra.exe"])
    replacer.wait(60)
    check(replacer.returncode == 1, "replacer exit %s for a linked program" % replacer.returncode)
    check(same_file(os.path.join(folder, "Tindra.exe"), env.tindra[27]), "the program changed")
    env.end_all()


def scenario_replacer_refuses_paths(env):
    folder = env.program_folder("replacer paths")
    outside = os.path.join(env.work, "outside.exe")
    shutil.copyfile(env.tindra[28], outside)
    proc = subprocess.Popen(["wine", os.path.join(folder, "Pellmora.exe"),
                             "Tindra.exe;..\\outside.exe"], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    env.started.append(proc)
    out = env.box()
    check("caption: Pellmora" in out, "no refusal: %r" % out)
    proc.wait(30)
    check(proc.returncode == 2, "exit %s" % proc.returncode)
    check(same_file(os.path.join(folder, "Tindra.exe"), env.tindra[27]), "program replaced")
    check(os.path.exists(outside), "the file outside the folder was moved")
    for args in ("Tindra.exe;New_Vantorel.exe", "Tindra.txt;New_Tindra.txt", "27;Tindra.exe"):
        proc = env.start(os.path.join(folder, "Pellmora.exe"), args=[args])
        out = env.box()
        check("caption: Pellmora" in out, "%s: no refusal: %r" % (args, out))
        proc.wait(30)
        check(proc.returncode == 2, "%s: exit %s" % (args, proc.returncode))
        check(env.probe("running", "Tindra.exe")[0] != 0, "%s: a program was started" % args)
    proc = subprocess.Popen(["wine", os.path.join(folder, "Pellmora.exe"),
                             "..\\Tindra.exe;New_Tindra.exe"], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    env.started.append(proc)
    out = env.box()
    check("caption: Pellmora" in out, "no refusal: %r" % out)
    proc.wait(30)
    check(proc.returncode == 2, "exit %s" % proc.returncode)


def scenario_fetch_and_download(env):
    korean = "가나다라마바사아자차카".encode("cp949")  # 22 bytes
    env.publish({"crlf.txt": b"27\r\n", "long.txt": b"0123456789ABCDEFGHIJKLMNOP",
                 "korean.txt": korean, "korean19.txt": korean[:18] + b"x",
                 "Vantorel.exe": env.vantorel[27]},
                status={"missing.txt": 404}, cut={"cut.exe": 100})
    shutil.copyfile(env.vantorel[27], os.path.join(env.root, "cut.exe"))
    base = "http://%s/download/자동업데이트_v1/" % env.host()
    expected = {"crlf.txt": "27\r\n", "long.txt": "0123456789ABCDEFGHIJ",
                "korean.txt": "가나다라마바사아자차", "korean19.txt": "가나다라마바사아자x",
                "missing.txt": "<html><head><title>4", "empty.txt": ""}
    with open(os.path.join(env.root, "empty.txt"), "wb"):
        pass
    for name, text in expected.items():
        rc, out = env.probe("readurl", base + name)
        check(out.split() == ["units:"] + ["%04x" % ord(c) for c in text],
              "%s read as %r, not %r" % (name, out, text))

    folder = os.path.join(env.work, "downloads")
    os.makedirs(folder, exist_ok=True)
    target = os.path.join(folder, "Vantorel.exe")
    with open(target, "wb") as f:
        f.write(b"old")
    for name in ("missing.txt", "cut.exe"):
        rc, out = env.probe("download", base + name, target)
        check(out.strip() == "result: 0", "%s: %r" % (name, out))
        with open(target, "rb") as f:
            check(f.read() == b"old", "%s touched the old file" % name)
    rc, out = env.probe("download", base + "Vantorel.exe", target)
    check(out.strip() == "result: -1", "good download: %r" % out)
    check(same_file(target, env.vantorel[27]), "downloaded bytes differ")
    check(os.listdir(folder) == ["Vantorel.exe"], "files left: %r" % os.listdir(folder))


def scenario_hanging_server(env):
    folder = env.program_folder("hang")
    env.publish({"Vantorel_lastver.txt": b"27"}, hang=["Vantorel_lastver.txt"])
    began = time.monotonic()
    proc = env.start(os.path.join(folder, "Tindra.exe"))
    out = env.box(90000)
    waited = time.monotonic() - began
    check("text: " + CANNOT_READ in out, "box text: %r" % out)
    check(waited < 75, "the read took %.0f s" % waited)
    print("    hanging server: message after %.1f s" % waited)
    wait_started(env, proc)


def scenario_end_to_end(env):
    folder = env.program_folder("end to end")
    env.publish({"Vantorel_lastver.txt": b"27", "Vantorel.exe": env.vantorel[27],
                 "Pellmora.exe": env.pellmora, "Tindra_lastver.txt": b"28",
                 "Tindra.exe": env.tindra[28]})
    first = env.start(os.path.join(folder, "Tindra.exe"))
    first.wait(60)  # hands over to the replacer and ends
    check_installed(env, folder)
    fetched = [line for line in env.requests() if "/Tindra.exe " in line]
    check(len(fetched) == 1, "the program was fetched %d times" % len(fetched))
    # The new program, just installed, ran no start-up update of its own: the user's
    # start stays within one start-up ceiling.
    read = [line for line in env.requests() if "/Vantorel_lastver.txt " in line]
    check(len(read) == 1, "the version file was read %d times" % len(read))
    check_logged(folder, "Tindra update verdict=skipped", "just installed")


def check_installed(env, folder):
    """Revision 28 replaces the program once Tindra has handed over, and takes pokes."""
    tindra = os.path.join(folder, "Tindra.exe")
    deadline = time.monotonic() + 60
    while not same_file(tindra, env.tindra[28]) and time.monotonic() < deadline:
        time.sleep(0.5)
    check(same_file(tindra, env.tindra[28]), "the program was not replaced")
    check(not os.path.exists(os.path.join(folder, "New_Tindra.exe")), "New_ file left")
    check(env.version(tindra) == "1.00.0028", "version block: %r" % env.version(tindra))
    check(env.probe("waitgone", "Pellmora.exe", 20000)[0] == 0, "the replacer did not end")
    rc = env.poke("0;test", wait=40)
    check(rc == 0, "revision 28 takes no poke (exit %s)" % rc)
    check(env.probe("running", "Tindra.exe")[0] == 0, "revision 28 is not running")


# ---- keys over time

def scenario_expired_certificate_of_the_trusted_key(env):
    # Revision 28 signed with the development key through a certificate that expired in
    # 2024: the key is what is pinned, so it is installed. (Wine reports no expiry; what
    # Windows answers is mapped by StatusOfCheck, tested natively.)
    folder = env.program_folder("expired certificate")
    new = resigned(env, env.tindra[28], expired_dev_certificate(env),
                   os.path.join(env.signing, "dev-key.pem"), "expired")
    env.publish({"Vantorel_lastver.txt": b"27", "Tindra_lastver.txt": b"28", "Tindra.exe": new})
    hand_over_and_wait(env, folder)
    check(same_file(os.path.join(folder, "Tindra.exe"), new), "the program was not replaced")
    check(env.poke("0;test", wait=40) == 0, "revision 28 takes no poke")


def scenario_server_only_certificate_of_the_trusted_key(env):
    # Revision 28 signed with the development key, but through a certificate made for
    # web servers only: the certificate's own purpose rules it out, key or not.
    folder = env.program_folder("server-only certificate")
    key = os.path.join(env.signing, "dev-key.pem")
    cert = os.path.join(env.work, "server-only-cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-key", key, "-out", cert, "-days", "30",
                    "-subj", "/CN=Tindra web server", "-addext", "extendedKeyUsage=serverAuth"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    new = resigned(env, env.tindra[28], cert, key, "server-only")
    rc, out = env.probe("signature", new)
    check("same signer: no" in out, "the probe trusts it: %r" % out)
    env.publish({"Vantorel_lastver.txt": b"27", "Tindra_lastver.txt": b"28", "Tindra.exe": new})
    proc = env.start(os.path.join(folder, "Tindra.exe"))
    wait_started(env, proc)
    check(env.requested("Tindra.exe"), "the checker did not fetch the program")
    check(same_file(os.path.join(folder, "Tindra.exe"), env.tindra[27]), "the program was replaced")
    check(not os.path.exists(os.path.join(folder, "New_Tindra.exe")), "a New_ file was kept")
    env.end_all()


def scenario_key_rollover_over_two_releases(env):
    # Release 27 is signed with the old key (the development key) and built to trust
    # the next one; release 28, all three programs, is signed with the next key only.
    # 27 takes the new companions and, through them, the new program; 28 then runs.
    cert = os.path.join(env.signing, "next-test-cert.pem")
    key = os.path.join(env.signing, "next-test-key.pem")
    new = {name: resigned(env, exe, cert, key, "next key")
           for name, exe in (("Tindra.exe", env.tindra[28]),
                             ("Vantorel.exe", env.vantorel[28]),
                             ("Pellmora.exe", env.pellmora))}
    folder = env.program_folder("key rollover")
    env.publish({"Vantorel_lastver.txt": b"28", "Tindra_lastver.txt": b"28", **new})
    hand_over_and_wait(env, folder)
    for name, path in new.items():
        check(same_file(os.path.join(folder, name), path), "%s is not the new key's" % name)
    check(env.poke("0;test", wait=40) == 0, "revision 28 takes no poke")
    check(env.version(os.path.join(folder, "Tindra.exe")) == "1.00.0028", "not revision 28")


# ---- an update never locks the user out

def restart_and_check_no_retry(env, folder, fetches=1):
    """Ends Tindra, starts it again: it takes pokes and fetches the program no more."""
    env.end_all()
    proc = env.start(os.path.join(folder, "Tindra.exe"))
    wait_started(env, proc)
    fetched = [line for line in env.requests() if "/Tindra.exe " in line]
    check(len(fetched) == fetches, "the program was fetched %d times" % len(fetched))


def check_failure_recorded(folder, revision, reason=""):
    with open(os.path.join(folder, "Tindra_failed.txt"), encoding="utf-8") as f:
        record = f.read()
    check(("revision=%d" % revision) in record, "record: %r" % record)
    check(("reason=" + reason) in record, "no reason %r in the record: %r" % (reason, record))


def check_logged(folder, *parts):
    """Some line of the folder's update log holds every one of `parts`."""
    try:
        with open(os.path.join(folder, "Tindra_update.log"), encoding="utf-8") as f:
            lines = f.read().splitlines()
    except FileNotFoundError:
        lines = []
    check(any(all(part in line for part in parts) for line in lines),
          "no update log line with %r in:\n  %s" % (parts, "\n  ".join(lines[-15:])))


# The log's reason for each kind of hostile copy (hostile_copies).
HOSTILE_REASON = {"one byte changed": "reason=tampered", "unsigned": "reason=unsigned",
                  "another key": 'reason="foreign signer"', "web page": "reason=unsigned",
                  "older revision": 'reason="wrong revision', "same revision": "wrong revision",
                  "the checker of revision 28": "wrong role: it is Vantorel.exe"}


def hand_over_and_wait(env, folder):
    """Starts Tindra 27 with 28 announced; returns once the replacer has ended."""
    first = env.start(os.path.join(folder, "Tindra.exe"))
    first.wait(90)
    check(env.probe("waitgone", "Pellmora.exe", 60000)[0] == 0, "the replacer did not end")


def scenario_program_that_cannot_be_replaced(env):
    # Read-only, then held open by another process past the replacer's wait: the old
    # program runs again, the failure is recorded, the next start does not retry.
    for fault in ("read-only", "held open"):
        print("    Tindra.exe %s" % fault)
        folder = env.program_folder("cannot replace")
        tindra = os.path.join(folder, "Tindra.exe")
        env.publish({"Vantorel_lastver.txt": b"27", "Tindra_lastver.txt": b"28",
                     "Tindra.exe": env.tindra[28]})
        holder = None
        if fault == "read-only":
            os.chmod(tindra, 0o444)
        else:
            holder = env.start(env.probe_exe, args=["hold", tindra, "60000"])
            time.sleep(1)
        hand_over_and_wait(env, folder)
        check(env.poke("0;test", wait=30) == 0, "the old program does not take pokes")
        check(same_file(tindra, env.tindra[27]), "the program changed")
        check(program_files(folder) ==
              ["Pellmora.exe", "Tindra.exe", "Tindra_failed.txt", "Vantorel.exe"],
              "files: %r" % os.listdir(folder))
        check_failure_recorded(folder, 28, "Tindra.exe is read-only or still in use")
        if holder:
            holder.kill()
        restart_and_check_no_retry(env, folder)
        env.end_all()
        os.chmod(tindra, 0o644)


def scenario_replacer_missing_or_broken_is_repaired(env):
    for fault in ("deleted", "garbage"):
        print("    Pellmora.exe %s" % fault)
        folder = env.program_folder("repair replacer", replacer=(fault == "garbage"))
        if fault == "garbage":
            with open(os.path.join(folder, "Pellmora.exe"), "wb") as f:
                f.write(b"MZ garbage" * 100)
        env.publish({"Vantorel_lastver.txt": b"27", "Tindra_lastver.txt": b"28",
                     "Tindra.exe": env.tindra[28], "Pellmora.exe": env.pellmora})
        hand_over_and_wait(env, folder)
        check(same_file(os.path.join(folder, "Pellmora.exe"), env.pellmora), "replacer not repaired")
        check(same_file(os.path.join(folder, "Tindra.exe"), env.tindra[28]), "28 not installed")
        check(env.poke("0;test", wait=30) == 0, "revision 28 takes no poke")
        env.end_all()
    # No replacer on the server either: no New_ file, so no dead end at start-up.
    folder = env.program_folder("no replacer anywhere", replacer=False)
    env.publish({"Vantorel_lastver.txt": b"27", "Tindra_lastver.txt": b"28",
                 "Tindra.exe": env.tindra[28]})
    proc = env.start(os.path.join(folder, "Tindra.exe"))
    wait_started(env, proc)
    check(not env.requested("Tindra.exe"), "the program was fetched without a replacer")
    check(program_files(folder) == ["Tindra.exe", "Vantorel.exe"],
          "files: %r" % os.listdir(folder))


def scenario_new_program_that_crashes_is_rolled_back(env):
    # One that ends with a crash's exit code, and one that really crashes (held by
    # whatever the system does with the fault until the replacer ends it).
    for name, crash in env.crashing.items():
        print("    %s" % name)
        folder = env.program_folder("rolled back")
        env.publish({"Vantorel_lastver.txt": b"27", "Tindra_lastver.txt": b"28",
                     "Tindra.exe": crash})
        hand_over_and_wait(env, folder)
        check(env.poke("0;test", wait=30) == 0, "the old program does not take pokes")
        check(same_file(os.path.join(folder, "Tindra.exe"), env.tindra[27]), "not rolled back")
        check_failure_recorded(folder, 28)
        check_logged(folder, "Pellmora end verdict=failed", "exit=3")
        check(not os.path.exists(os.path.join(folder, "New_Tindra.exe")), "New_ file left")
        check(not os.path.exists(os.path.join(folder, "Tindra_pending.txt")), "pending file left")
        restart_and_check_no_retry(env, folder)
        env.end_all()


def scenario_replacer_that_dies_after_the_hand_over(env):
    # The replacer ends at once after Tindra has handed over and ended: nothing runs
    # then. The next start, still of revision 27, counts that as a failed install:
    # it takes notifications, fetches nothing and hands over no more.
    folder = env.program_folder("replacer dies")
    shutil.copyfile(env.crash_pellmora, os.path.join(folder, "Pellmora.exe"))
    env.publish({"Vantorel_lastver.txt": b"27", "Tindra_lastver.txt": b"28",
                 "Tindra.exe": env.tindra[28]})
    hand_over_and_wait(env, folder)
    check(env.probe("running", "Tindra.exe")[0] != 0, "a Tindra runs after the hand-over")
    check(os.path.exists(os.path.join(folder, "Tindra_pending.txt")), "no pending record")
    restart_and_check_no_retry(env, folder)
    check(same_file(os.path.join(folder, "Tindra.exe"), env.tindra[27]), "the program changed")
    check_failure_recorded(folder, 28, "the last hand-over never came back")
    check(not os.path.exists(os.path.join(folder, "Tindra_pending.txt")), "pending record left")
    check(not os.path.exists(os.path.join(folder, "New_Tindra.exe")), "New_ file left")


def scenario_second_start_during_the_hand_over(env):
    # The old program is started again three times in a row right after it handed over
    # (a messenger restarting its notifier): first with Tindra.exe held open for a while,
    # so that the replacer is surely still waiting to replace it, then with nothing in
    # the way. No start records a failure or keeps revision 28 out, and afterwards a
    # Tindra of revision 28 takes notifications.
    for held in (True, False):
        print("    %s" % ("Tindra.exe held open a while" if held else "nothing in the way"))
        folder = env.program_folder("second start")
        tindra = os.path.join(folder, "Tindra.exe")
        env.publish({"Vantorel_lastver.txt": b"27", "Tindra_lastver.txt": b"28",
                     "Tindra.exe": env.tindra[28]})
        holder = env.start(env.probe_exe, args=["hold", tindra, "600000"]) if held else None
        if held:
            time.sleep(1)
        first = env.start(tindra)
        first.wait(90)
        check(env.probe("running", "Pellmora.exe")[0] == 0, "no replacer at work")
        for start in range(1, 4):
            began = time.monotonic()
            again = env.start(tindra)
            if held:
                again.wait(30)
                print("      start %d ended after %.1f s" % (start, time.monotonic() - began))
                check(env.probe("running", "Pellmora.exe")[0] == 0, "the replacer ended early")
        if held:
            holder.kill()
            holder.wait()
        check(env.probe("waitgone", "Pellmora.exe", 120000)[0] == 0, "the replacer did not end")
        check(not os.path.exists(os.path.join(folder, "Tindra_failed.txt")),
              "a failure was recorded")
        check(same_file(tindra, env.tindra[28]), "revision 28 was not installed")
        check(env.poke("0;test", wait=40) == 0, "no Tindra takes pokes")
        check(env.version(tindra) == "1.00.0028", "not revision 28")
        check(not os.path.exists(os.path.join(folder, "Tindra_pending.txt")), "pending file left")
        if held:
            check_logged(folder, "Tindra update verdict=skipped", "the replacer is at work")
            check_logged(folder, "Tindra update verdict=skipped", "just installed")
            check(program_files(folder) == ["Pellmora.exe", "Tindra.exe", "Vantorel.exe"],
                  "files: %r" % os.listdir(folder))
        env.end_all()


def scenario_new_program_that_crashes_after_a_slow_start_is_rolled_back(env):
    # The new program answers its window messages for 25 s, then crashes before it
    # offers its service: the watch covers its whole start-up, and the old one is back.
    folder = env.program_folder("slow crash")
    env.publish({"Vantorel_lastver.txt": b"27", "Tindra_lastver.txt": b"28",
                 "Tindra.exe": env.slow_crash})
    hand_over_and_wait(env, folder)
    check(env.poke("0;test", wait=30) == 0, "the old program does not take pokes")
    check(same_file(os.path.join(folder, "Tindra.exe"), env.tindra[27]), "not rolled back")
    check_failure_recorded(folder, 28)
    check_logged(folder, "Pellmora end verdict=failed", "exit=3")


def scenario_named_objects_taken_first(env):
    # Another program has taken the names first: every fatal-error event a replacer of
    # an earlier revision would name, already set, the update log's mutex, held, and
    # Tindra's one-instance mutex. Tindra still starts, the genuine revision 28 is still
    # installed and kept, and the log still written.
    squatter = env.start(env.probe_exe, args=["squat", "600000"])
    time.sleep(3)
    check(squatter.poll() is None, "the names could not be taken (exit %s)" % squatter.poll())
    folder = env.program_folder("names taken first")
    tindra = os.path.join(folder, "Tindra.exe")
    env.publish({"Vantorel_lastver.txt": b"27", "Tindra_lastver.txt": b"28",
                 "Tindra.exe": env.tindra[28]})
    began = time.monotonic()
    hand_over_and_wait(env, folder)
    print("    hand-over and watch over after %.1f s" % (time.monotonic() - began))
    check(same_file(tindra, env.tindra[28]), "revision 28 was not kept")
    check(env.poke("0;test", wait=40) == 0, "revision 28 takes no poke")
    check_logged(folder, "Pellmora watch", "verdict=ok")
    check(not os.path.exists(os.path.join(folder, "Tindra_failed.txt")), "a failure was recorded")
    squatter.kill()
    squatter.wait()


def scenario_redirects_are_not_followed(env):
    # The program and the checker answered with a redirect, to another server (another
    # port) or to another file of the same one: neither is followed, nothing is
    # installed, and Tindra takes notifications.
    other_root = os.path.join(env.work, "other-server")
    os.makedirs(other_root, exist_ok=True)
    shutil.copyfile(env.tindra[28], os.path.join(other_root, "Tindra.exe"))
    shutil.copyfile(env.vantorel_r28, os.path.join(other_root, "Vantorel.exe"))
    other_log = os.path.join(env.work, "other-server.log")
    open(other_log, "w").close()
    other = wine_session.UpdateServer(other_root, 0, log=other_log)
    other_port = other.start()
    folder_url = "/download/" + urllib.parse.quote("자동업데이트_v1") + "/"
    try:
        for name, base in (("another port", "http://127.0.0.1:%d%s" % (other_port, folder_url)),
                           ("the same server", folder_url + "moved-")):
            for file, checker_latest, program_latest in (("Tindra.exe", b"27", b"28"),
                                                         ("Vantorel.exe", b"28", None)):
                print("    %s, to %s" % (file, name))
                folder = env.program_folder("redirected")
                files = {"Vantorel_lastver.txt": checker_latest,
                         "moved-Tindra.exe": env.tindra[28], "moved-Vantorel.exe": env.vantorel_r28}
                if program_latest:
                    files["Tindra_lastver.txt"] = program_latest
                env.publish(files, redirect={file: base + file})
                proc = env.start(os.path.join(folder, "Tindra.exe"))
                wait_started(env, proc)
                check(env.requested(file), "%s was not asked for" % file)
                check(not env.requested("moved-" + file), "the redirect was followed")
                with open(other_log, encoding="utf-8") as f:
                    check(not f.read(), "the other server was asked")
                check(same_file(os.path.join(folder, "Tindra.exe"), env.tindra[27]),
                      "program replaced")
                check(same_file(os.path.join(folder, "Vantorel.exe"), env.vantorel[27]),
                      "checker replaced")
                check(not os.path.exists(os.path.join(folder, "New_Tindra.exe")), "New_ kept")
                env.end_all()
    finally:
        other.stop()


def scenario_failed_install_variable_set_from_outside(env):
    # TINDRA_INSTALL_FAILED set by someone else (as setx would): it does not stop the
    # update, and revision 28 is installed.
    for value in ("1", "ABCDEFG"):
        print("    TINDRA_INSTALL_FAILED=%s" % value)
        folder = env.program_folder("variable from outside")
        env.publish({"Vantorel_lastver.txt": b"27", "Tindra_lastver.txt": b"28",
                     "Tindra.exe": env.tindra[28]})
        first = env.start(os.path.join(folder, "Tindra.exe"),
                          env=dict(os.environ, TINDRA_INSTALL_FAILED=value))
        first.wait(90)
        check(env.probe("waitgone", "Pellmora.exe", 60000)[0] == 0, "the replacer did not end")
        check(same_file(os.path.join(folder, "Tindra.exe"), env.tindra[28]), "28 not installed")
        check(env.poke("0;test", wait=40) == 0, "revision 28 takes no poke")
        env.end_all()


def scenario_folder_named_like_the_new_program(env):
    # An empty folder named New_Tindra.exe goes, and 28 is installed; one that holds
    # a file is the user's: it stays, and the checker says why no update comes.
    for full in (False, True):
        print("    %s folder" % ("a full" if full else "an empty"))
        folder = env.program_folder("New_ folder")
        blocker = os.path.join(folder, "New_Tindra.exe")
        os.makedirs(blocker)
        if full:
            with open(os.path.join(blocker, "notes.txt"), "w") as f:
                f.write("mine")
        env.publish({"Vantorel_lastver.txt": b"27", "Tindra_lastver.txt": b"28",
                     "Tindra.exe": env.tindra[28]})
        if not full:
            hand_over_and_wait(env, folder)
            check(same_file(os.path.join(folder, "Tindra.exe"), env.tindra[28]),
                  "28 not installed")
            check(env.poke("0;test", wait=40) == 0, "revision 28 takes no poke")
        else:
            proc = env.start(os.path.join(folder, "Tindra.exe"))
            out = env.box(30000)
            check("New_Tindra.exe" in out and "caption: Vantorel" in out, "box: %r" % out)
            wait_started(env, proc)
            check(os.path.exists(os.path.join(blocker, "notes.txt")), "the user's folder went")
            check(same_file(os.path.join(folder, "Tindra.exe"), env.tindra[27]),
                  "program replaced")
        env.end_all()


def scenario_transfers_are_bounded(env):
    # A version file dripping a byte every 2 s, a program body that never ends, and a
    # program dripping while the checker's window is closed: each time the checker
    # ends within its deadline, leaves nothing behind, and Tindra takes pokes.
    cases = [("dripping version file", {"drip": {"Tindra_lastver.txt": 2}}, None),
             ("endless program", {"endless": ["Tindra.exe"]}, None),
             ("checker closed", {"drip": {"Tindra.exe": 1}}, "close")]
    for name, fault, action in cases:
        print("    %s" % name)
        folder = env.program_folder("bounded")
        for leftover in ("tdl1A2B.tmp", "Vantorel.exe.part", "New_Tindra.exe.part"):
            with open(os.path.join(folder, leftover), "wb") as f:
                f.write(b"left by a killed transfer")
        env.publish({"Vantorel_lastver.txt": b"27", "Tindra_lastver.txt": b"28" + b" " * 30,
                     "Tindra.exe": env.tindra[28]}, **fault)
        began = time.monotonic()
        proc = env.start(os.path.join(folder, "Tindra.exe"))
        if action == "close":
            time.sleep(3)
            check(env.probe("window", "Tindra", 15000)[0] == 0, "no checker window to close")
        wait_started(env, proc)
        took = time.monotonic() - began
        print("      start-up took %.1f s" % took)
        check(took < 60, "start-up took %.0f s" % took)
        check_logged(folder, "Tindra run file=Vantorel.exe", "exit=5" if action else "exit=")
        check(same_file(os.path.join(folder, "Tindra.exe"), env.tindra[27]), "program replaced")
        check(program_files(folder) == ["Pellmora.exe", "Tindra.exe", "Vantorel.exe"],
              "files left: %r" % os.listdir(folder))
        env.end_all()


def milliseconds(out, label):
    """The figure of a probe's "label: N ms" line, or None for "no answer"."""
    m = re.search(r"^%s: (\d+) ms$" % label, out, re.M)
    return int(m.group(1)) if m else None


def scenario_start_up_answers_the_system(env):
    # While the server holds the version request (the test copies give up on it after
    # 10 s), Tindra's window answers a broadcast and WM_NULL at once and takes no poke;
    # a close waits until the update is over (its box still comes); the end of the
    # session ends it at once, with nothing left behind.
    for case in ("broadcast", "close", "end of the session"):
        print("    %s" % case)
        folder = env.program_folder("answers")
        env.publish({"Vantorel_lastver.txt": b"27"}, hang=["Vantorel_lastver.txt"])
        proc = env.start(os.path.join(folder, "Tindra.exe"))
        if case == "broadcast":
            rc, out = env.probe("answers", 8000)
            check(rc == 0, "no main window of Tindra")
            print("      " + ", ".join(out.split("\n")).strip(", "))
            for label in ("broadcast", "null"):
                took = milliseconds(out, label)
                check(took is not None and took < 1000, "%s: %r" % (label, out))
            check(env.poke("0;test", wait=1) == 2, "a poke was taken during the update")
            check("text: " + CANNOT_READ in env.box(20000), "the update's box did not come")
            wait_started(env, proc)
        elif case == "close":
            check(env.probe("tell", "close")[0] == 0, "no main window to close")
            time.sleep(1)
            check(proc.poll() is None, "the close cut the update short")
            check("text: " + CANNOT_READ in env.box(20000), "the update's box did not come")
            proc.wait(20)
            check(proc.returncode == 0, "exit code %s after a close" % proc.returncode)
            check_logged(folder, "Tindra read", 'reason="ended by its 10 s bound"')
        else:
            rc, out = env.probe("tell", "endsession")
            check("query: 1" in out, "the session's end was refused: %r" % out)
            proc.wait(10)
            check(proc.returncode == 0, "exit code %s at the session's end" % proc.returncode)
            check(not leftovers(folder), "files left: %r" % leftovers(folder))
        env.end_all()


def scenario_start_up_ends_in_bounded_time(env):
    # The test copies' bounds: 10 s for a version read, 20 s for a download, a ceiling
    # of 60 s for the whole update with the checker's run. Headers or a body dripping
    # a byte every few seconds end at their request's bound, and the log says so; a
    # checker held by its box is asked to close before the ceiling.
    cases = [
        ("dripping headers of the version file", "read", 10,
         {"drip_head": {"Vantorel_lastver.txt": 2}}, True),
        ("dripping version file", "read", 10, {"drip": {"Vantorel_lastver.txt": 3}}, True),
        ("dripping headers of the checker", "download file=Vantorel.exe.part", 20,
         {"drip_head": {"Vantorel.exe": 2}}, False),
        ("a checker held past the ceiling", "run file=Vantorel.exe", 60, {}, False),
    ]
    for name, step, bound, fault, box in cases:
        print("    %s" % name)
        held = step.startswith("run")
        # An older checker in place, to be fetched; or, to be held, a current one.
        folder = env.program_folder("bounded start-up", checker=27 if held else 26)
        files = {"Vantorel_lastver.txt": b"27" + b" " * 30, "Vantorel.exe": env.vantorel[27],
                 "Pellmora.exe": env.pellmora, "Tindra_lastver.txt": b"28",
                 "Tindra.exe": env.tindra[28]}
        if held:
            files["Vantorel_lastver.txt"] = b"27"
            os.makedirs(os.path.join(folder, "New_Tindra.exe", "kept"))  # the checker's box
        env.publish(files, **fault)
        began = time.monotonic()
        proc = env.start(os.path.join(folder, "Tindra.exe"))
        if box:
            check("text: " + CANNOT_READ in env.box(bound * 1000 + 15000), "no box")
        check(env.poke("0;test", wait=bound + 15) == 0, "Tindra took no poke")
        took = time.monotonic() - began
        print("      takes pokes after %.1f s" % took)
        check(took < bound + 10, "start-up took %.0f s" % took)
        reason = ("the %d s start-up ceiling" if held else "its %d s bound") % bound
        check_logged(folder, "Tindra " + step, 'reason="ended by %s' % reason)
        check(not leftovers(folder), "files left: %r" % leftovers(folder))
        env.end_all()


def scenario_update_log_of_two_writers_at_once(env):
    # Two programs writing at once, past the cap: every line is whole, each writer's
    # lines are all there in their order, the log stays within its cap and the older
    # generation holds the rest. Then a log that cannot be written: nothing changes.
    folder = os.path.join(env.work, "two writers")
    os.makedirs(folder)
    probe = os.path.join(folder, "update-probe.exe")
    shutil.copyfile(env.probe_exe, probe)
    count = 1500  # two writers' lines of about 155 bytes: one rotation
    writers = [env.start(probe, args=["log", name, str(count)]) for name in ("first", "second")]
    for writer in writers:
        writer.wait(180)
        check(writer.returncode == 0, "a writer failed: %s" % writer.returncode)
    current, older = (os.path.join(folder, n) for n in ("Tindra_update.log", "Tindra_update.log.1"))
    check(os.path.getsize(current) <= 256 * 1024, "log of %d bytes" % os.path.getsize(current))
    line = re.compile(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (first|second) log file=(\d+) "
                      r"reason=x{100}\r\n")
    seen = {"first": [], "second": []}
    for path in (older, current):
        with open(path, encoding="utf-8", newline="") as f:
            for text in f.read().splitlines(keepends=True):
                m = line.fullmatch(text)
                check(m, "a broken line in %s: %r" % (os.path.basename(path), text))
                seen[m.group(1)].append(int(m.group(2)))
    for name, numbers in seen.items():
        check(numbers == list(range(count)), "%s: %d lines, in order: %s" %
              (name, len(numbers), numbers == sorted(numbers)))
    for path in (current, older):
        os.remove(path)
    os.makedirs(current)
    rc, _ = env.run_wine([probe, "log", "third", "10"])
    check(rc == 0 and os.listdir(current) == [], "an unwritable log: exit %s" % rc)
    check(program_files(folder) == ["update-probe.exe"], "files: %r" % os.listdir(folder))


SCENARIOS = [
    scenario_unreachable_server,
    scenario_error_page_and_raw_request,
    scenario_current_checker,
    scenario_older_checker,
    scenario_missing_checker,
    scenario_latest_zero_without_checker,
    scenario_checker_download_fails,
    scenario_body_cut_short,
    scenario_new_file_without_replacer,
    scenario_hand_over_to_a_replacer_that_cannot_take_over,
    scenario_served_in_the_wrong_role,
    scenario_leftovers_that_cannot_go_cause_no_loop,
    scenario_other_locale,
    scenario_long_program_folder,
    scenario_untrusted_companions_are_not_kept,
    scenario_untrusted_checker_is_repaired,
    scenario_read_only_companions_are_updated,
    scenario_announced_checker_not_served,
    scenario_hangul_folder_on_code_page_1252,
    scenario_untrusted_new_program_is_not_kept,
    scenario_forged_answer_holds_back_nothing_genuine,
    scenario_replacer_refuses_swapped_program,
    scenario_planted_dll_is_not_loaded,
    scenario_program_that_cannot_be_replaced,
    scenario_replacer_missing_or_broken_is_repaired,
    scenario_new_program_that_crashes_is_rolled_back,
    scenario_replacer_that_dies_after_the_hand_over,
    scenario_second_start_during_the_hand_over,
    scenario_new_program_that_crashes_after_a_slow_start_is_rolled_back,
    scenario_named_objects_taken_first,
    scenario_redirects_are_not_followed,
    scenario_failed_install_variable_set_from_outside,
    scenario_folder_named_like_the_new_program,
    scenario_transfers_are_bounded,
    scenario_replacer_keeps_old_program_on_failure,
    scenario_replacer_refuses_a_linked_new_program,
    scenario_replacer_refuses_paths,
    scenario_end_to_end,
    scenario_expired_certificate_of_the_trusted_key,
    scenario_server_only_certificate_of_the_trusted_key,
    scenario_key_rollover_over_two_releases,
    scenario_fetch_and_download,
    scenario_hanging_server,
    scenario_update_log_of_two_writers_at_once,
    scenario_start_up_answers_the_system,
    scenario_start_up_ends_in_bounded_time,
]


def keep_evidence(env):
    """Copies what the failed scenario left (its server's log, the program folders'
    logs and records, not the programs) into the folder the test slot keeps for it."""
    dest = os.environ.get("TINDRA_TEST_EVIDENCE")
    if dest and os.path.isdir(env.work):
        shutil.copytree(env.work, os.path.join(dest, "work"), dirs_exist_ok=True,
                        ignore=shutil.ignore_patterns("*.exe", "*.dll"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("-k", help="run only scenarios whose name contains this")
    parser.add_argument("--scenario", help="run this scenario alone, in a work folder of its own")
    args = parser.parse_args()
    names = [s.__name__[len("scenario_"):] for s in SCENARIOS]
    if args.scenario and args.scenario not in names:
        print("no scenario %r; there are: %s" % (args.scenario, ", ".join(names)))
        return 2
    work = "wine-work-" + args.scenario if args.scenario else "wine-work"
    env = Env(os.path.abspath(args.build), os.path.abspath(args.source), work)
    for exe in (list(env.tindra.values()) + list(env.vantorel.values()) +
                list(env.pellmora_r.values()) + [env.pellmora, env.vantorel_r28, env.probe_exe,
                                                  env.poke_exe, env.crash_pellmora,
                                                  env.slow_crash] +
                list(env.crashing.values())):
        if not os.path.exists(exe):
            print("missing program: %s" % exe)
            return 1
    env.start_server()
    failed = []
    try:
        for scenario in SCENARIOS:
            name = scenario.__name__[len("scenario_"):]
            if (args.k and args.k not in name) or (args.scenario and args.scenario != name):
                continue
            began = time.monotonic()
            try:
                scenario(env)
                print("PASS %s (%.1f s)" % (name, time.monotonic() - began), flush=True)
            except Exception as e:  # report and go on with the next scenario
                failed.append(name)
                detail = str(e) if isinstance(e, Failure) else traceback.format_exc()
                print("FAIL %s: %s" % (name, detail), flush=True)
                keep_evidence(env)
            finally:
                env.end_all()
    finally:
        env.stop_server()
    print("%d failed: %s" % (len(failed), ", ".join(failed)) if failed else "all passed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
