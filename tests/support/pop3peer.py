#!/usr/bin/python3
"""A scripted, misbehaving POP3 server for the fault tests, on 127.0.0.1.

It offers STARTTLS (STLS) with a certificate of its own test authority and
plays one fault, chosen with --fault, in the first session or in every
session (see FAULTS). Deletions take effect at QUIT, as on a real server.

Prints one JSON line when it listens: {"port": P, "ca": PEM file}. Then
reads commands from standard input, one per line, each answered with one
JSON line:
  add UID SUBJECT [SIZE]   put a mail into the mailbox (UID "-" = by position)
  load UID FILE            put the mail in FILE (CR LF lines) into the mailbox
  state                    {"uids": [...], "subjects": [...], "sessions": n,
                            "commits": n, "commands": [...]}
  fault NAME               play another fault from the next session on
  quit                     stop (also on end of input)
Run with Debian's /usr/bin/python3.
"""
import argparse
import base64
import json
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

# fault: what it does, and in which sessions ("first" or "every")
FAULTS = {
    "none": "a well-behaved server",
    "drop-mid-retr": "the connection is cut halfway through the second RETR (first session)",
    "refuse-retr": "-ERR to RETR of every mail whose subject starts with 'bad' (every session)",
    "reuse-uidl": "IDs are message numbers, so a new mail gets the ID of one deleted before",
    "dup-uidl": "every mail is listed under the ID 'same'",
    "huge-list": "LIST claims 2 GB for the second mail",
    "endless-line": "the answer to LIST is a line that never ends (first session)",
    "trickle": "RETR is answered one byte every TRICKLE seconds (first session)",
    "stall": "RETR is never answered (first session)",
    "refuse-dele": "-ERR to DELE of every mail whose subject starts with 'keep' (every session)",
    "quit-unanswered": "QUIT is not answered; the connection just ends and nothing is deleted (first session)",
    "no-final-dot": "the second RETR ends without its final dot and the connection closes (first session)",
    "no-uidl": "no UIDL in any session; in the first, QUIT is not answered and nothing is deleted",
    "sasl-after-stls": "CAPA lists SASL PLAIN before STLS and SASL PLAIN OAUTHBEARER only after it; "
                       "AUTH OAUTHBEARER with any token of tomo@localhost logs in (every session)",
}


def run(cmd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def certificates(folder):
    ca_key, ca = os.path.join(folder, "ca.key"), os.path.join(folder, "ca.pem")
    key, csr, crt = (os.path.join(folder, n) for n in ("peer.key", "peer.csr", "peer.pem"))
    ext = os.path.join(folder, "peer.ext")
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    run(["openssl", "req", "-x509"] + ec + ["-days", "2", "-subj", "/CN=tomoshibi peer CA",
                                            "-keyout", ca_key, "-out", ca])
    run(["openssl", "req"] + ec + ["-subj", "/CN=localhost", "-keyout", key, "-out", csr])
    with open(ext, "w") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\n")
    run(["openssl", "x509", "-req", "-in", csr, "-CA", ca, "-CAkey", ca_key, "-CAcreateserial",
         "-days", "2", "-extfile", ext, "-out", crt])
    return ca, crt, key


def make_mail(subject, size):
    head = (f"From: peer@example.jp\r\nSubject: {subject}\r\nMessage-ID: <{subject}.{time.time_ns()}@peer>\r\n"
            f"Date: Mon, 1 Apr 2024 10:00:00 +0900\r\n\r\n").encode()
    body = f"body of {subject}\r\n".encode()
    while len(head) + len(body) < size:
        body += b"." + b"x" * 70 + b"\r\n"  # dot-stuffed lines on the wire
    return head + body


class Mailbox:
    def __init__(self):
        self.lock = threading.Lock()
        self.mails = []  # [uid or None, subject, bytes]
        self.sessions = 0
        self.commits = 0
        self.commands = []


class Session:
    def __init__(self, peer, conn):
        self.peer, self.box = peer, peer.box
        self.conn = conn
        self.file = conn.makefile("rwb", buffering=0)
        with self.box.lock:
            self.box.sessions += 1
            self.number = self.box.sessions
            self.view = list(self.box.mails)
        self.deleted = set()
        self.fault = peer.fault
        self.first = self.number == 1 or peer.fault_from_session == self.number
        self.retrs = 0

    def faulty(self, name, first_only=True):
        return self.fault == name and (self.first or not first_only)

    def send(self, data):
        self.file.write(data)

    def line(self, text):
        self.send(text.encode() + b"\r\n")

    def uid(self, i):
        m = self.view[i]
        if self.fault == "reuse-uidl":
            return str(i + 1)
        if self.fault == "dup-uidl":
            return "same"
        return m[0]

    def size(self, i):
        if self.faulty("huge-list", False) and i == 1:
            return 2147483648
        return len(self.view[i][2])

    def stuffed(self, data):
        out = []
        for l in data.split(b"\r\n")[:-1] if data.endswith(b"\r\n") else data.split(b"\r\n"):
            out.append(b"." + l if l.startswith(b".") else l)
        return b"\r\n".join(out) + b"\r\n"

    def serve(self):
        self.line("+OK tomoshibi peer ready")
        while True:
            raw = self.file.readline()
            if not raw:
                return
            cmd = raw.decode(errors="replace").strip()
            with self.box.lock:
                self.box.commands.append(cmd)
            word, _, arg = cmd.partition(" ")
            word = word.upper()
            if word == "CAPA":
                caps = ["USER", "TOP", "PIPELINING"]
                if self.fault != "no-uidl":
                    caps.append("UIDL")
                if not isinstance(self.conn, ssl.SSLSocket):
                    caps.append("STLS")
                if self.fault == "sasl-after-stls":
                    caps.append("SASL PLAIN OAUTHBEARER" if isinstance(self.conn, ssl.SSLSocket) else "SASL PLAIN")
                self.send(b"+OK\r\n" + b"".join(c.encode() + b"\r\n" for c in caps) + b".\r\n")
            elif word == "STLS":
                self.line("+OK begin TLS")
                self.conn = self.peer.tls.wrap_socket(self.conn, server_side=True)
                self.file = self.conn.makefile("rwb", buffering=0)
            elif word in ("USER", "PASS"):
                self.line("+OK")
            elif word == "AUTH":
                mechanism, _, response = arg.partition(" ")
                listed = self.fault == "sasl-after-stls" and isinstance(self.conn, ssl.SSLSocket)
                if mechanism.upper() != "OAUTHBEARER" or not listed or not response:
                    self.line("-ERR Unsupported authentication mechanism.")
                    continue
                try:
                    gs2 = base64.b64decode(response, validate=True).split(b"\x01")[0]
                except ValueError:
                    gs2 = b""
                self.line("+OK Logged in." if gs2 == b"n,a=tomo@localhost," else "-ERR [AUTH] Authentication failed.")
            elif word == "LIST":
                if self.faulty("endless-line"):
                    self.send(b"+OK ")
                    chunk = b"x" * 65536
                    try:
                        while True:
                            self.send(chunk)
                    except OSError:
                        return
                lines = "".join(f"{i + 1} {self.size(i)}\r\n" for i in range(len(self.view)) if i not in self.deleted)
                self.send(b"+OK\r\n" + lines.encode() + b".\r\n")
            elif word == "UIDL":
                if self.fault == "no-uidl":
                    self.line("-ERR no UIDL here")
                    continue
                lines = "".join(f"{i + 1} {self.uid(i)}\r\n" for i in range(len(self.view)) if i not in self.deleted)
                self.send(b"+OK\r\n" + lines.encode() + b".\r\n")
            elif word == "RETR":
                i = int(arg) - 1
                if i < 0 or i >= len(self.view) or i in self.deleted:
                    self.line("-ERR no such message")
                    continue
                self.retrs += 1
                subject, data = self.view[i][1], self.stuffed(self.view[i][2])
                if self.faulty("refuse-retr", False) and subject.startswith("bad"):
                    self.line("-ERR this message cannot be delivered")
                    continue
                if self.faulty("stall"):
                    time.sleep(3600)
                    return
                if self.faulty("trickle"):
                    for b in (b"+OK\r\n" + data + b".\r\n"):
                        self.send(bytes([b]))
                        time.sleep(self.peer.trickle)
                    continue
                if self.faulty("drop-mid-retr") and self.retrs == 2:
                    self.send(b"+OK\r\n" + data[: len(data) // 2])
                    self.conn.shutdown(socket.SHUT_RDWR)
                    return
                if self.faulty("no-final-dot") and self.retrs == 2:
                    self.send(b"+OK\r\n" + data)
                    self.conn.shutdown(socket.SHUT_RDWR)
                    return
                self.send(b"+OK\r\n" + data + b".\r\n")
            elif word == "DELE":
                i = int(arg) - 1
                if self.faulty("refuse-dele", False) and self.view[i][1].startswith("keep"):
                    self.line("-ERR this message cannot be deleted")
                    continue
                self.deleted.add(i)
                self.line("+OK")
            elif word == "NOOP":
                self.line("+OK")
            elif word == "QUIT":
                if self.faulty("quit-unanswered") or self.faulty("no-uidl"):
                    self.conn.shutdown(socket.SHUT_RDWR)
                    return
                with self.box.lock:
                    gone = [self.view[i] for i in self.deleted]
                    self.box.mails = [m for m in self.box.mails if not any(m is g for g in gone)]
                    self.box.commits += 1
                self.line("+OK bye")
                return
            else:
                self.line("-ERR unknown command")


class Peer:
    def __init__(self, fault, trickle, folder):
        self.fault = fault
        self.fault_from_session = 0
        self.trickle = trickle
        self.box = Mailbox()
        ca, crt, key = certificates(folder)
        self.ca = ca
        self.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.tls.load_cert_chain(crt, key)
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self.handle, args=(conn,), daemon=True).start()

    def handle(self, conn):
        try:
            Session(self, conn).serve()
        except (OSError, ssl.SSLError, ValueError):
            pass
        finally:
            try:
                conn.close()
            except OSError:
                pass


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--fault", default="none", choices=sorted(FAULTS))
    ap.add_argument("--trickle", type=float, default=30.0, help="seconds between bytes for 'trickle'")
    args = ap.parse_args()
    folder = tempfile.mkdtemp(prefix="tmspeer", dir="/tmp")
    peer = Peer(args.fault, args.trickle, folder)
    print(json.dumps({"port": peer.port, "ca": peer.ca}), flush=True)
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        if words[0] == "add":
            uid = None if words[1] == "-" else words[1]
            size = int(words[3]) if len(words) > 3 else 0
            with peer.box.lock:
                peer.box.mails.append([uid, words[2], make_mail(words[2], size)])
            print(json.dumps({"ok": True}), flush=True)
        elif words[0] == "load":
            with open(words[2], "rb") as f:
                data = f.read()
            with peer.box.lock:
                peer.box.mails.append([words[1], os.path.basename(words[2]), data])
            print(json.dumps({"ok": True}), flush=True)
        elif words[0] == "state":
            with peer.box.lock:
                print(json.dumps({"uids": [m[0] for m in peer.box.mails], "subjects": [m[1] for m in peer.box.mails],
                                  "sessions": peer.box.sessions, "commits": peer.box.commits,
                                  "commands": peer.box.commands}), flush=True)
        elif words[0] == "fault":
            peer.fault = words[1]
            peer.fault_from_session = peer.box.sessions + 1
            print(json.dumps({"ok": True}), flush=True)
        elif words[0] == "quit":
            break
    for n in os.listdir(folder):
        os.remove(os.path.join(folder, n))
    os.rmdir(folder)


if __name__ == "__main__":
    main()
