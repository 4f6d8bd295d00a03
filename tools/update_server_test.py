#!/usr/bin/env python3
"""Tests of update_server.py: the paths it accepts, its log, and the misbehaviour it
can be told to show. Runs the server as a separate process on a free port."""

import json
import os
import signal
import socket
import tempfile
import time
import unittest

import wine_session

FOLDER_CP949 = "자동업데이트_v1".encode("cp949")
FOLDER_UTF8 = "자동업데이트_v1".encode("utf-8")


def pct(raw):
    return "".join("%%%02X" % b for b in raw).encode("ascii")


class ServerTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.root = os.path.join(self.dir.name, "root")
        os.mkdir(self.root)
        with open(os.path.join(self.root, "Vantorel_lastver.txt"), "wb") as f:
            f.write(b"27\r\n")
        self.body = bytes(range(256)) * 40
        with open(os.path.join(self.root, "Vantorel.exe"), "wb") as f:
            f.write(self.body)
        self.log = os.path.join(self.dir.name, "server.log")
        self.control = os.path.join(self.dir.name, "control.json")
        self.server = None

    def tearDown(self):
        if self.server:
            self.server.stop()
        self.dir.cleanup()

    def start(self, *extra):
        self.server = wine_session.UpdateServer(self.root, 0, log=self.log, control=self.control,
                                                stderr=None, args=extra)
        self.port = self.server.start()

    def get(self, path, agent=b"VB OpenUrl", timeout=5):
        """Raw request; returns (status, headers text, body) or raises socket.timeout."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=timeout) as s:
            s.sendall(b"GET " + path + b" HTTP/1.1\r\nHost: x\r\nUser-Agent: " + agent + b"\r\n\r\n")
            data = b""
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                data += chunk
        head, _, body = data.partition(b"\r\n\r\n")
        status = int(head.split(b" ")[1])
        return status, head.decode("latin-1"), body

    def test_folder_name_in_every_encoding(self):
        self.start()
        for folder in (FOLDER_CP949, FOLDER_UTF8, pct(FOLDER_CP949), pct(FOLDER_UTF8)):
            status, _, body = self.get(b"/download/" + folder + b"/Vantorel_lastver.txt")
            self.assertEqual((status, body), (200, b"27\r\n"), folder)
        status, head, body = self.get(b"/download/" + FOLDER_CP949 + b"/Vantorel.exe")
        self.assertEqual(status, 200)
        self.assertIn("Content-Length: %d" % len(self.body), head)
        self.assertEqual(body, self.body)

    def test_anything_else_is_an_error_page(self):
        self.start()
        for path in (b"/download/other/Vantorel_lastver.txt",
                     b"/download/" + FOLDER_CP949 + b"/missing.txt",
                     b"/download/" + FOLDER_CP949 + b"/../server.log",
                     b"/download/" + FOLDER_CP949 + b"/%2E%2E/control.json",
                     b"/download/" + FOLDER_CP949 + b"/",
                     b"/"):
            status, _, body = self.get(path)
            self.assertEqual(status, 404, path)
            self.assertTrue(body.startswith(b"<html>"), path)

    def test_log_shows_raw_bytes_and_agent(self):
        self.start()
        self.get(b"/download/" + FOLDER_CP949 + b"/Vantorel_lastver.txt")
        with open(self.log, encoding="utf-8") as f:
            lines = f.read().splitlines()
        self.assertEqual(lines, [
            "GET /download/\\xc0\\xda\\xb5\\xbf\\xbe\\xf7\\xb5\\xa5\\xc0\\xcc\\xc6\\xae_v1/"
            "Vantorel_lastver.txt HTTP/1.1 | User-Agent: VB OpenUrl"])

    def test_status_hang_and_cut_from_the_command_line(self):
        self.start("--status", "Vantorel_lastver.txt=500", "--cut", "Vantorel.exe=100",
                   "--hang", "Pellmora.exe")
        base = b"/download/" + FOLDER_CP949 + b"/"
        status, _, body = self.get(base + b"Vantorel_lastver.txt")
        self.assertEqual(status, 500)
        self.assertIn(b"500", body)
        status, head, body = self.get(base + b"Vantorel.exe")
        self.assertEqual(status, 200)
        self.assertIn("Content-Length: %d" % len(self.body), head)  # announced in full
        self.assertEqual(body, self.body[:100])
        began = time.monotonic()
        with self.assertRaises(socket.timeout):
            self.get(base + b"Pellmora.exe", timeout=1)
        self.assertLess(time.monotonic() - began, 3)

    def test_control_file_changes_behaviour_while_running(self):
        self.start()
        base = b"/download/" + FOLDER_CP949 + b"/"
        self.assertEqual(self.get(base + b"Vantorel.exe")[0], 200)
        with open(self.control, "w", encoding="utf-8") as f:
            json.dump({"status": {"*": 404}}, f)
        self.assertEqual(self.get(base + b"Vantorel.exe")[0], 404)
        self.assertEqual(self.get(base + b"Vantorel_lastver.txt")[0], 404)
        with open(self.control, "w", encoding="utf-8") as f:
            json.dump({"hang": ["Vantorel.exe"]}, f)
        with self.assertRaises(socket.timeout):
            self.get(base + b"Vantorel.exe", timeout=1)
        self.assertEqual(self.get(base + b"Vantorel_lastver.txt")[0], 200)

    def test_drip_and_endless_bodies(self):
        self.start()
        with open(self.control, "w", encoding="utf-8") as f:
            json.dump({"drip": {"Vantorel_lastver.txt": 0.2}, "endless": ["Vantorel.exe"]}, f)
        base = b"/download/" + FOLDER_CP949 + b"/"
        began = time.monotonic()
        status, head, body = self.get(base + b"Vantorel_lastver.txt")
        self.assertEqual((status, body), (200, b"27\r\n"))
        self.assertIn("Content-Length: 4", head)
        self.assertGreaterEqual(time.monotonic() - began, 0.7)  # four bytes, 0.2 s apart
        with socket.create_connection(("127.0.0.1", self.port), timeout=5) as s:
            s.sendall(b"GET " + base + b"Vantorel.exe HTTP/1.1\r\n\r\n")
            data = b""
            while len(data) < 3 * len(self.body):  # far more than the file holds
                data += s.recv(65536)
        self.assertNotIn(b"Content-Length", data.partition(b"\r\n\r\n")[0])

    def test_dripping_headers(self):
        self.start()
        with open(self.control, "w", encoding="utf-8") as f:
            json.dump({"drip_head": {"Vantorel_lastver.txt": 0.01}}, f)
        base = b"/download/" + FOLDER_CP949 + b"/"
        began = time.monotonic()
        status, head, body = self.get(base + b"Vantorel_lastver.txt")
        self.assertEqual((status, body), (200, b"27\r\n"))
        self.assertIn("Content-Length: 4", head)
        # About 90 bytes of status line and headers, 0.01 s apart.
        self.assertGreaterEqual(time.monotonic() - began, 0.5)

    def test_stops_on_sigterm_even_while_a_request_hangs(self):
        self.start("--hang", "Vantorel.exe")
        s = socket.create_connection(("127.0.0.1", self.port), timeout=5)
        s.sendall(b"GET /download/" + FOLDER_CP949 + b"/Vantorel.exe HTTP/1.1\r\n\r\n")
        time.sleep(0.3)
        self.server.proc.send_signal(signal.SIGTERM)
        self.assertEqual(self.server.proc.wait(10), 0)
        s.close()

    def test_redirects_on_request(self):
        self.start("--redirect", "Vantorel.exe=http://127.0.0.1:1/elsewhere/Vantorel.exe")
        base = b"/download/" + FOLDER_CP949 + b"/"
        status, head, _ = self.get(base + b"Vantorel.exe")
        self.assertEqual(status, 302)
        self.assertIn("Location: http://127.0.0.1:1/elsewhere/Vantorel.exe\r\n", head + "\r\n")
        with open(self.control, "w", encoding="utf-8") as f:
            json.dump({"redirect": {"*": "/download/other"}}, f)
        status, head, _ = self.get(base + b"Vantorel_lastver.txt")
        self.assertEqual(status, 302)
        self.assertIn("Location: /download/other", head)

    def test_binds_loopback_only(self):
        # Every listening socket on the port is on the loopback address, and there is
        # one: read from the kernel's table, which needs no tool.
        self.start()
        listening = []
        for table in ("/proc/net/tcp", "/proc/net/tcp6"):
            if not os.path.exists(table):
                continue
            with open(table) as f:
                for line in f.readlines()[1:]:
                    local, state = line.split()[1], line.split()[3]
                    address, port = local.rsplit(":", 1)
                    if state == "0A" and int(port, 16) == self.port:  # LISTEN
                        listening.append(address)
        self.assertTrue(listening, "nothing listens on port %d" % self.port)
        self.assertEqual(listening, ["0100007F"])  # 127.0.0.1, little-endian hex


if __name__ == "__main__":
    unittest.main()
