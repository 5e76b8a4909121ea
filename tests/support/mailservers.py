#!/usr/bin/python3
"""Local mail servers for the tests: Dovecot (POP3, POP3S, STARTTLS, APOP)
serving a Maildir, and an aiosmtpd SMTP server delivering into the same
Maildir. Everything lives under one temporary folder on free loopback ports.

Prints one JSON line when both servers listen, then reads commands from
standard input, one per line, answering each with one JSON line:
  kill-pop3     SIGKILL Dovecot and all its processes (a crash)
  start-pop3    start Dovecot again on the same ports
  proxy-pop3 N  a TCP proxy to the POP3 port that crashes Dovecot (as
                kill-pop3) once N bytes have gone from the server to the
                client: a server dying in the middle of a fetch; answers
                {"ok": true, "port": P}
  quit          stop everything (also on end of input)
Run with Debian's /usr/bin/python3 (aiosmtpd is a Debian package).
"""
import argparse
import asyncio
import json
import os
import pwd
import grp
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

USER = "tomo"
PASSWORD = "kagi-1234"
ADDRESS = "tomo@localhost"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, timeout=15.0):
    end = time.time() + timeout
    while time.time() < end:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return True
        except OSError:
            time.sleep(0.05)
    return False


def run(cmd, **kw):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, **kw)


def make_certificates(folder):
    """A test certificate authority and a server certificate it signed, for
    localhost and 127.0.0.1."""
    ca_key, ca_crt = os.path.join(folder, "ca.key"), os.path.join(folder, "ca.pem")
    key, csr, crt = (os.path.join(folder, n) for n in ("server.key", "server.csr", "server.pem"))
    ext = os.path.join(folder, "server.ext")
    run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
         "-subj", "/CN=tomoshibi test CA", "-keyout", ca_key, "-out", ca_crt])
    run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost",
         "-keyout", key, "-out", csr])
    with open(ext, "w") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
                "keyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n")
    run(["openssl", "x509", "-req", "-in", csr, "-CA", ca_crt, "-CAkey", ca_key, "-CAcreateserial",
         "-days", "2", "-extfile", ext, "-out", crt])
    return ca_crt, crt, key


class Dovecot:
    def __init__(self, root, runuser, rungroup, cert, key):
        self.root = root
        self.pop3_port = free_port()
        self.pop3s_port = free_port()
        self.proc = None
        self.runuser, self.rungroup = runuser, rungroup
        self.conf = os.path.join(root, "dovecot.conf")
        passwd = os.path.join(root, "passwd")
        with open(passwd, "w") as f:
            f.write(f"{USER}:{{PLAIN}}{PASSWORD}\n")
        with open(self.conf, "w") as f:
            f.write(f"""
protocols = pop3
listen = 127.0.0.1
base_dir = {root}/run
state_dir = {root}/state
log_path = {root}/dovecot.log
info_log_path = {root}/dovecot.log
default_internal_user = {runuser}
default_internal_group = {rungroup}
default_login_user = {runuser}
first_valid_uid = 1
first_valid_gid = 1
disable_plaintext_auth = no
auth_mechanisms = plain login apop
ssl = yes
ssl_cert = <{cert}
ssl_key = <{key}
mail_location = maildir:{root}/Maildir
pop3_uidl_format = %08Xu%08Xv
passdb {{
  driver = passwd-file
  args = scheme=PLAIN {passwd}
}}
userdb {{
  driver = static
  args = uid={runuser} gid={rungroup} home={root}/home
}}
service anvil {{
  chroot =
}}
service pop3-login {{
  chroot =
  inet_listener pop3 {{
    port = {self.pop3_port}
  }}
  inet_listener pop3s {{
    port = {self.pop3s_port}
    ssl = yes
  }}
}}
""")
        for d in ("run", "state", "home"):
            os.makedirs(os.path.join(root, d), exist_ok=True)

    def start(self):
        cmd = ["/usr/sbin/dovecot", "-F", "-c", self.conf]
        if os.geteuid() == 0:
            cmd = ["setpriv", f"--reuid={self.runuser}", f"--regid={self.rungroup}", "--clear-groups", "--"] + cmd
        log = open(os.path.join(self.root, "dovecot.out"), "ab")
        # Its own session, so a simulated crash can take every Dovecot process at once.
        self.proc = subprocess.Popen(cmd, stdout=log, stderr=log, stdin=subprocess.DEVNULL, start_new_session=True)
        if not (wait_port(self.pop3_port) and wait_port(self.pop3s_port)):
            raise RuntimeError("dovecot did not start: " + open(os.path.join(self.root, "dovecot.log")).read()[-2000:])

    def kill(self):
        if self.proc and self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait()
        # A killed master leaves its pid file and sockets behind.
        shutil.rmtree(os.path.join(self.root, "run"), ignore_errors=True)
        os.makedirs(os.path.join(self.root, "run"), exist_ok=True)
        chown_tree(os.path.join(self.root, "run"), self.runuser, self.rungroup)

    def stop(self):
        if self.proc and self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait()


def chown_tree(path, user, group):
    if os.geteuid() != 0:
        return
    uid, gid = pwd.getpwnam(user).pw_uid, grp.getgrnam(group).gr_gid
    for base, dirs, files in os.walk(path):
        os.chown(base, uid, gid)
        for n in files:
            os.chown(os.path.join(base, n), uid, gid)


def deliver(maildir, data, user, group):
    """Into tmp/, then renamed into new/: a session never sees half a file."""
    name = f"{time.time():.6f}.{os.getpid()}.{threading.get_ident()}.smtp"
    tmp = os.path.join(maildir, "tmp", name)
    with open(tmp, "wb") as f:
        f.write(data)
        f.flush()
        os.fsync(f.fileno())
    if os.geteuid() == 0:
        os.chown(tmp, pwd.getpwnam(user).pw_uid, grp.getgrnam(group).gr_gid)
    os.rename(tmp, os.path.join(maildir, "new", name))


class SmtpHandler:
    """Keeps every message it accepts (envelope and bytes) in received/, and
    delivers the ones for the mailbox's own address into the Maildir."""

    def __init__(self, root, maildir, user, group, reject):
        self.root, self.maildir, self.user, self.group = root, maildir, user, group
        self.reject = set(a.lower() for a in reject)
        self.count = 0
        self.received = os.path.join(root, "received")
        os.makedirs(self.received, exist_ok=True)

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower() in self.reject:
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        data = envelope.original_content or envelope.content
        if isinstance(data, str):
            data = data.encode("utf-8", "surrogateescape")
        base = os.path.join(self.received, "%05d" % self.count)
        with open(base + ".json.tmp", "w") as f:
            json.dump({"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos,
                       "auth": bool(getattr(session, "authenticated", False))}, f)
        with open(base + ".eml", "wb") as f:
            f.write(data)
        os.rename(base + ".json.tmp", base + ".json")
        if any(r.lower() == ADDRESS for r in envelope.rcpt_tos):
            deliver(self.maildir, data, self.user, self.group)
        return "250 Message accepted for delivery"


def start_smtp(root, maildir, user, group, args, cert, key):
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import AuthResult
    import ssl

    port = free_port()
    handler = SmtpHandler(root, maildir, user, group, args.smtp_reject)
    kwargs = {}
    if args.smtp_auth:
        def authenticator(server, session, envelope, mechanism, auth_data):
            ok = (getattr(auth_data, "login", b"") in (USER.encode(), USER)
                  and getattr(auth_data, "password", b"") in (PASSWORD.encode(), PASSWORD))
            return AuthResult(success=ok, handled=False)
        kwargs.update(auth_required=True, auth_require_tls=False, authenticator=authenticator)
    if args.smtp_starttls:
        ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        ctx.load_cert_chain(cert, key)
        kwargs.update(tls_context=ctx, require_starttls=False)
    controller = Controller(handler, hostname="127.0.0.1", port=port, **kwargs)
    controller.start()
    return controller, port


class CrashingProxy:
    """Forwards connections to the POP3 port; after `limit` bytes from the
    server it kills Dovecot and cuts every connection."""

    def __init__(self, dovecot, limit):
        self.dovecot, self.limit, self.sent = dovecot, limit, 0
        self.lock = threading.Lock()
        self.crashed = False
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            try:
                server = socket.create_connection(("127.0.0.1", self.dovecot.pop3_port))
            except OSError:
                client.close()
                continue
            threading.Thread(target=self.pump, args=(server, client, True), daemon=True).start()
            threading.Thread(target=self.pump, args=(client, server, False), daemon=True).start()

    def pump(self, src, dst, from_server):
        try:
            while True:
                data = src.recv(16384)
                if not data:
                    break
                if from_server:
                    with self.lock:
                        if self.crashed:
                            break
                        room = self.limit - self.sent
                        if len(data) >= room:
                            dst.sendall(data[:max(room, 0)])
                            self.crashed = True
                            self.dovecot.kill()
                            break
                        self.sent += len(data)
                dst.sendall(data)
        except OSError:
            pass
        for s in (src, dst):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--smtp-auth", action="store_true", help="the SMTP server requires AUTH")
    ap.add_argument("--smtp-starttls", action="store_true", help="the SMTP server offers STARTTLS")
    ap.add_argument("--smtp-reject", action="append", default=[], help="refuse this recipient (550)")
    ap.add_argument("--no-smtp", action="store_true")
    args = ap.parse_args()

    # Short path: Dovecot's socket paths are limited to 108 bytes.
    root = tempfile.mkdtemp(prefix="tms", dir="/tmp")
    os.chmod(root, 0o755)
    if os.geteuid() == 0:
        runuser, rungroup = "nobody", "nogroup"
    else:
        runuser, rungroup = pwd.getpwuid(os.getuid()).pw_name, grp.getgrgid(os.getgid()).gr_name
    maildir = os.path.join(root, "Maildir")
    for d in ("tmp", "new", "cur"):
        os.makedirs(os.path.join(maildir, d))
    ca, cert, key = make_certificates(root)
    os.chmod(key, 0o644)  # read by the unprivileged server
    dovecot = Dovecot(root, runuser, rungroup, cert, key)
    chown_tree(root, runuser, rungroup)
    smtp = None
    try:
        dovecot.start()
        info = {"root": root, "maildir": maildir, "ca": ca, "user": USER, "password": PASSWORD,
                "address": ADDRESS, "pop3_port": dovecot.pop3_port, "pop3s_port": dovecot.pop3s_port,
                "runuser": runuser, "rungroup": rungroup, "smtp_port": 0}
        if not args.no_smtp:
            smtp, info["smtp_port"] = start_smtp(root, maildir, runuser, rungroup, args, cert, key)
        print(json.dumps(info), flush=True)
        for line in sys.stdin:
            cmd = line.strip()
            if cmd == "kill-pop3":
                dovecot.kill()
                print(json.dumps({"ok": True}), flush=True)
            elif cmd.startswith("proxy-pop3 "):
                proxy = CrashingProxy(dovecot, int(cmd.split()[1]))
                print(json.dumps({"ok": True, "port": proxy.port}), flush=True)
            elif cmd == "start-pop3":
                dovecot.start()
                print(json.dumps({"ok": True}), flush=True)
            elif cmd == "quit":
                break
            else:
                print(json.dumps({"ok": False, "error": "unknown command " + cmd}), flush=True)
    finally:
        if smtp:
            smtp.stop()
        dovecot.stop()
        if not os.environ.get("TOMOSHIBI_KEEP_SERVERS"):
            shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *a: sys.exit(0))
    main()
