#!/usr/bin/python3
"""A local OAuth 2.0 authorization server for the sign-in tests (Python
standard library only, 127.0.0.1, nothing leaves the machine).

Endpoints (http://127.0.0.1:PORT):
  GET  /authorize   code flow (RFC 6749 4.1) with PKCE S256 required
                    (RFC 7636). Checks client_id, a loopback redirect_uri
                    (http://127.0.0.1:ANY/..., or [::1]), response_type=code,
                    state, code_challenge, code_challenge_method=S256 and the
                    scope; approves at once as the configured user and answers
                    302 to redirect_uri?code=..&state=.. . An unknown client or
                    a bad redirect_uri gets a 400 page and no redirect; the
                    other faults redirect with error=invalid_request,
                    unsupported_response_type or invalid_scope.
  POST /token       grant_type=authorization_code (code, redirect_uri,
                    code_verifier checked against the challenge) and
                    grant_type=refresh_token (answered without a new
                    refresh_token unless "rotate on", as many providers do:
                    the client keeps the one it has). The client authenticates with
                    client_secret in the body or HTTP Basic when the server
                    has a secret, else the secret is optional. JSON answers
                    and JSON errors as RFC 6749 5.1/5.2.
  POST /revoke      RFC 7009 (token, token_type_hint); revoking a refresh
                    token revokes the access tokens issued from it too.
  POST /introspect  RFC 7662 (token=...): {"active": true, "username", "exp",
                    "scope", "client_id", "token_type"} for a live access
                    token, {"active": false} for anything else (refresh
                    tokens included).

Run on its own, it prints one JSON line when it listens (its port and URLs)
and then answers commands on standard input, one per line, each with one
JSON line (the same commands mailservers.py relays as "oauth COMMAND"):
  expire                   every access token issued so far expires now
  revoke-refresh [TOKEN]   revoke one refresh token (all when none given),
                           and the access tokens made from it
  revoke-access [TOKEN]    revoke one access token (all when none given)
  lifetime SECONDS         lifetime of the access tokens issued from now on
  token-length N           access tokens issued from now on are N characters
                           long (a provider's signed token runs to 1500 and
                           more); 0: the short default
  rotate on|off            a refresh grant also replaces the refresh token
                           (the old one then stops working)
  fail ENDPOINT STATUS [N] the next N (default 1) requests to ENDPOINT
                           (authorize, token, ...) answer HTTP STATUS
  issue [USER]             mint a token pair as a finished sign-in would:
                           {"access_token", "refresh_token", "expires_in"}
  counts                   {"counts": {"authorize": n, "token": n, ...}}
  requests [ENDPOINT]      {"requests": [...]}: the last requests, oldest
                           first, each {"endpoint", "method", "params",
                           "basic_auth", "time"} (params as sent, one value
                           per name)
  reset                    forget the counts and the request list
  quit                     stop (also on end of input)

Options: --port, --client-id, --client-secret, --user, --lifetime,
--refresh-lifetime, --scope (a scope every authorization must ask for),
--allow-localhost (accept http://localhost/ redirects too).

A C++ test normally gets it through MailServers (Options::oauth), which
starts it inside mailservers.py beside Dovecot and aiosmtpd.
"""
import argparse
import base64
import hashlib
import html
import json
import secrets
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

DEFAULT_CLIENT_ID = "tomoshibi-test"
DEFAULT_USER = "tomo@localhost"
ENDPOINTS = ("authorize", "token", "revoke", "introspect")


def s256(verifier):
    digest = hashlib.sha256(verifier.encode("ascii")).digest()
    return base64.urlsafe_b64encode(digest).rstrip(b"=").decode("ascii")


class OAuthError(Exception):
    def __init__(self, error, description, status=400):
        super().__init__(description)
        self.error, self.description, self.status = error, description, status


class OAuthState:
    """Every grant and token, behind one lock; the HTTP handler and the
    control commands both work on it."""

    def __init__(self, client_id=DEFAULT_CLIENT_ID, client_secret=None, user=DEFAULT_USER, lifetime=3600,
                 refresh_lifetime=30 * 86400, scope=None, allow_localhost=False):
        self.client_id, self.client_secret, self.user = client_id, client_secret, user
        self.lifetime, self.refresh_lifetime = lifetime, refresh_lifetime
        self.scope = scope
        self.allow_localhost = allow_localhost
        self.rotate = False
        self.token_length = 0
        self.lock = threading.Lock()
        self.codes = {}
        self.access = {}
        self.refresh = {}
        self.counts = {e: 0 for e in ENDPOINTS}
        self.requests = []
        self.failures = {}

    # --- recording ---------------------------------------------------------
    def record(self, endpoint, method, params, basic_auth):
        with self.lock:
            self.counts[endpoint] = self.counts.get(endpoint, 0) + 1
            self.requests.append({"endpoint": endpoint, "method": method, "params": params,
                                  "basic_auth": basic_auth, "time": time.time()})
            del self.requests[:-200]
            left = self.failures.get(endpoint)
            if left and left[1] > 0:
                left[1] -= 1
                return left[0]
        return None

    # --- tokens ------------------------------------------------------------
    def _issue(self, user, scope, refresh=None):
        now = time.time()
        access = "at-" + secrets.token_urlsafe(24)
        if self.token_length > len(access):
            access += "." + secrets.token_urlsafe(self.token_length)[:self.token_length - len(access) - 1]
        if refresh is None:
            refresh = "rt-" + secrets.token_urlsafe(24)
            self.refresh[refresh] = {"user": user, "scope": scope, "exp": now + self.refresh_lifetime,
                                     "revoked": False}
        self.access[access] = {"user": user, "scope": scope, "exp": now + self.lifetime, "revoked": False,
                               "refresh": refresh}
        return {"access_token": access, "token_type": "Bearer", "expires_in": int(self.lifetime),
                "refresh_token": refresh, "scope": scope}

    def issue(self, user=None):
        with self.lock:
            return self._issue(user or self.user, self.scope or "mail")

    def _check_client(self, params, basic):
        client_id = params.get("client_id")
        secret = params.get("client_secret")
        if basic:
            client_id, secret = basic
        if client_id != self.client_id:
            raise OAuthError("invalid_client", "unknown client", 401)
        if self.client_secret is not None and secret != self.client_secret:
            raise OAuthError("invalid_client", "client authentication failed", 401)

    def authorize(self, q):
        """Returns the redirect URL, or raises OAuthError with status 400
        when there is no trustworthy redirect_uri to send the error to."""
        client_id = q.get("client_id")
        redirect_uri = q.get("redirect_uri", "")
        if client_id != self.client_id:
            raise OAuthError("invalid_client", "unknown client_id %r" % client_id)
        u = urllib.parse.urlsplit(redirect_uri)
        hosts = ("127.0.0.1", "::1") + (("localhost",) if self.allow_localhost else ())
        if u.scheme != "http" or u.hostname not in hosts or not u.port or u.fragment:
            raise OAuthError("invalid_request", "redirect_uri must be a loopback http URL with a port: %r"
                             % redirect_uri)

        def back(**fields):
            if "state" in q:
                fields["state"] = q["state"]
            sep = "&" if u.query else "?"
            return redirect_uri + sep + urllib.parse.urlencode(fields)

        if q.get("response_type") != "code":
            return back(error="unsupported_response_type", error_description="only response_type=code")
        if not q.get("state"):
            return back(error="invalid_request", error_description="state is required")
        challenge = q.get("code_challenge")
        if not challenge or q.get("code_challenge_method") != "S256":
            return back(error="invalid_request", error_description="PKCE with code_challenge_method=S256 is required")
        if not (43 <= len(challenge) <= 128):
            return back(error="invalid_request", error_description="bad code_challenge")
        scope = q.get("scope", "")
        if self.scope and self.scope not in scope.split():
            return back(error="invalid_scope", error_description="scope %r is required" % self.scope)
        code = "ac-" + secrets.token_urlsafe(24)
        with self.lock:
            self.codes[code] = {"redirect_uri": redirect_uri, "challenge": challenge, "scope": scope or "mail",
                                "user": self.user, "exp": time.time() + 120, "used": False}
        return back(code=code)

    def token(self, p, basic):
        self._check_client(p, basic)
        grant = p.get("grant_type")
        with self.lock:
            if grant == "authorization_code":
                for name in ("code", "redirect_uri", "code_verifier"):
                    if not p.get(name):
                        raise OAuthError("invalid_request", name + " is missing")
                c = self.codes.get(p["code"])
                if not c or c["used"] or c["exp"] < time.time():
                    if c and c["used"]:
                        # A code used twice: whatever it gave is void (RFC 6749 4.1.2).
                        for a in self.access.values():
                            if a["refresh"] == c.get("refresh"):
                                a["revoked"] = True
                        if c.get("refresh") in self.refresh:
                            self.refresh[c["refresh"]]["revoked"] = True
                    raise OAuthError("invalid_grant", "unknown, used or expired code")
                if c["redirect_uri"] != p["redirect_uri"]:
                    raise OAuthError("invalid_grant", "redirect_uri differs from the authorization request")
                if s256(p["code_verifier"]) != c["challenge"]:
                    raise OAuthError("invalid_grant", "code_verifier does not match code_challenge")
                c["used"] = True
                answer = self._issue(c["user"], c["scope"])
                c["refresh"] = answer["refresh_token"]
                return answer
            if grant == "refresh_token":
                rt = p.get("refresh_token")
                if not rt:
                    raise OAuthError("invalid_request", "refresh_token is missing")
                r = self.refresh.get(rt)
                if not r or r["revoked"] or r["exp"] < time.time():
                    raise OAuthError("invalid_grant", "refresh token revoked, expired or unknown")
                if self.rotate:
                    r["revoked"] = True
                    return self._issue(r["user"], r["scope"])
                answer = self._issue(r["user"], r["scope"], refresh=rt)
                # Without rotation the refresh token is not sent again, as many providers do.
                del answer["refresh_token"]
                return answer
            raise OAuthError("unsupported_grant_type", "grant_type %r" % grant)

    def revoke(self, p, basic):
        self._check_client(p, basic)
        tok = p.get("token")
        if not tok:
            raise OAuthError("invalid_request", "token is missing")
        with self.lock:
            self._revoke_refresh(tok)
            if tok in self.access:
                self.access[tok]["revoked"] = True

    def _revoke_refresh(self, tok):
        if tok in self.refresh:
            self.refresh[tok]["revoked"] = True
            for a in self.access.values():
                if a["refresh"] == tok:
                    a["revoked"] = True

    def introspect(self, p):
        tok = p.get("token", "")
        with self.lock:
            a = self.access.get(tok)
            if not a or a["revoked"] or a["exp"] <= time.time():
                return {"active": False}
            return {"active": True, "username": a["user"], "exp": int(a["exp"]), "scope": a["scope"],
                    "client_id": self.client_id, "token_type": "Bearer"}

    # --- control -----------------------------------------------------------
    def control(self, line):
        words = line.split()
        if not words:
            return {"ok": False, "error": "empty command"}
        cmd, args = words[0], words[1:]
        with self.lock:
            if cmd == "expire":
                now = time.time()
                for a in self.access.values():
                    a["exp"] = min(a["exp"], now - 1)
                return {"ok": True, "expired": len(self.access)}
            if cmd == "revoke-refresh":
                for tok in (args or list(self.refresh)):
                    self._revoke_refresh(tok)
                return {"ok": True}
            if cmd == "revoke-access":
                for tok in (args or list(self.access)):
                    if tok in self.access:
                        self.access[tok]["revoked"] = True
                return {"ok": True}
            if cmd == "lifetime" and len(args) == 1:
                self.lifetime = float(args[0])
                return {"ok": True, "lifetime": self.lifetime}
            if cmd == "token-length" and len(args) == 1:
                self.token_length = int(args[0])
                return {"ok": True, "token_length": self.token_length}
            if cmd == "rotate" and args in (["on"], ["off"]):
                self.rotate = args[0] == "on"
                return {"ok": True}
            if cmd == "fail" and len(args) in (2, 3):
                self.failures[args[0]] = [int(args[1]), int(args[2]) if len(args) == 3 else 1]
                return {"ok": True}
            if cmd == "counts":
                return {"ok": True, "counts": dict(self.counts)}
            if cmd == "requests":
                reqs = [r for r in self.requests if not args or r["endpoint"] == args[0]]
                return {"ok": True, "requests": reqs}
            if cmd == "reset":
                self.counts = {e: 0 for e in ENDPOINTS}
                self.requests = []
                return {"ok": True}
            if cmd == "tokens":
                now = time.time()
                return {"ok": True,
                        "access": [{"token": t, "live": not a["revoked"] and a["exp"] > now}
                                   for t, a in self.access.items()],
                        "refresh": [{"token": t, "live": not r["revoked"]} for t, r in self.refresh.items()]}
        if cmd == "issue" and len(args) <= 1:
            return dict(self.issue(args[0] if args else None), ok=True)
        return {"ok": False, "error": "unknown command " + line.strip()}


class Handler(BaseHTTPRequestHandler):
    server_version = "TestAuthorizationServer/1"
    protocol_version = "HTTP/1.1"

    def log_message(self, *a):  # quiet: standard output carries the protocol
        pass

    @property
    def state(self):
        return self.server.state

    def _basic(self):
        h = self.headers.get("Authorization", "")
        if not h.lower().startswith("basic "):
            return None
        try:
            raw = base64.b64decode(h[6:].strip()).decode("utf-8")
        except (ValueError, UnicodeDecodeError):
            return ("", "")
        cid, _, secret = raw.partition(":")
        return (urllib.parse.unquote_plus(cid), urllib.parse.unquote_plus(secret))

    def _send(self, status, body, ctype="application/json", headers=()):
        data = body.encode("utf-8") if isinstance(body, str) else body
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        self.send_header("Pragma", "no-cache")
        for k, v in headers:
            self.send_header(k, v)
        self.end_headers()
        self.wfile.write(data)

    def _json(self, status, obj, headers=()):
        self._send(status, json.dumps(obj), headers=headers)

    def _endpoint(self):
        path = urllib.parse.urlsplit(self.path).path.rstrip("/")
        return path[1:] if path[1:] in ENDPOINTS else None

    def do_GET(self):
        endpoint = self._endpoint()
        q = dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(self.path).query, keep_blank_values=True))
        if endpoint != "authorize":
            self._json(404 if endpoint is None else 405, {"error": "invalid_request"})
            return
        forced = self.state.record(endpoint, "GET", q, self._basic() is not None)
        if forced:
            self._send(forced, "<p>temporarily unavailable</p>", "text/html")
            return
        try:
            location = self.state.authorize(q)
        except OAuthError as e:
            self._send(400, "<h1>%s</h1><p>%s</p>" % (e.error, html.escape(e.description)), "text/html; charset=utf-8")
            return
        self._send(302, "", "text/html", headers=[("Location", location)])

    def do_POST(self):
        endpoint = self._endpoint()
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length).decode("utf-8", "replace")
        if endpoint is None or endpoint == "authorize":
            self._json(404 if endpoint is None else 405, {"error": "invalid_request"})
            return
        params = dict(urllib.parse.parse_qsl(body, keep_blank_values=True))
        basic = self._basic()
        forced = self.state.record(endpoint, "POST", params, basic is not None)
        if forced:
            self._json(forced, {"error": "temporarily_unavailable"})
            return
        ctype = self.headers.get("Content-Type", "").split(";")[0].strip().lower()
        try:
            if ctype != "application/x-www-form-urlencoded":
                raise OAuthError("invalid_request", "Content-Type must be application/x-www-form-urlencoded")
            if endpoint == "token":
                self._json(200, self.state.token(params, basic))
            elif endpoint == "revoke":
                self.state.revoke(params, basic)
                self._send(200, "", "text/plain")
            else:
                self._json(200, self.state.introspect(params))
        except OAuthError as e:
            headers = [("WWW-Authenticate", 'Basic realm="test"')] if e.status == 401 else []
            self._json(e.status, {"error": e.error, "error_description": e.description}, headers)


class OAuthServer:
    """The server on a thread of its own; `info` names its URLs."""

    def __init__(self, port=0, **state_args):
        self.state = OAuthState(**state_args)
        self.httpd = ThreadingHTTPServer(("127.0.0.1", port), Handler)
        self.httpd.daemon_threads = True
        self.httpd.state = self.state
        self.port = self.httpd.server_address[1]
        base = "http://127.0.0.1:%d" % self.port
        self.info = {"port": self.port, "issuer": base, "authorize_url": base + "/authorize",
                     "token_url": base + "/token", "revoke_url": base + "/revoke",
                     "introspect_url": base + "/introspect", "client_id": self.state.client_id,
                     "client_secret": self.state.client_secret, "user": self.state.user}
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def control(self, line):
        return self.state.control(line)

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def add_arguments(ap, prefix=""):
    ap.add_argument("--%sclient-id" % prefix, default=DEFAULT_CLIENT_ID)
    ap.add_argument("--%sclient-secret" % prefix, default=None, help="required at /token when given")
    ap.add_argument("--%suser" % prefix, default=DEFAULT_USER, help="who signs in")
    ap.add_argument("--%slifetime" % prefix, type=float, default=3600, help="access token lifetime, seconds")
    ap.add_argument("--%srefresh-lifetime" % prefix, type=float, default=30 * 86400)
    ap.add_argument("--%sscope" % prefix, default=None, help="a scope every authorization must ask for")
    ap.add_argument("--%sallow-localhost" % prefix, action="store_true")


def state_arguments(args, prefix=""):
    p = prefix.replace("-", "_")
    return {k: getattr(args, p + k) for k in ("client_id", "client_secret", "user", "lifetime",
                                              "refresh_lifetime", "scope", "allow_localhost")}


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--port", type=int, default=0)
    add_arguments(ap)
    args = ap.parse_args()
    server = OAuthServer(args.port, **state_arguments(args))
    print(json.dumps(server.info), flush=True)
    try:
        for line in sys.stdin:
            if line.strip() == "quit":
                break
            print(json.dumps(server.control(line)), flush=True)
    finally:
        server.stop()


if __name__ == "__main__":
    main()
