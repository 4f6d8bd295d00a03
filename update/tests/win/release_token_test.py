#!/usr/bin/env python3
"""`make release` signing from a hardware token: SoftHSM2, a real PKCS#11 token, made
under the build folder, holding a key generated inside it that cannot be exported.

  release_token_test.py --build BUILD --source SOURCE --port PORT   (0: a free one)

Two releases (revisions 27 and 28, for the update host 127.0.0.1:PORT) are made with
`make release PKCS11_MODULE=... SIGNING_KEY=pkcs11:... SIGNING_CERT=pkcs11:...` in a
build folder of their own under BUILD/release-token/ (kept between runs, so only what
changed is built again; the token is kept with it). Each must pass the release's own
checks (its programs carry the token's key and nothing else of its build does) and
hold the integrators' kit and the symbols; wrong symbols, or a program of the build
that does not ship but carries the key, must make the release fail. Then update_nginx_test.py installs
release 27 from its zip, publishes release 28 and pokes the updated program with the
zip's tindra-poke.exe.

Runs inside scripts/test-env.sh. Exit status 0 when all of it passes.
"""

import argparse
import glob
import os
import shutil
import subprocess
import sys
import time
import zipfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from update_nginx_test import free_port  # noqa: E402
from update_wine_test import Failure, check  # noqa: E402

MODULE = "/usr/lib/softhsm/libsofthsm2.so"
TOKEN = "tindra-release"
PIN = "4093"
KEY = "pkcs11:token=%s;object=publisher;type=private" % TOKEN
CERT = "pkcs11:token=%s;object=publisher;type=cert" % TOKEN
SHIPPED = ("Tindra/Tindra.exe", "Tindra/Vantorel.exe", "Tindra/Pellmora.exe",
           "tools/tindra-poke.exe")
KIT = SHIPPED + ("Tindra/README.txt", "examples/notify.c")
SYMBOLS = ("Tindra.exe.debug", "Vantorel.exe.debug", "Pellmora.exe.debug",
           "tindra-poke.exe.debug")


def runs_32bit_code(source):
    """Whether this machine runs 32-bit x86 code (scripts/winarch.sh tries it)."""
    probe = ". '%s'; runs_32bit_code" % os.path.join(source, "scripts", "winarch.sh")
    return subprocess.run(["bash", "-c", probe], stdin=subprocess.DEVNULL).returncode == 0


def run(cmd, env, **kwargs):
    return subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, **kwargs)


def make_token(work, env):
    """The token, its key made inside it, and a certificate for that key stored beside
    it; made once."""
    tokens = os.path.join(work, "tokens")
    if not os.path.isdir(tokens) or not os.listdir(tokens):
        os.makedirs(tokens, exist_ok=True)
        r = run(["softhsm2-util", "--init-token", "--free", "--label", TOKEN, "--pin", PIN,
                 "--so-pin", PIN + PIN], env)
        check(r.returncode == 0, "no token: %s" % r.stderr)
        r = run(["p11tool", "--provider", MODULE, "--login", "--generate-privkey=rsa",
                 "--bits=3072", "--label=publisher", "pkcs11:token=" + TOKEN], env)
        check(r.returncode == 0, "no key generated in the token: %s" % r.stderr)
        cert = os.path.join(work, "publisher-cert.pem")
        r = run(["openssl", "req", "-new", "-x509", "-engine", "pkcs11", "-keyform", "engine",
                 "-key", KEY + ";pin-value=" + PIN, "-subj", "/CN=Tindra token test publisher",
                 "-addext", "extendedKeyUsage=codeSigning", "-days", "3650", "-out", cert],
                dict(env, PKCS11_MODULE_PATH=MODULE))
        check(r.returncode == 0, "no certificate for the token's key: %s" % r.stderr)
        r = run(["p11tool", "--provider", MODULE, "--login", "--write", "--label=publisher",
                 "--load-certificate=" + cert, "pkcs11:token=" + TOKEN], env)
        check(r.returncode == 0, "the certificate was not stored: %s" % r.stderr)
    # The key was made in the token, is sensitive and was never extractable: the token
    # refuses to hand it out.
    r = run(["p11tool", "--provider", MODULE, "--login", "--list-all-privkeys", "--detailed",
             "pkcs11:token=" + TOKEN], env)
    flags = [line for line in r.stdout.splitlines() if "Flags:" in line]
    check(len(flags) == 1 and "CKA_NEVER_EXTRACTABLE" in flags[0] and
          "CKA_SENSITIVE" in flags[0] and "CKA_EXTRACTABLE" not in flags[0],
          "the token's key is not a sealed one: %r" % r.stdout)
    r = run(["p11tool", "--provider", MODULE, "--login", "--export", KEY], env)
    check(r.returncode != 0 and "PRIVATE KEY" not in r.stdout,
          "the token handed out its private key")
    r = run(["p11tool", "--provider", MODULE, "--export", CERT], env)
    check(r.returncode == 0 and "BEGIN CERTIFICATE" in r.stdout, "no certificate in the token")
    print("    token: a sealed key made inside it, its certificate beside it", flush=True)


def release(args, work, env, revision, dist):
    began = time.monotonic()
    r = run(["make", "--no-print-directory", "-C", args.source, "release",
             "BUILD=" + os.path.join(work, "build"), "DIST=" + dist,
             "REVISION=%d" % revision, "UPDATE_HOST=127.0.0.1:%d" % args.port,
             "PKCS11_MODULE=" + MODULE, "SIGNING_KEY=" + KEY, "SIGNING_CERT=" + CERT,
             "PKCS11_PIN_FILE=" + os.path.join(work, "pin"),
             "NATIVE_TARGETS=tindra-verinfo", "WIN_TARGETS=Tindra Vantorel Pellmora tindra-poke"],
            env)
    print("    release %d: make release exited %d after %.0f s"
          % (revision, r.returncode, time.monotonic() - began), flush=True)
    return r


def check_release(r, revision, dist):
    check(r.returncode == 0, "release %d failed:\n%s\n%s" % (revision, r.stdout[-3000:],
                                                            r.stderr[-3000:]))
    check("only the shipped programs (the three and tools/tindra-poke.exe) carry the "
          "publisher's key" in r.stdout, "release %d did not check the key:\n%s"
          % (revision, r.stdout))
    check("development key" not in r.stdout, "release %d speaks of the development key"
          % revision)
    version = "1.00.%04d" % revision
    with zipfile.ZipFile(os.path.join(dist, "Tindra-%s-win32.zip" % version)) as z:
        check(sorted(z.namelist()) == sorted(KIT), "the zip holds %r" % z.namelist())
        z.extractall(os.path.join(dist, "unpacked"))
    with zipfile.ZipFile(os.path.join(dist, "Tindra-%s-win32-symbols.zip" % version)) as z:
        check(sorted(z.namelist()) == sorted(SYMBOLS), "the symbols zip holds %r"
              % z.namelist())
    return os.path.join(dist, "unpacked")


def sign_with_another_key(work, unpacked):
    """The programs of a release signed again with another publisher's key pair (PEM
    files): a folder of them."""
    folder = os.path.join(work, "foreign")
    subprocess.run(["rm", "-rf", folder], check=True)
    os.makedirs(folder)
    key, cert = os.path.join(folder, "key.pem"), os.path.join(folder, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "30", "-subj", "/CN=Another publisher",
                    "-addext", "extendedKeyUsage=codeSigning"], check=True,
                   capture_output=True)
    for name in ("Tindra.exe", "Vantorel.exe", "Pellmora.exe"):
        bare = os.path.join(folder, name + ".unsigned")
        subprocess.run(["osslsigncode", "remove-signature", "-in",
                        os.path.join(unpacked, "Tindra", name), "-out", bare], check=True,
                       capture_output=True)
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256",
                        "-in", bare, "-out", os.path.join(folder, name)], check=True,
                       capture_output=True)
        os.remove(bare)
    return folder


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, help="the Windows build folder")
    parser.add_argument("--source", required=True)
    parser.add_argument("--port", type=int, required=True, help="0 picks a free port")
    args = parser.parse_args()
    args.port = args.port or free_port()
    args.build, args.source = os.path.abspath(args.build), os.path.abspath(args.source)
    work = os.path.join(args.build, "release-token")
    os.makedirs(work, exist_ok=True)
    conf = os.path.join(work, "softhsm2.conf")
    with open(conf, "w") as f:
        f.write("directories.tokendir = %s/tokens\nobjectstore.backend = file\n"
                "log.level = ERROR\n" % work)
    with open(os.path.join(work, "pin"), "w") as f:
        f.write(PIN)
    # The releases are made as a publisher makes them, not as part of an outer make run
    # (make test), whose settings would otherwise reach them.
    env = {k: v for k, v in os.environ.items() if k not in ("MAKEFLAGS", "MFLAGS", "MAKELEVEL")}
    env.update(SOFTHSM2_CONF=conf, GNUTLS_PIN=PIN)
    began = time.monotonic()
    leak = os.path.join(work, "build", "win", "leak", "signed-tool.exe")
    try:
        check(os.path.exists(MODULE), "SoftHSM2 is not installed (scripts/setup.sh installs it)")
        make_token(work, env)
        folders = {}
        for revision in (27, 28):
            # The build copies a program into dist/ when it links it: each revision keeps
            # its own, and only what the release makes is removed.
            dist = os.path.join(work, "dist-%d" % revision)
            subprocess.run(["rm", "-rf", os.path.join(dist, "unpacked"), os.path.join(
                dist, "update-server")] + glob.glob(os.path.join(dist, "*.zip")), check=True)
            folders[revision] = check_release(release(args, work, env, revision, dist),
                                              revision, dist)
        print("    releases 27 and 28 signed through the token and checked", flush=True)

        # Symbols that are not the program's own fail the release.
        own = os.path.join(work, "build", "win", "app", "Tindra.exe.debug")
        shutil.copyfile(own, own + ".kept")
        try:
            shutil.copyfile(os.path.join(work, "build", "win", "vantorel", "Vantorel.exe.debug"),
                            own)
            r = release(args, work, env, 28, os.path.join(work, "dist-28"))
        finally:
            os.replace(own + ".kept", own)
        check(r.returncode != 0 and "Tindra.exe.debug are not the symbols of" in r.stderr,
              "wrong symbols were not refused:\n%s" % r.stderr[-3000:])
        print("    symbols that are not the program's own are refused", flush=True)

        # A program that does not ship but carries the token's key fails the release.
        os.makedirs(os.path.dirname(leak), exist_ok=True)
        r = run(["osslsigncode", "sign", "-pkcs11module", MODULE, "-pkcs11cert", CERT,
                 "-key", KEY, "-pass", PIN, "-h", "sha256",
                 "-in", os.path.join(args.build, "update", "tests", "update-probe.exe"),
                 "-out", leak], env)
        check(r.returncode == 0, "could not sign through the token: %s" % r.stderr)
        r = release(args, work, env, 28, os.path.join(work, "dist-28"))
        check(r.returncode != 0 and "do not ship but carry the publisher's key" in r.stderr and
              leak in r.stderr, "a leaked program was not refused:\n%s" % r.stderr[-3000:])
        check(not glob.glob(os.path.join(work, "dist-28", "*.zip")),
              "a refused release left its zips")
        os.remove(leak)
        print("    a leaked program signed with the token's key is refused", flush=True)

        # Release 27 installed from its zip refuses release 28 signed with another
        # publisher's key (a PEM file), and takes release 28 as its update. A release
        # holds the 32-bit programs, which a machine without 32-bit support cannot run.
        foreign = sign_with_another_key(work, folders[28])
        round_trips = ((foreign, True), (os.path.join(folders[28], "Tindra"), False))
        if not runs_32bit_code(args.source):
            print("    the installed release is not run: this machine cannot run its 32-bit "
                  "programs", flush=True)
            round_trips = ()
        for published, refused in round_trips:
            r = subprocess.run([sys.executable, os.path.join(os.path.dirname(__file__),
                                                             "update_nginx_test.py"),
                                "--installed", os.path.join(folders[27], "Tindra"),
                                "--published", published, "--port", str(args.port),
                                "--build", args.build, "--source", args.source,
                                "--poke", os.path.join(folders[28], "tools", "tindra-poke.exe")] +
                               (["--refused"] if refused else []), stdin=subprocess.DEVNULL)
            check(r.returncode == 0, "the installed release 27 %s" % (
                "took another publisher's release" if refused else "did not take release 28"))
        print("PASS release signed through a token (%.0f s)" % (time.monotonic() - began),
              flush=True)
        return 0
    except Failure as e:
        print("FAIL release signed through a token: %s" % e, flush=True)
        return 1
    finally:
        if os.path.exists(leak):
            os.remove(leak)


if __name__ == "__main__":
    sys.exit(main())
