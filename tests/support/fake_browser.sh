#!/usr/bin/env bash
# The "browser" of the sign-in tests. The program hands it the authorization
# URL as its only argument, as it would hand it to xdg-open or $BROWSER; like
# xdg-open it returns at once, and the user's part goes on in the background:
# it asks the authorization server for the URL (curl, no redirects followed),
# takes the Location of the 302, and requests that URL, which is the
# program's own loopback listener receiving the code.
#
# Set in the environment:
#   FAKE_BROWSER_MODE  approve (default)   as above
#                      deny                the user says no: the program's
#                                          redirect_uri gets
#                                          error=access_denied&state=<its state>
#                      wrong-state         the redirect comes back with another
#                                          state (a forged answer)
#                      never               the user never finishes: the
#                                          authorization URL is opened and
#                                          nothing comes back
#                      fail                no browser: exits 3 at once
#   FAKE_BROWSER_LOG   a file to append to, one line each: "url <URL>",
#                      "authorize <HTTP status> <Location>",
#                      "redirect <HTTP status>" then "done"; a test waits for
#                      "done" (or "error ...") before it looks
#   FAKE_BROWSER_DELAY seconds to wait before the redirect (a slow user)
#   FAKE_BROWSER_WAIT  1: stay in the foreground until done (for scripts)
# A C++ test points the program's opener at this file (a full path) and
# reads FAKE_BROWSER_LOG to see which URL the program opened.
set -u
url=${1:-}
mode=${FAKE_BROWSER_MODE:-approve}
log=${FAKE_BROWSER_LOG:-/dev/null}

say() { printf '%s\n' "$*" >>"$log"; }

[ -n "$url" ] || { echo "usage: fake_browser.sh URL" >&2; exit 2; }
say "url $url"
[ "$mode" = fail ] && { say "error no browser"; exit 3; }

# The value of one query parameter of a URL, percent-decoded.
param() {
  local query=${1#*\?} name=$2 pair value
  query=${query%%#*}
  local IFS='&'
  for pair in $query; do
    if [ "${pair%%=*}" = "$name" ]; then
      value=${pair#*=}
      value=${value//+/ }
      printf '%b' "${value//%/\\x}"
      return 0
    fi
  done
  return 1
}

# $2 percent-encoded for a query.
encode() {
  local s=$1 out= c i
  for ((i = 0; i < ${#s}; i++)); do
    c=${s:i:1}
    case "$c" in
      [A-Za-z0-9._~-]) out+=$c ;;
      *) out+=$(printf '%%%02X' "'$c") ;;
    esac
  done
  printf '%s' "$out"
}

browse() {
  local redirect=
  case "$mode" in
    deny)
      local back state
      back=$(param "$url" redirect_uri) || { say "error no redirect_uri"; return 1; }
      redirect="$back?error=access_denied&error_description=$(encode "The user denied access")"
      if state=$(param "$url" state); then redirect+="&state=$(encode "$state")"; fi
      say "authorize - $redirect"
      ;;
    *)
      local answer status
      answer=$(curl -sS -o /dev/null --max-time 20 -w '%{http_code} %{redirect_url}' "$url") || {
        say "error authorization server unreachable"; return 1; }
      status=${answer%% *}
      redirect=${answer#* }
      say "authorize $status $redirect"
      if [ "$status" != 302 ] || [ -z "$redirect" ]; then say "error no redirect"; return 1; fi
      ;;
  esac
  if [ "$mode" = never ]; then say "done"; return 0; fi
  if [ "$mode" = wrong-state ]; then
    redirect=$(printf '%s' "$redirect" | sed -E 's/([?&]state=)[^&]*/\1forged-state/')
  fi
  sleep "${FAKE_BROWSER_DELAY:-0}"
  # The program's listener answers with a page; only its status matters here.
  local code
  code=$(curl -sS -o /dev/null --max-time 20 -w '%{http_code}' "$redirect") || {
    say "error the program's listener did not answer"; return 1; }
  say "redirect $code"
  say "done"
}

if [ "${FAKE_BROWSER_WAIT:-}" = 1 ]; then
  browse
  exit $?
fi
# Like xdg-open: back at once, the page goes on without us.
browse </dev/null >/dev/null 2>&1 &
disown
exit 0
