#!/usr/bin/python3
"""A scripted, misbehaving SMTP server for the fault tests, on 127.0.0.1.

Plain SMTP (no STARTTLS, no AUTH): a test allows the server without
encryption, as the server dialog's check box does. The fault chosen with
--fault is played on every mail with a recipient whose local part starts
with "slow"; other mails are taken normally (see FAULTS). A stall lasts
--stall seconds, then the connection is closed. A recipient whose local
part starts with "refused" is always refused (550).

Prints one JSON line when it listens: {"port": P}. Then reads commands from
standard input, one per line, each answered with one JSON line:
  state   {"mails": [{"from": ..., "rcpt": [...], "data": ...}], "sessions": n, "commands": [...]}
          (a mail is listed once its final dot arrived, answered or not)
  quit    stop (also on end of input)
Run with Debian's /usr/bin/python3.
"""
import argparse
import json
import socket
import sys
import threading
import time

FAULTS = {
    "none": "a well-behaved server",
    "stall-after-dot": "the final dot is never answered: the mail arrived, the sender is not told",
    "drop-after-dot": "the connection is closed right after the final dot, without an answer",
    "stall-at-data": "DATA is never answered: nothing of the mail arrives",
    "close-after-mail": "the mail is taken (250), then the connection is closed without a word",
}


class Peer:
    def __init__(self, fault, stall):
        self.fault, self.stall = fault, stall
        self.lock = threading.Lock()
        self.mails, self.commands = [], []
        self.sessions = 0
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
        with self.lock:
            self.sessions += 1
        try:
            self.serve(conn, conn.makefile("rwb", buffering=0))
        except (OSError, ValueError):
            pass
        finally:
            try:
                conn.close()
            except OSError:
                pass

    def stalled(self, conn):
        time.sleep(self.stall)
        conn.shutdown(socket.SHUT_RDWR)

    def serve(self, conn, f):
        def line(text):
            f.write(text.encode() + b"\r\n")

        line("220 tomoshibi smtp peer ready")
        sender, rcpt = None, []
        while True:
            raw = f.readline()
            if not raw:
                return
            cmd = raw.decode(errors="replace").rstrip("\r\n")
            with self.lock:
                self.commands.append(cmd)
            word = cmd.split(" ", 1)[0].upper()
            faulty = self.fault != "none" and any(r.split("@")[0].lower().startswith("slow") for r in rcpt)
            if word == "EHLO":
                f.write(b"250-tomoshibi peer\r\n250-8BITMIME\r\n250 SIZE 100000000\r\n")
            elif word == "HELO":
                line("250 tomoshibi peer")
            elif word == "MAIL":
                sender, rcpt = cmd.split(":", 1)[1].strip().strip("<>"), []
                line("250 OK")
            elif word == "RCPT":
                to = cmd.split(":", 1)[1].strip().strip("<>")
                if to.split("@")[0].lower().startswith("refused"):
                    line("550 5.1.1 <%s>: no such user" % to)
                    continue
                rcpt.append(to)
                line("250 OK")
            elif word == "DATA":
                if faulty and self.fault == "stall-at-data":
                    return self.stalled(conn)
                line("354 End data with <CR><LF>.<CR><LF>")
                data = b""
                while True:
                    l = f.readline()
                    if not l:
                        return
                    if l == b".\r\n":
                        break
                    data += l[1:] if l.startswith(b".") else l
                with self.lock:
                    self.mails.append({"from": sender, "rcpt": rcpt, "data": data.decode("utf-8", "replace")})
                if faulty and self.fault == "stall-after-dot":
                    return self.stalled(conn)
                if faulty and self.fault == "drop-after-dot":
                    conn.shutdown(socket.SHUT_RDWR)
                    return
                line("250 OK queued")
                if faulty and self.fault == "close-after-mail":
                    conn.shutdown(socket.SHUT_RDWR)
                    return
                sender, rcpt = None, []
            elif word == "RSET":
                sender, rcpt = None, []
                line("250 OK")
            elif word == "NOOP":
                line("250 OK")
            elif word == "QUIT":
                line("221 bye")
                return
            else:
                line("502 unknown command")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--fault", default="none", choices=sorted(FAULTS))
    ap.add_argument("--stall", type=float, default=3600.0, help="seconds a stall lasts before the connection closes")
    args = ap.parse_args()
    peer = Peer(args.fault, args.stall)
    print(json.dumps({"port": peer.port}), flush=True)
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        if words[0] == "state":
            with peer.lock:
                print(json.dumps({"mails": peer.mails, "sessions": peer.sessions, "commands": peer.commands}),
                      flush=True)
        elif words[0] == "quit":
            break


if __name__ == "__main__":
    main()
