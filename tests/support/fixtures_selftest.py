#!/usr/bin/python3
"""Proves the sign-in fixtures before any test of the program leans on them:
the authorization server (oauth_server.py) through the fake browser, Dovecot
and the SMTP server taking bearer tokens (mailservers.py --oauth), the
keyring session (keyring_session.sh) and the self-signed servers
(mailservers.py --self-signed). It uses only what the test packages bring:
Python's standard library, curl, openssl, secret-tool.

Run: /usr/bin/python3 tests/support/fixtures_selftest.py [-v] (a CTest test
labelled e2e).
"""
import base64
import hashlib
import http.client
import http.server
import json
import os
import poplib
import re
import secrets
import shutil
import smtplib
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
MESSAGE = b"From: tomo@localhost\r\nTo: tomo@localhost\r\nSubject: selftest %s\r\n\r\nbody\r\n"


class Servers:
    """mailservers.py with every option the sign-in tests use."""

    def __init__(self, *args):
        self.proc = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "mailservers.py"), *args],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        if not line:
            raise RuntimeError("mailservers.py did not start")
        self.info = json.loads(line)

    def __getitem__(self, key):
        return self.info[key]

    def cmd(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        return json.loads(self.proc.stdout.readline())

    def stop(self):
        self.proc.stdin.write("quit\n")
        self.proc.stdin.close()
        self.proc.wait(30)
        self.proc.stdout.close()


def post(url, fields, auth=None):
    """A form POST; (HTTP status, decoded JSON or None)."""
    req = urllib.request.Request(url, urllib.parse.urlencode(fields).encode(),
                                 {"Content-Type": "application/x-www-form-urlencoded"})
    if auth:
        req.add_header("Authorization", "Basic " + base64.b64encode(("%s:%s" % auth).encode()).decode())
    try:
        with urllib.request.urlopen(req, timeout=10) as r:
            body = r.read()
            return r.status, json.loads(body) if body else None
    except urllib.error.HTTPError as e:
        return e.code, json.loads(e.read() or b"null")


def get_no_redirect(url):
    u = urllib.parse.urlsplit(url)
    c = http.client.HTTPConnection(u.hostname, u.port, timeout=10)
    c.request("GET", u.path + "?" + u.query)
    r = c.getresponse()
    r.read()
    c.close()
    return r.status, r.getheader("Location")


class LoopbackReceiver:
    """What the program does to receive the code: a one-shot HTTP listener
    on a free loopback port."""

    def __init__(self):
        self.got = []
        outer = self

        class H(http.server.BaseHTTPRequestHandler):
            def log_message(self, *a):
                pass

            def do_GET(self):
                outer.got.append(dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(self.path).query)))
                self.send_response(200)
                self.send_header("Content-Length", "2")
                self.end_headers()
                self.wfile.write(b"ok")

        self.httpd = http.server.HTTPServer(("127.0.0.1", 0), H)
        self.uri = "http://127.0.0.1:%d/cb" % self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def pkce():
    verifier = secrets.token_urlsafe(48)
    challenge = base64.urlsafe_b64encode(hashlib.sha256(verifier.encode()).digest()).rstrip(b"=").decode()
    return verifier, challenge


def browser(url, mode="approve", wait=True):
    log = tempfile.mktemp(prefix="tmsbr")
    env = dict(os.environ, FAKE_BROWSER_MODE=mode, FAKE_BROWSER_LOG=log, FAKE_BROWSER_WAIT="1" if wait else "")
    rc = subprocess.run([os.path.join(HERE, "fake_browser.sh"), url], env=env, timeout=60).returncode
    if not wait:
        for _ in range(200):
            if os.path.exists(log) and ("done" in read(log) or "error" in read(log)):
                break
            time.sleep(0.05)
    text = read(log) if os.path.exists(log) else ""
    if os.path.exists(log):
        os.unlink(log)
    return rc, text


def read(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def curl(*args):
    return subprocess.run(["curl", "-sS", "--max-time", "30", *args], capture_output=True, text=True)


class Fixture(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.s = Servers("--oauth", "--smtp-starttls", "--smtps", "--self-signed")
        cls.oauth = cls.s["oauth"]

    @classmethod
    def tearDownClass(cls):
        cls.s.stop()

    def authorize_url(self, redirect_uri, challenge=None, state="st-1", **extra):
        q = {"response_type": "code", "client_id": self.oauth["client_id"], "redirect_uri": redirect_uri,
             "scope": "mail", "state": state}
        if challenge:
            q.update(code_challenge=challenge, code_challenge_method="S256")
        q.update(extra)
        return self.oauth["authorize_url"] + "?" + urllib.parse.urlencode(q)

    def sign_in(self):
        """The whole code flow through the fake browser; the token answer."""
        rx = LoopbackReceiver()
        try:
            verifier, challenge = pkce()
            state = secrets.token_urlsafe(12)
            rc, log = browser(self.authorize_url(rx.uri, challenge, state))
            self.assertEqual(rc, 0, log)
            self.assertIn("redirect 200", log)
            self.assertEqual(len(rx.got), 1)
            self.assertEqual(rx.got[0]["state"], state)
            status, tok = post(self.oauth["token_url"], {
                "grant_type": "authorization_code", "code": rx.got[0]["code"], "redirect_uri": rx.uri,
                "code_verifier": verifier, "client_id": self.oauth["client_id"]})
            self.assertEqual(status, 200, tok)
            return tok
        finally:
            rx.close()

    def pop3(self, user, token=None, password=None, path="/"):
        cred = ["-u", user + ":", "--oauth2-bearer", token] if token else ["-u", "%s:%s" % (user, password)]
        return curl("--ssl-reqd", "--cacert", self.s["cert"], *cred, "pop3://127.0.0.1:%d%s" % (self.s["pop3_port"], path))

    def smtp_send(self, user, token=None, password=None, subject="x"):
        f = tempfile.NamedTemporaryFile(delete=False)
        f.write(MESSAGE % subject.encode())
        f.close()
        cred = ["-u", user + ":", "--oauth2-bearer", token] if token else ["-u", "%s:%s" % (user, password)]
        r = curl("--ssl-reqd", "--cacert", self.s["cert"], *cred, "--mail-from", "tomo@localhost",
                 "--mail-rcpt", "tomo@localhost", "-T", f.name, "smtp://127.0.0.1:%d/" % self.s["smtp_port"])
        os.unlink(f.name)
        return r


class AuthorizationServer(Fixture):
    def test_code_flow_with_pkce_then_refresh_and_introspection(self):
        tok = self.sign_in()
        self.assertEqual(tok["token_type"], "Bearer")
        self.assertTrue(tok["access_token"] and tok["refresh_token"] and tok["expires_in"] > 0)
        reqs = self.s.cmd("oauth requests authorize")["requests"]
        self.assertEqual(reqs[-1]["params"]["code_challenge_method"], "S256")
        status, info = post(self.oauth["introspect_url"], {"token": tok["access_token"]})
        self.assertEqual((status, info["active"], info["username"]), (200, True, self.s["oauth_user"]))
        self.assertGreater(info["exp"], time.time())
        self.assertEqual(post(self.oauth["introspect_url"], {"token": tok["refresh_token"]})[1], {"active": False})
        status, again = post(self.oauth["token_url"], {"grant_type": "refresh_token",
                                                       "refresh_token": tok["refresh_token"],
                                                       "client_id": self.oauth["client_id"]})
        self.assertEqual(status, 200, again)
        self.assertNotEqual(again["access_token"], tok["access_token"])
        self.assertTrue(post(self.oauth["introspect_url"], {"token": again["access_token"]})[1]["active"])

    def test_refusals(self):
        rx = LoopbackReceiver()
        try:
            verifier, challenge = pkce()
            # Without PKCE: back to the program with invalid_request, no code.
            status, loc = get_no_redirect(self.authorize_url(rx.uri))
            q = dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(loc).query))
            self.assertEqual((status, q.get("error"), q.get("state"), "code" in q), (302, "invalid_request", "st-1", False))
            # A plain challenge method is no PKCE either.
            status, loc = get_no_redirect(self.authorize_url(rx.uri, challenge, code_challenge_method="plain"))
            self.assertIn("error=invalid_request", loc)
            # Not a loopback redirect, or an unknown client: no redirect at all.
            self.assertEqual(get_no_redirect(self.authorize_url("http://example.com:80/cb", challenge))[0], 400)
            self.assertEqual(get_no_redirect(self.authorize_url(rx.uri, challenge, client_id="other"))[0], 400)
            # The user denies: the program hears access_denied with its state.
            rc, log = browser(self.authorize_url(rx.uri, challenge, "st-deny"), "deny")
            self.assertEqual(rx.got[-1], {"error": "access_denied", "error_description": "The user denied access",
                                          "state": "st-deny"}, log)
            # A wrong verifier, then the right one, then the same code again.
            n = len(rx.got)
            rc, log = browser(self.authorize_url(rx.uri, challenge, "st-2"), wait=False)
            self.assertIn("done", log)
            code = rx.got[n]["code"]
            grant = {"grant_type": "authorization_code", "code": code, "redirect_uri": rx.uri,
                     "client_id": self.oauth["client_id"]}
            self.assertEqual(post(self.oauth["token_url"], dict(grant, code_verifier="x" * 43))[1]["error"],
                             "invalid_grant")
            self.assertEqual(post(self.oauth["token_url"], dict(grant, code_verifier=verifier))[0], 200)
            self.assertEqual(post(self.oauth["token_url"], dict(grant, code_verifier=verifier))[1]["error"],
                             "invalid_grant")
            self.assertEqual(post(self.oauth["token_url"], {"grant_type": "password"})[0], 401)
            # A forged answer carries another state; a missing browser fails at once.
            n = len(rx.got)
            browser(self.authorize_url(rx.uri, challenge, "st-4"), "wrong-state")
            self.assertEqual(rx.got[n]["state"], "forged-state")
            self.assertEqual(browser(self.authorize_url(rx.uri, challenge), "fail")[0], 3)
            # The browser that never comes back leaves the program waiting.
            n = len(rx.got)
            rc, log = browser(self.authorize_url(rx.uri, challenge, "st-3"), "never")
            self.assertIn("authorize 302", log)
            self.assertEqual(len(rx.got), n)
        finally:
            rx.close()

    def test_revocation_and_control(self):
        tok = self.sign_in()
        self.assertEqual(post(self.oauth["revoke_url"], {"token": tok["refresh_token"],
                                                         "client_id": self.oauth["client_id"]})[0], 200)
        self.assertFalse(post(self.oauth["introspect_url"], {"token": tok["access_token"]})[1]["active"])
        status, err = post(self.oauth["token_url"], {"grant_type": "refresh_token", "refresh_token": tok["refresh_token"],
                                                     "client_id": self.oauth["client_id"]})
        self.assertEqual((status, err["error"]), (400, "invalid_grant"))
        counts = self.s.cmd("oauth counts")["counts"]
        self.assertGreaterEqual(counts["revoke"], 1)
        self.assertTrue(self.s.cmd("oauth lifetime 1")["ok"])
        short = self.s.cmd("oauth issue")
        self.assertEqual(short["expires_in"], 1)
        time.sleep(1.2)
        self.assertFalse(post(self.oauth["introspect_url"], {"token": short["access_token"]})[1]["active"])
        self.s.cmd("oauth lifetime 3600")


class StandaloneServer(unittest.TestCase):
    """oauth_server.py on its own, with a client secret and a required scope."""

    def test_client_secret_and_scope(self):
        p = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "oauth_server.py"), "--client-secret", "himitsu",
                              "--scope", "mail", "--lifetime", "60"],
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        try:
            info = json.loads(p.stdout.readline())

            def cmd(line):
                p.stdin.write(line + "\n")
                p.stdin.flush()
                return json.loads(p.stdout.readline())

            tok = cmd("issue")
            self.assertEqual(tok["expires_in"], 60)
            grant = {"grant_type": "refresh_token", "refresh_token": tok["refresh_token"]}
            status, err = post(info["token_url"], dict(grant, client_id=info["client_id"]))
            self.assertEqual((status, err["error"]), (401, "invalid_client"))
            self.assertEqual(post(info["token_url"], grant, auth=(info["client_id"], "himitsu"))[0], 200)
            self.assertEqual(post(info["token_url"], dict(grant, client_id=info["client_id"],
                                                          client_secret="himitsu"))[0], 200)
            _, challenge = pkce()
            q = {"response_type": "code", "client_id": info["client_id"], "redirect_uri": "http://127.0.0.1:9/",
                 "state": "s", "code_challenge": challenge, "code_challenge_method": "S256", "scope": "openid"}
            status, loc = get_no_redirect(info["authorize_url"] + "?" + urllib.parse.urlencode(q))
            self.assertIn("error=invalid_scope", loc)
            self.assertTrue(cmd("fail token 503")["ok"])
            self.assertEqual(post(info["token_url"], grant, auth=(info["client_id"], "himitsu"))[0], 503)
            self.assertEqual(post(info["token_url"], grant, auth=(info["client_id"], "himitsu"))[0], 200)
            self.assertEqual(cmd("counts")["counts"]["token"], 5)
        finally:
            p.stdin.write("quit\n")
            p.stdin.close()
            p.wait(10)
            p.stdout.close()


class BearerLogins(Fixture):
    def test_pop3_token_expired_refreshed_revoked_and_password(self):
        tok = self.s.cmd("oauth issue")
        user = self.s["oauth_user"]
        self.assertEqual(self.pop3(user, tok["access_token"]).returncode, 0)
        log = read(self.s["dovecot_log"])
        self.assertRegex(log, r"Login: user=<%s>, method=OAUTHBEARER, .*, TLS," % user)
        self.s.cmd("oauth expire")
        r = self.pop3(user, tok["access_token"])
        self.assertEqual(r.returncode, 67, r.stderr)  # login denied
        status, new = post(self.oauth["token_url"], {"grant_type": "refresh_token", "refresh_token": tok["refresh_token"],
                                                     "client_id": self.oauth["client_id"]})
        self.assertEqual(self.pop3(user, new["access_token"]).returncode, 0)
        self.s.cmd("oauth revoke-refresh " + tok["refresh_token"])
        self.assertEqual(self.pop3(user, new["access_token"]).returncode, 67)
        self.assertEqual(self.pop3(self.s["user"], password=self.s["password"]).returncode, 0)
        attempts = self.s.cmd("pop3-auth")["attempts"]
        self.assertTrue(all(a["tls"] for a in attempts), attempts)
        self.assertEqual([a["ok"] for a in attempts[-4:]], [False, True, False, True])
        self.assertIn("auth=Bearer " + new["access_token"], attempts[-2]["data"][0])

    def test_send_then_receive_with_tokens(self):
        tok = self.s.cmd("oauth issue")
        user = self.s["oauth_user"]
        subject = secrets.token_hex(6)
        r = self.smtp_send(user, tok["access_token"], subject=subject)
        self.assertEqual(r.returncode, 0, r.stderr)
        listing = self.pop3(user, tok["access_token"]).stdout.split()
        numbers = listing[0::2]
        bodies = [self.pop3(user, tok["access_token"], path="/" + n).stdout for n in numbers]
        self.assertTrue(any("selftest " + subject in b for b in bodies))
        self.assertEqual(self.smtp_send(self.s["user"], password=self.s["password"]).returncode, 0)
        self.s.cmd("oauth revoke-access " + tok["access_token"])
        self.assertEqual(self.smtp_send(user, tok["access_token"]).returncode, 67)

    def test_xoauth2_error_steps(self):
        """Both servers' refusal of XOAUTH2: a challenge with a JSON status,
        the client's empty answer, then the failure."""
        tok = self.s.cmd("oauth issue")
        user = self.s["oauth_user"]
        ctx = ssl.create_default_context(cafile=self.s["cert"])

        def xoauth2(token):
            return base64.b64encode(("user=%s\x01auth=Bearer %s\x01\x01" % (user, token)).encode()).decode()

        with smtplib.SMTP("127.0.0.1", self.s["smtp_port"], timeout=10) as c:
            c.starttls(context=ctx)
            c.ehlo()
            self.assertIn("XOAUTH2", c.esmtp_features["auth"])
            self.assertEqual(c.docmd("AUTH XOAUTH2 " + xoauth2(tok["access_token"]))[0], 235)
        with smtplib.SMTP("127.0.0.1", self.s["smtp_port"], timeout=10) as c:
            c.starttls(context=ctx)
            c.ehlo()
            code, challenge = c.docmd("AUTH XOAUTH2 " + xoauth2("at-wrong"))
            self.assertEqual(code, 334)
            self.assertEqual(json.loads(base64.b64decode(challenge))["status"], "401")
            self.assertEqual(c.docmd("")[0], 535)
        p = poplib.POP3("127.0.0.1", self.s["pop3_port"], timeout=10)
        p.stls(ctx)
        self.assertTrue(p._shortcmd("AUTH XOAUTH2 " + xoauth2(tok["access_token"])).startswith(b"+OK"))
        p.quit()
        p = poplib.POP3("127.0.0.1", self.s["pop3_port"], timeout=10)
        p.stls(ctx)
        p._putcmd("AUTH XOAUTH2 " + xoauth2("at-wrong"))
        line, _ = p._getline()
        self.assertTrue(line.startswith(b"+ "), line)
        self.assertIn(b"status", base64.b64decode(line[2:]))
        p._putcmd("")
        self.assertTrue(p._getline()[0].startswith(b"-ERR"))
        p.close()
        self.assertIn("method=XOAUTH2", read(self.s["dovecot_log"]))

    def test_token_before_tls_is_seen(self):
        """A client that sends AUTH before STARTTLS is refused by the SMTP
        server and the attempt is recorded as not under TLS; Dovecot takes it
        on loopback and logs the login as "secured" instead of "TLS"."""
        tok = self.s.cmd("oauth issue")
        user = self.s["oauth_user"]
        blob = base64.b64encode(("user=%s\x01auth=Bearer %s\x01\x01" % (user, tok["access_token"])).encode()).decode()
        with smtplib.SMTP("127.0.0.1", self.s["smtp_port"], timeout=10) as c:
            c.ehlo()
            self.assertNotIn("auth", c.esmtp_features)
            self.assertEqual(c.docmd("AUTH XOAUTH2 " + blob)[0], 538)
        last = self.s.cmd("smtp-auth")["attempts"][-1]
        self.assertEqual((last["mechanism"], last["tls"], last["authenticated"]), ("XOAUTH2", False, False))
        self.assertIn(tok["access_token"], last["data"][0])
        r = curl("-u", user + ":", "--oauth2-bearer", tok["access_token"], "pop3://127.0.0.1:%d/" % self.s["pop3_port"])
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertRegex(read(self.s["dovecot_log"]), r"Login: user=<%s>, method=OAUTHBEARER, .*, secured," % user)
        last = self.s.cmd("pop3-auth")["attempts"][-1]
        self.assertEqual((last["tls"], last["secured"]), (False, True))


class OneMechanismLongTokens(Fixture):
    """--oauth-mechanisms xoauth2: both servers offer and take XOAUTH2 only;
    "oauth token-length": provider-sized tokens, taken by both."""

    @classmethod
    def setUpClass(cls):
        cls.s = Servers("--oauth", "--smtp-starttls", "--self-signed", "--oauth-mechanisms", "xoauth2")
        cls.oauth = cls.s["oauth"]

    def test_xoauth2_only_and_a_long_token(self):
        user = self.s["oauth_user"]
        ctx = ssl.create_default_context(cafile=self.s["cert"])
        with smtplib.SMTP("127.0.0.1", self.s["smtp_port"], timeout=10) as c:
            c.starttls(context=ctx)
            c.ehlo()
            self.assertIn("XOAUTH2", c.esmtp_features["auth"])
            self.assertNotIn("OAUTHBEARER", c.esmtp_features["auth"])
        p = poplib.POP3("127.0.0.1", self.s["pop3_port"], timeout=10)
        p.stls(ctx)
        self.assertNotIn("OAUTHBEARER", " ".join(p.capa().get("SASL", [])))
        p.quit()
        self.assertEqual(self.s.cmd("oauth token-length 2000")["token_length"], 2000)
        tok = self.s.cmd("oauth issue")
        self.assertEqual(len(tok["access_token"]), 2000)
        r = self.pop3(user, tok["access_token"])
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertRegex(read(self.s["dovecot_log"]), r"Login: user=<%s>, method=XOAUTH2, .*, TLS," % user)
        r = self.smtp_send(user, tok["access_token"])
        self.assertEqual(r.returncode, 0, r.stderr)
        last = self.s.cmd("smtp-auth")["attempts"][-1]
        self.assertEqual((last["mechanism"], last["tls"], last["authenticated"]), ("XOAUTH2", True, True))
        self.s.cmd("oauth token-length 0")


class SelfSigned(Fixture):
    def served(self, *args):
        """(certificate SHA-256, public key SHA-256, verify result) that
        openssl s_client sees."""
        out = subprocess.run(["openssl", "s_client", *args, "-CAfile", self.s["ca"]],
                             input=b"", capture_output=True, timeout=30)
        verify = re.search(rb"Verify return code: (\d+)", out.stdout)
        pem = subprocess.run(["openssl", "x509"], input=out.stdout, capture_output=True).stdout
        der = subprocess.run(["openssl", "x509", "-outform", "DER"], input=pem, capture_output=True).stdout
        pub = subprocess.run(["openssl", "x509", "-noout", "-pubkey"], input=pem, capture_output=True).stdout
        spki = subprocess.run(["openssl", "pkey", "-pubin", "-outform", "DER"], input=pub, capture_output=True).stdout
        return hashlib.sha256(der).hexdigest(), hashlib.sha256(spki).hexdigest(), int(verify.group(1)) if verify else -1

    def listeners(self):
        s = self.s
        return [["-connect", "127.0.0.1:%d" % s["pop3s_port"]],
                ["-connect", "127.0.0.1:%d" % s["pop3_port"], "-starttls", "pop3"],
                ["-connect", "127.0.0.1:%d" % s["smtp_port"], "-starttls", "smtp"],
                ["-connect", "127.0.0.1:%d" % s["smtps_port"]]]

    def test_fingerprints_pins_and_key_change(self):
        first = dict(self.s.info)
        for args in self.listeners():
            cert, key, verify = self.served(*args)
            self.assertEqual((cert, key), (first["cert_sha256"], first["spki_sha256"]), args)
            self.assertNotEqual(verify, 0, "the test CA must not vouch for the self-signed certificate")
        pin = "sha256//" + first["spki_sha256_b64"]
        pop3 = "pop3://127.0.0.1:%d/" % self.s["pop3_port"]
        login = ["-u", "%s:%s" % (self.s["user"], self.s["password"])]
        self.assertEqual(curl("--ssl-reqd", "-k", "--pinnedpubkey", pin, *login, pop3).returncode, 0)
        self.assertEqual(curl("--ssl-reqd", "--cacert", self.s["ca"], *login, pop3).returncode, 60)
        renewed = self.s.cmd("renew-cert")
        self.assertNotEqual(renewed["cert_sha256"], first["cert_sha256"])
        self.assertEqual(renewed["spki_sha256"], first["spki_sha256"])
        self.assertEqual(self.served(*self.listeners()[0])[0], renewed["cert_sha256"])
        self.assertEqual(curl("--ssl-reqd", "-k", "--pinnedpubkey", pin, *login, pop3).returncode, 0)
        changed = self.s.cmd("rekey")
        self.assertNotEqual(changed["spki_sha256"], first["spki_sha256"])
        for args in self.listeners():
            self.assertEqual(self.served(*args)[:2], (changed["cert_sha256"], changed["spki_sha256"]), args)
        # A client that refuses the changed key sends nothing: no login reaches either server.
        pop3_before, smtp_before = len(self.s.cmd("pop3-auth")["attempts"]), len(self.s.cmd("smtp-auth")["attempts"])
        self.assertEqual(curl("--ssl-reqd", "-k", "--pinnedpubkey", pin, *login, pop3).returncode, 90)
        smtp = "smtp://127.0.0.1:%d/" % self.s["smtp_port"]
        self.assertEqual(curl("--ssl-reqd", "-k", "--pinnedpubkey", pin, *login, "--mail-from", "tomo@localhost",
                              "--mail-rcpt", "tomo@localhost", "-T", "/dev/null", smtp).returncode, 90)
        self.assertEqual(len(self.s.cmd("pop3-auth")["attempts"]), pop3_before)
        self.assertEqual(len(self.s.cmd("smtp-auth")["attempts"]), smtp_before)
        # The same with the new pin logs in on both.
        new_pin = "sha256//" + changed["spki_sha256_b64"]
        self.assertEqual(curl("--ssl-reqd", "-k", "--pinnedpubkey", new_pin, *login, pop3).returncode, 0)
        self.assertEqual(curl("--ssl-reqd", "-k", "--pinnedpubkey", new_pin, *login, "--mail-from", "tomo@localhost",
                              "--mail-rcpt", "tomo@localhost", "-T", "/dev/null", smtp).returncode, 0)
        self.assertEqual(len(self.s.cmd("pop3-auth")["attempts"]), pop3_before + 1)
        self.assertEqual(len(self.s.cmd("smtp-auth")["attempts"]), smtp_before + 1)


class Keyring(unittest.TestCase):
    SCRIPT = os.path.join(HERE, "keyring_session.sh")

    def run_in(self, *args, stdin=None):
        return subprocess.run([self.SCRIPT, *args], input=stdin, capture_output=True, text=True, timeout=60)

    def test_secret_in_and_out_and_nowhere_else(self):
        home = tempfile.mkdtemp(prefix="tmskr")
        try:
            secret = "tok-" + secrets.token_hex(8)
            r = self.run_in("--dir", home, "--", "secret-tool", "store", "--label=selftest", "service", "tomoshibi",
                            "account", "a", stdin=secret)
            self.assertEqual(r.returncode, 0, r.stderr)
            r = self.run_in("--dir", home, "--", "secret-tool", "lookup", "service", "tomoshibi", "account", "a")
            self.assertEqual((r.returncode, r.stdout, r.stderr), (0, secret, ""))
            self.assertTrue(os.path.exists(os.path.join(home, ".local/share/keyrings/login.keyring")))
            for base, _, files in os.walk(home):
                for n in files:
                    with open(os.path.join(base, n), "rb") as f:
                        self.assertNotIn(secret.encode(), f.read(), n)
            r = self.run_in("--dir", home, "--locked", "--", "secret-tool", "lookup", "service", "tomoshibi",
                            "account", "a")
            self.assertNotEqual(r.returncode, 0)
            self.assertEqual(r.stdout, "")
            r = self.run_in("--none", "--", "secret-tool", "lookup", "service", "tomoshibi", "account", "a")
            self.assertNotEqual(r.returncode, 0)
            r = self.run_in("--no-bus", "--", "sh", "-c", 'echo "$HOME ${DBUS_SESSION_BUS_ADDRESS:-none}"')
            self.assertTrue(r.stdout.startswith("/tmp/tmskr") and r.stdout.endswith(" none\n"), r.stdout)
            self.assertFalse(os.path.exists(r.stdout.split()[0]), "the temporary home is removed")
        finally:
            shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
