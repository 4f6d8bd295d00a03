#!/usr/bin/env python3
"""Asks whatever listens on 127.0.0.1:PORT for the version file, the way Tindra's
start-up does, and tells what Tindra will make of the answer.
  scripts/port-check.py PORT REVISION
Prints its findings for a person. Exit status: 0 nothing listens there; 1 a web
server answers with a version text, and Tindra carries on; 2 Tindra will show its
start-up message that the latest version cannot be read.
"""

import re
import socket
import sys

ANSWER_WAIT_S = 3
NET_TIMEOUT_S = 30  # Tindra's connect/receive time-out (TINDRA_NET_TIMEOUT_MS)
CANNOT_READ = "Vantorel.exe의 최신버전 정보를 읽어올 수 없습니다!"


def ask(port):
    """The raw answer, or None when nothing listens; ("silent", data) on a time-out."""
    request = (b"GET /download/" + "자동업데이트_v1".encode("cp949") +
               b"/Vantorel_lastver.txt HTTP/1.1\r\nHost: 127.0.0.1\r\n"
               b"User-Agent: VB OpenUrl\r\nConnection: close\r\n\r\n")
    try:
        conn = socket.create_connection(("127.0.0.1", port), ANSWER_WAIT_S)
    except OSError:
        return None
    data = b""
    with conn:
        conn.settimeout(ANSWER_WAIT_S)
        try:
            conn.sendall(request)
            while len(data) < 65536:
                chunk = conn.recv(4096)
                if not chunk:
                    return "closed", data
                data += chunk
        except socket.timeout:
            return "silent", data
        except OSError:
            return "closed", data
    return "closed", data


def body_of(head, rest):
    if re.search(rb"(?im)^transfer-encoding:\s*chunked", head):
        size, _, rest = rest.partition(b"\r\n")
        return rest[:int(size.split(b";")[0] or b"0", 16)]
    return rest


def read_number(text):
    """The revision Tindra reads from a version text (blanks, tabs and line feeds
    skipped, a decimal number, rounded halves to even); None when it overflows."""
    m = re.match(r"[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?", re.sub(r"[ \t\n]", "", text))
    if not m:
        return 0
    value = round(float(m.group(0)))
    return value if -2**31 <= value < 2**31 else None


def main():
    port, revision = int(sys.argv[1]), int(sys.argv[2])
    found = ask(port)
    where = "127.0.0.1:%d" % port
    if found is None:
        print("demo: nothing listens on %s yet" % where)
        return 0
    how, data = found
    if data.startswith(b"HTTP/"):
        head, _, rest = data.partition(b"\r\n\r\n")
        status = head.split(b"\r\n", 1)[0].decode("latin-1")
        text = body_of(head, rest)[:20].decode("cp949", "replace")
        print("demo: %s is taken by another web server; it answers Tindra's request for"
              " Vantorel_lastver.txt with \"%s\"" % (where, status))
        if not text.strip(" "):
            print("      and an empty body: Tindra will show its start-up message \"%s\"."
                  % CANNOT_READ)
            print("      The demo closes it (OK); Tindra then carries on without updating.")
            return 2
        latest = read_number(text)
        print("      Tindra reads the first 20 bytes of that answer, %r, as the latest"
              " version:" % text)
        if latest is None:
            print("      a number too large: it reports an overflow and carries on.")
        elif latest > revision:
            print("      %d, newer than its checker's %d: it will try to fetch Vantorel.exe and"
                  " Pellmora.exe from that server (the demo runs a copy of the programs)."
                  % (latest, revision))
        else:
            print("      %d, not newer than %d: it fetches nothing and carries on; its checker"
                  " asks that server for Tindra_lastver.txt the same way." % (latest, revision))
        return 1
    if how == "silent" and not data:
        print("demo: something listens on %s but does not answer an HTTP request (waited %d s)."
              % (where, ANSWER_WAIT_S))
        print("      Tindra will wait up to %d s for an answer, then show its start-up message"
              % NET_TIMEOUT_S)
        print("      \"%s\"." % CANNOT_READ)
    elif not data:
        print("demo: something listens on %s but closes the connection without an answer."
              % where)
        print("      Tindra will show its start-up message \"%s\" at once." % CANNOT_READ)
    else:
        print("demo: something listens on %s and answers, but not in HTTP: %r"
              % (where, data[:40]))
        print("      Tindra may take those bytes as its version text, or show its start-up"
              " message \"%s\"; the demo closes that message if it comes (OK)." % CANNOT_READ)
        return 2
    print("      The demo closes it (OK); Tindra then carries on without updating.")
    return 2


if __name__ == "__main__":
    sys.exit(main())
