#!/usr/bin/python3
"""A man in the middle for the tests: forwards connections on a loopback
port to a POP3 or SMTP server on this machine and hides the server's offer
of encryption, as an attacker on the path would: "STLS" goes from the CAPA
answer, "STARTTLS" from the EHLO answer, and a client that asks for either
anyway is told that it is not available.

Every byte the client sends is appended to a capture file, so a test can
tell whether an ID or a password crossed the wire in clear.

Usage: starttls_strip.py pop3|smtp SERVER_PORT CAPTURE_FILE
Prints the port it listens on, then serves until its standard input ends.
"""
import re
import socket
import sys
import threading

REPLY = re.compile(rb"^(\d{3})([ -])(.*)$", re.S)


class Connection:
    def __init__(self, proto, client, server, capture, capture_lock):
        self.proto, self.client, self.server = proto, client, server
        self.capture, self.capture_lock = capture, capture_lock
        self.client_lock = threading.Lock()  # both directions answer the client

    def to_client(self, data):
        with self.client_lock:
            self.client.sendall(data)

    def record(self, data):
        with self.capture_lock, open(self.capture, "ab") as f:
            f.write(data)

    def close(self):
        for s in (self.client, self.server):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()

    def upstream(self):
        """Client to server: recorded, and a request for TLS refused here."""
        pending = b""
        try:
            while True:
                data = self.client.recv(65536)
                if not data:
                    break
                self.record(data)
                pending += data
                while b"\n" in pending:
                    line, pending = pending.split(b"\n", 1)
                    word = line.strip().upper()
                    if self.proto == "pop3" and word == b"STLS":
                        self.to_client(b"-ERR STLS not available\r\n")
                    elif self.proto == "smtp" and word == b"STARTTLS":
                        self.to_client(b"454 4.7.0 TLS not available\r\n")
                    else:
                        self.server.sendall(line + b"\n")
        except OSError:
            pass
        self.close()

    def downstream(self):
        """Server to client, line by line, without the offer of TLS."""
        pending = b""
        group = []  # the lines of one multi-line SMTP reply
        try:
            while True:
                data = self.server.recv(65536)
                if not data:
                    break
                pending += data
                out = b""
                while b"\n" in pending:
                    line, pending = pending.split(b"\n", 1)
                    line += b"\n"
                    if self.proto == "pop3":
                        if line.strip().upper() != b"STLS":
                            out += line
                        continue
                    m = REPLY.match(line)
                    if not m:
                        out += line
                        continue
                    group.append(m)
                    if m.group(2) == b" ":
                        out += self.smtp_reply(group)
                        group = []
                if out:
                    self.to_client(out)
        except OSError:
            pass
        self.close()

    @staticmethod
    def smtp_reply(group):
        kept = [m for m in group if m.group(3).strip().upper() != b"STARTTLS"] or group[-1:]
        lines = []
        for i, m in enumerate(kept):
            sep = b" " if i == len(kept) - 1 else b"-"
            lines.append(m.group(1) + sep + m.group(3))
        return b"".join(lines)


def main():
    proto, port, capture = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    capture_lock = threading.Lock()
    open(capture, "wb").close()
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)

    def accept():
        while True:
            try:
                client, _ = listener.accept()
            except OSError:
                return
            try:
                server = socket.create_connection(("127.0.0.1", port))
            except OSError:
                client.close()
                continue
            c = Connection(proto, client, server, capture, capture_lock)
            threading.Thread(target=c.upstream, daemon=True).start()
            threading.Thread(target=c.downstream, daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    print(listener.getsockname()[1], flush=True)
    sys.stdin.read()


if __name__ == "__main__":
    main()
