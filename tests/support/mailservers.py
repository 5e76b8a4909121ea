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
  oauth CMD     a command for the authorization server (--oauth), see
                oauth_server.py: "oauth expire", "oauth revoke-refresh",
                "oauth issue", "oauth requests token", ...
  smtp-auth     {"ok": true, "attempts": [...]}: every AUTH command the SMTP
                servers saw, in order, as smtp-auth.jsonl holds them
  pop3-auth     {"ok": true, "attempts": [...]}: every login Dovecot's auth
                process was asked for, read back from its debug log (--oauth)
  rekey         the servers get a new key and certificate (a changed key);
                answers with the new fingerprints as in the first line
  renew-cert    a new certificate for the same key
  quit          stop everything (also on end of input)
Run with Debian's /usr/bin/python3 (aiosmtpd is a Debian package).

OAuth 2.0 (--oauth): an authorization server of oauth_server.py runs in this
process; Dovecot gets a second passdb (driver oauth2, mechanisms XOAUTH2 and
OAUTHBEARER) that asks its introspection endpoint, and the SMTP server takes
XOAUTH2 and OAUTHBEARER checked against the same endpoint (and still PLAIN and
LOGIN for the password user). The token's user is the mailbox's address
("oauth_user"), served from the same Maildir as the password user. Dovecot
then logs every auth request and each login line
("Login: user=<...>, method=XOAUTH2, ..., TLS") to "dovecot_log", the
client's SASL data included, and answers a refused login at once (no failure
delay, no per-address penalty). Dovecot takes AUTH before STLS on loopback (a
connection from its own address counts as secured): a token sent in clear
shows as "tls": false in pop3-auth and as "secured" instead of "TLS" in the
login line. --oauth implies --smtp-auth; with --smtp-starttls the SMTP server
takes AUTH only after STARTTLS (an AUTH before it is recorded in
smtp-auth.jsonl all the same, then refused with 538). A C++ test uses all
this through MailServers (Options::oauth, pop3AuthAttempts(), ...).
--oauth-mechanisms xoauth2 (or oauthbearer) makes both mail servers offer and
take only that one of the two.

Certificates: by default both servers use a certificate signed by a test CA
("ca"). --self-signed gives them a self-signed one instead that no CA vouches
for; "rekey" and "renew-cert" change it while the servers keep their ports.
The first line always names the current certificate: "cert" (its PEM file),
"cert_sha256" (SHA-256 of its DER, lowercase hex), "spki_sha256" (SHA-256 of
its SubjectPublicKeyInfo DER, hex) and "spki_sha256_b64" (the same in base64,
as in a "sha256//..." pin). --smtps adds an implicit-TLS SMTP port
("smtps_port").
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
import urllib.parse
import urllib.request
from base64 import b64decode, b64encode

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import oauth_server  # noqa: E402

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


def make_self_signed(folder, key=None):
    """A self-signed certificate for localhost and 127.0.0.1; a new key unless
    `key` names one to keep. Returns (cert, key)."""
    crt = os.path.join(folder, "self-signed.pem")
    cmd = ["openssl", "req", "-x509", "-nodes", "-days", "2", "-subj", "/CN=localhost",
           "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1", "-addext", "basicConstraints=CA:FALSE",
           "-addext", "extendedKeyUsage=serverAuth", "-out", crt + ".new"]
    if key:
        cmd += ["-key", key]
    else:
        key = os.path.join(folder, "self-signed.key")
        cmd += ["-newkey", "rsa:2048", "-keyout", key + ".new"]
    run(cmd)
    if os.path.exists(key + ".new"):
        os.chmod(key + ".new", 0o644)  # read by the unprivileged server
        os.rename(key + ".new", key)
    os.rename(crt + ".new", crt)
    return crt, key


def fingerprints(cert):
    """SHA-256 of the certificate's DER and of its SubjectPublicKeyInfo."""
    import hashlib
    import ssl
    with open(cert) as f:
        der = ssl.PEM_cert_to_DER_cert(f.read())
    pub = subprocess.run(["openssl", "x509", "-in", cert, "-noout", "-pubkey"], check=True,
                         capture_output=True).stdout
    spki = subprocess.run(["openssl", "pkey", "-pubin", "-outform", "DER"], input=pub, check=True,
                          capture_output=True).stdout
    return {"cert": cert, "cert_sha256": hashlib.sha256(der).hexdigest(),
            "spki_sha256": hashlib.sha256(spki).hexdigest(),
            "spki_sha256_b64": b64encode(hashlib.sha256(spki).digest()).decode()}


class Dovecot:
    def __init__(self, root, runuser, rungroup, cert, key, introspect_url=None, oauth_mechanisms="xoauth2 oauthbearer"):
        self.root = root
        self.pop3_port = free_port()
        self.pop3s_port = free_port()
        self.proc = None
        self.runuser, self.rungroup = runuser, rungroup
        self.conf = os.path.join(root, "dovecot.conf")
        passwd = os.path.join(root, "passwd")
        with open(passwd, "w") as f:
            f.write(f"{USER}:{{PLAIN}}{PASSWORD}\n")
        mechanisms = "plain login apop"
        oauth = ""
        if introspect_url:
            oauth_conf = os.path.join(root, "oauth2.conf")
            with open(oauth_conf, "w") as f:
                # 2.3 reads these from the passdb's args file (2.4 has an oauth2 { } block instead).
                f.write(f"introspection_url = {introspect_url}\nintrospection_mode = post\n"
                        "username_attribute = username\nactive_attribute = active\nactive_value = true\n"
                        "timeout_msecs = 5000\ndebug = yes\n")
            # No wait after a refused login, and no penalty growing with each
            # one from the same address (2, 4, 8... seconds): the auth process
            # skips it when it cannot reach anvil's penalty socket.
            oauth = f"""
auth_failure_delay = 0
service anvil {{
  unix_listener anvil-auth-penalty {{
    mode = 0
  }}
}}
auth_verbose = yes
auth_debug = yes
auth_debug_passwords = yes
passdb {{
  driver = oauth2
  mechanisms = {oauth_mechanisms}
  args = {oauth_conf}
}}
"""
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
auth_mechanisms = {mechanisms}{" " + oauth_mechanisms if introspect_url else ""}
ssl = yes
ssl_cert = <{cert}
ssl_key = <{key}
mail_location = maildir:{root}/Maildir
pop3_uidl_format = %08Xu%08Xv
passdb {{
  driver = passwd-file
  mechanisms = {mechanisms}
  args = scheme=PLAIN {passwd}
}}
{oauth}userdb {{
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


class AuthLog:
    """smtp-auth.jsonl: one line for each AUTH command an SMTP server saw,
    with what the client sent (decoded), and whether TLS was on by then."""

    def __init__(self, root):
        self.path = os.path.join(root, "smtp-auth.jsonl")
        self.lock = threading.Lock()
        open(self.path, "a").close()

    def write(self, entry):
        with self.lock, open(self.path, "a") as f:
            f.write(json.dumps(entry) + "\n")

    def read(self):
        with self.lock, open(self.path) as f:
            return [json.loads(line) for line in f if line.strip()]


def decoded(blob):
    try:
        return b64decode(blob, validate=True).decode("utf-8", "replace")
    except ValueError:
        return blob


def recording_smtp(auth_log):
    """aiosmtpd's SMTP that writes each AUTH command, its initial response
    and every answer to a challenge into `auth_log`, before it checks
    anything (an AUTH refused for want of TLS has put its secret on the
    wire all the same)."""
    from aiosmtpd.smtp import SMTP

    class RecordingSMTP(SMTP):
        # A provider's token runs to 2000 characters and more; the client's
        # answer to AUTH's "334" carries it on one line (RFC 4954 allows
        # 12288 octets there). aiosmtpd reads every line with the limit the
        # class has when the connection is made: that one grows, the limit
        # on the lines of a mail stays.
        line_length_limit = 12288

        def __init__(self, *a, **kw):
            super().__init__(*a, **kw)
            self.line_length_limit = SMTP.line_length_limit

        def _tls(self):
            return bool(self._tls_protocol) or self.transport.get_extra_info("ssl_object") is not None

        async def smtp_AUTH(self, arg):
            words = (arg or "").split()
            self._auth_entry = {"mechanism": words[0].upper() if words else "", "tls": self._tls(),
                                "data": [decoded(w) for w in words[1:2] if w != "="]}
            try:
                return await super().smtp_AUTH(arg)
            finally:
                entry, self._auth_entry = self._auth_entry, None
                entry["authenticated"] = bool(self.session.authenticated)
                auth_log.write(entry)

        async def challenge_auth(self, challenge, encode_to_b64=True, log_client_response=False):
            answer = await super().challenge_auth(challenge, encode_to_b64, log_client_response)
            entry = getattr(self, "_auth_entry", None)
            if entry is not None and isinstance(answer, bytes):
                entry["data"].append(answer.decode("utf-8", "replace"))
            return answer

    return RecordingSMTP


class TokenLogin:
    def __init__(self, login):
        self.login = login


class OAuthSmtpHandler(SmtpHandler):
    """Adds XOAUTH2 and OAUTHBEARER, checking each bearer token with the
    authorization server's introspection endpoint. A refused token gets the
    mechanism's error step: a 334 with a JSON status, the client's empty
    (XOAUTH2) or ^A (OAUTHBEARER) answer, then 535."""

    def __init__(self, *a, introspect_url):
        super().__init__(*a)
        self.introspect_url = introspect_url

    def introspect(self, token):
        body = urllib.parse.urlencode({"token": token}).encode()
        req = urllib.request.Request(self.introspect_url, body,
                                     {"Content-Type": "application/x-www-form-urlencoded"})
        with urllib.request.urlopen(req, timeout=10) as r:
            return json.load(r)

    async def _bearer(self, server, args, mechanism, parse, error):
        from aiosmtpd.smtp import AuthResult, MISSING
        if len(args) > 1:
            blob = b64decode(args[1], validate=False) if args[1] != "=" else b""
        else:
            blob = await server.challenge_auth("")
            if blob is MISSING:
                return AuthResult(success=False, handled=True)
        user, token = parse(blob)
        ok = False
        if token:
            loop = asyncio.get_running_loop()
            try:
                info = await loop.run_in_executor(None, self.introspect, token)
                ok = bool(info.get("active")) and str(info.get("username", "")).lower() == user.lower()
            except OSError:
                ok = False
        if ok:
            return AuthResult(success=True, auth_data=TokenLogin(user))
        # The error step: the client must answer before it gets the 535.
        await server.challenge_auth(json.dumps(error).encode())
        return AuthResult(success=False, handled=False)

    async def auth_XOAUTH2(self, server, args):
        def parse(blob):
            fields = dict(f.split("=", 1) for f in blob.decode("utf-8", "replace").split("\x01") if "=" in f)
            auth = fields.get("auth", "")
            return fields.get("user", ""), auth[7:] if auth.lower().startswith("bearer ") else ""
        return await self._bearer(server, args, "XOAUTH2", parse,
                                  {"status": "401", "schemes": "bearer", "scope": "mail"})

    async def auth_OAUTHBEARER(self, server, args):
        def parse(blob):
            text = blob.decode("utf-8", "replace")
            gs2, _, rest = text.partition("\x01")
            user = ""
            for part in gs2.split(","):
                if part.startswith("a="):
                    user = part[2:].replace("=2C", ",").replace("=3D", "=")
            fields = dict(f.split("=", 1) for f in rest.split("\x01") if "=" in f)
            auth = fields.get("auth", "")
            return user, auth[7:] if auth.lower().startswith("bearer ") else ""
        return await self._bearer(server, args, "OAUTHBEARER", parse,
                                  {"status": "invalid_token", "scope": "mail"})


def start_smtp(root, maildir, user, group, args, tls_context, introspect_url=None):
    """The SMTP server, and with --smtps a second one on implicit TLS.
    Returns (controllers, port, smtps_port)."""
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import AuthResult

    auth_log = AuthLog(root)
    smtp_class = recording_smtp(auth_log)

    class RecordingController(Controller):
        def factory(self):
            return smtp_class(self.handler, **self.SMTP_kwargs)

    if introspect_url:
        handler = OAuthSmtpHandler(root, maildir, user, group, args.smtp_reject, introspect_url=introspect_url)
    else:
        handler = SmtpHandler(root, maildir, user, group, args.smtp_reject)
    kwargs = {}
    if args.smtp_auth or introspect_url:
        def authenticator(server, session, envelope, mechanism, auth_data):
            ok = (getattr(auth_data, "login", b"") in (USER.encode(), USER)
                  and getattr(auth_data, "password", b"") in (PASSWORD.encode(), PASSWORD))
            return AuthResult(success=ok, handled=False)
        kwargs.update(auth_required=True, auth_require_tls=False, authenticator=authenticator)
        if introspect_url:
            offered = oauth_mechanisms(args).upper().split()
            kwargs["auth_exclude_mechanism"] = [m for m in ("XOAUTH2", "OAUTHBEARER") if m not in offered]
    controllers = []
    port = free_port()
    plain_kwargs = dict(kwargs)
    if args.smtp_starttls:
        plain_kwargs.update(tls_context=tls_context, require_starttls=False)
        if introspect_url:
            # A token goes only over TLS; aiosmtpd then offers AUTH only after STARTTLS.
            plain_kwargs["auth_require_tls"] = True
    controller = RecordingController(handler, hostname="127.0.0.1", port=port, **plain_kwargs)
    controller.start()
    controllers.append(controller)
    smtps_port = 0
    if args.smtps:
        smtps_port = free_port()
        # aiosmtpd 1.4.3 knows only STARTTLS as TLS: on an implicit-TLS port it
        # offers AUTH only when it does not ask for TLS.
        controller = RecordingController(handler, hostname="127.0.0.1", port=smtps_port, ssl_context=tls_context,
                                         **(dict(kwargs, auth_require_tls=False) if kwargs else {}))
        controller.start()
        controllers.append(controller)
    return controllers, port, smtps_port, auth_log


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


def pop3_auth_attempts(log_path):
    """The logins Dovecot's auth process was asked for, from its debug log:
    {"mechanism", "user", "secured", "tls", "data": [what the client sent,
    decoded]}; "tls" is known only once the login line is written."""
    attempts = {}
    order = []
    try:
        lines = open(log_path, encoding="utf-8", errors="replace").read().splitlines()
    except OSError:
        return []
    for line in lines:
        if "client in: AUTH\t" in line:
            fields = line.split("client in: ", 1)[1].split("\t")
            key = fields[1]  # the request id the login process numbers
            extra = dict(f.split("=", 1) for f in fields[3:] if "=" in f)
            flags = [f for f in fields[3:] if "=" not in f]
            # "secured=tls" for a TLS connection; a bare "secured" for one
            # Dovecot trusts without TLS (loopback).
            entry = {"id": key, "mechanism": fields[2].upper(), "user": "",
                     "secured": "secured" in flags or "secured" in extra, "tls": extra.get("secured") == "tls",
                     "data": [], "ok": None}
            if "resp" in extra:
                entry["data"].append(decoded(extra["resp"]))
            attempts[key] = entry
            order.append(entry)
        elif "client in: CONT\t" in line:
            fields = line.split("client in: ", 1)[1].split("\t")
            if fields[1] in attempts and len(fields) > 2:
                attempts[fields[1]]["data"].append(decoded(fields[2].split(" ", 1)[0]))
        elif "client passdb out: OK\t" in line or "client out: OK\t" in line:
            fields = line.split("out: ", 1)[1].split("\t")
            if fields[1] in attempts:
                attempts[fields[1]]["ok"] = True
                for f in fields[2:]:
                    if f.startswith("user="):
                        attempts[fields[1]]["user"] = f[5:]
        elif "client passdb out: FAIL\t" in line or "client out: FAIL\t" in line:
            fields = line.split("out: ", 1)[1].split("\t")
            if fields[1] in attempts:
                attempts[fields[1]]["ok"] = False
                for f in fields[2:]:
                    if f.startswith("user="):
                        attempts[fields[1]]["user"] = f[5:]
    for e in order:
        del e["id"]
    return order


def oauth_mechanisms(args):
    """The bearer mechanisms the servers offer, as Dovecot's settings spell them."""
    return " ".join(m for m in args.oauth_mechanisms.lower().replace(",", " ").split()
                    if m in ("xoauth2", "oauthbearer")) or "xoauth2 oauthbearer"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--smtp-auth", action="store_true", help="the SMTP server requires AUTH")
    ap.add_argument("--smtp-starttls", action="store_true", help="the SMTP server offers STARTTLS")
    ap.add_argument("--smtps", action="store_true", help="an implicit-TLS SMTP port too")
    ap.add_argument("--smtp-reject", action="append", default=[], help="refuse this recipient (550)")
    ap.add_argument("--no-smtp", action="store_true")
    ap.add_argument("--self-signed", action="store_true", help="a self-signed certificate no CA vouches for")
    ap.add_argument("--oauth", action="store_true", help="bearer-token logins against a local authorization server")
    oauth_server.add_arguments(ap, "oauth-")
    ap.add_argument("--oauth-mechanisms", default="xoauth2 oauthbearer",
                    help="what the mail servers offer of XOAUTH2 and OAUTHBEARER")
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
    if args.self_signed:
        cert, key = make_self_signed(root)
    import ssl
    tls_context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    tls_context.load_cert_chain(cert, key)
    oauth = None
    if args.oauth:
        # Its user is the mailbox's address unless told otherwise (--oauth-user).
        oauth = oauth_server.OAuthServer(0, **oauth_server.state_arguments(args, "oauth-"))
    introspect_url = oauth.info["introspect_url"] if oauth else None
    dovecot = Dovecot(root, runuser, rungroup, cert, key, introspect_url, oauth_mechanisms(args))
    chown_tree(root, runuser, rungroup)
    smtp = []
    auth_log = None
    try:
        dovecot.start()
        info = {"root": root, "maildir": maildir, "ca": ca, "user": USER, "password": PASSWORD,
                "address": ADDRESS, "pop3_port": dovecot.pop3_port, "pop3s_port": dovecot.pop3s_port,
                "runuser": runuser, "rungroup": rungroup, "smtp_port": 0, "smtps_port": 0,
                "dovecot_log": os.path.join(root, "dovecot.log"),
                "smtp_auth_log": os.path.join(root, "smtp-auth.jsonl"), "self_signed": args.self_signed}
        info.update(fingerprints(cert))
        if oauth:
            info["oauth"] = oauth.info
            info["oauth_user"] = oauth.info["user"]
        if not args.no_smtp:
            smtp, info["smtp_port"], info["smtps_port"], auth_log = start_smtp(
                root, maildir, runuser, rungroup, args, tls_context, introspect_url)
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
            elif cmd.startswith("oauth ") or cmd == "oauth":
                answer = oauth.control(cmd[6:]) if oauth else {"ok": False, "error": "started without --oauth"}
                print(json.dumps(answer), flush=True)
            elif cmd == "smtp-auth":
                print(json.dumps({"ok": True, "attempts": auth_log.read() if auth_log else []}), flush=True)
            elif cmd == "pop3-auth":
                print(json.dumps({"ok": True, "attempts": pop3_auth_attempts(info["dovecot_log"])}), flush=True)
            elif cmd in ("rekey", "renew-cert") and args.self_signed:
                # Same files, new contents: Dovecot reads them when it starts,
                # the SMTP servers for each new TLS session.
                cert, key = make_self_signed(root, key if cmd == "renew-cert" else None)
                chown_tree(root, runuser, rungroup)
                tls_context.load_cert_chain(cert, key)
                dovecot.stop()
                dovecot.start()
                info.update(fingerprints(cert))
                print(json.dumps(dict(fingerprints(cert), ok=True)), flush=True)
            elif cmd == "quit":
                break
            else:
                print(json.dumps({"ok": False, "error": "unknown command " + cmd}), flush=True)
    finally:
        for controller in smtp:
            controller.stop()
        dovecot.stop()
        if oauth:
            oauth.stop()
        if not os.environ.get("TOMOSHIBI_KEEP_SERVERS"):
            shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *a: sys.exit(0))
    main()
