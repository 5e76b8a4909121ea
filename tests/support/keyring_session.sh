#!/usr/bin/env bash
# Runs a command with a desktop keyring of its own, so that no test ever
# touches the keyring of the person running the tests:
#
#   keyring_session.sh [--locked | --none | --no-bus] [--dir DIR] [--] COMMAND [ARG...]
#
#   (default)  a private D-Bus session bus with gnome-keyring-daemon's Secret
#              Service, its "login" keyring created and unlocked with
#              $KEYRING_PASSWORD (default "test-keyring"), fed on stdin
#   --locked   the same keyring, locked again before COMMAND starts: reading a
#              secret needs an unlock prompt, which cannot be shown here
#   --none     a session bus on which nothing offers the Secret Service (no
#              service is ever started on demand either)
#   --no-bus   no session bus at all
#   --dir DIR  the folder standing in for the home folder (kept afterwards;
#              run twice with the same DIR to find what was stored); without
#              it a temporary folder is made and removed at the end
#
# COMMAND sees HOME, XDG_DATA_HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME,
# XDG_STATE_HOME and XDG_RUNTIME_DIR inside that folder, KEYRING_DIR set to
# it, and DBUS_SESSION_BUS_ADDRESS of the private bus. The keyring's files are
# in $KEYRING_DIR/.local/share/keyrings. Exits with COMMAND's status (125 when
# the keyring could not be set up). A C++ test runs the program under it, e.g.
#   runProgram({TOMOSHIBI_SOURCE_DIR "/tests/support/keyring_session.sh",
#               "--dir", dir, "--", TOMOSHIBI_EXE, ...})
# and checks what was stored with secret-tool inside another run with the
# same --dir.
set -uo pipefail

mode=unlocked
dir=
while (($#)); do
  case "$1" in
    --locked) mode=locked ;;
    --none) mode=none ;;
    --no-bus) mode=nobus ;;
    --dir) dir=$2; shift ;;
    --) shift; break ;;
    -*) echo "keyring_session.sh: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
  shift
done
(($#)) || { echo "usage: keyring_session.sh [--locked|--none|--no-bus] [--dir DIR] [--] COMMAND..." >&2; exit 2; }

made=
if [ -z "$dir" ]; then
  dir=$(mktemp -d /tmp/tmskr.XXXXXX) || exit 125
  made=1
fi
mkdir -p "$dir" && dir=$(cd "$dir" && pwd) || exit 125

# Everything a desktop library looks at for a home or a runtime folder.
export HOME=$dir KEYRING_DIR=$dir
export XDG_DATA_HOME=$dir/.local/share XDG_CONFIG_HOME=$dir/.config XDG_CACHE_HOME=$dir/.cache
export XDG_STATE_HOME=$dir/.local/state XDG_RUNTIME_DIR=$dir/run
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME"
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS GNOME_KEYRING_CONTROL SSH_AUTH_SOCK DISPLAY WAYLAND_DISPLAY

cleanup() { [ -n "$made" ] && rm -rf "$dir"; }

if [ "$mode" = nobus ]; then
  "$@"
  status=$?
  cleanup
  exit $status
fi

# A bus with no service folders: nothing is started on demand, so the only
# Secret Service on it is the one started here.
conf=$XDG_RUNTIME_DIR/session.conf
cat >"$conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$XDG_RUNTIME_DIR</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF

# The bus's own complaints (it may not raise its file limit unprivileged) go
# to a log, not into the output of the command under test.
daemon_wrapper=$XDG_RUNTIME_DIR/dbus-daemon
printf '#!/bin/sh\nexec dbus-daemon "$@" 2>>"%s/dbus.log"\n' "$XDG_RUNTIME_DIR" >"$daemon_wrapper"
chmod +x "$daemon_wrapper"

export KEYRING_SESSION_MODE=$mode
export KEYRING_PASSWORD=${KEYRING_PASSWORD:-test-keyring}
dbus-run-session --config-file="$conf" --dbus-daemon="$daemon_wrapper" -- bash -c '
  has_secrets() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q "boolean true"
  }
  daemon=
  if [ "$KEYRING_SESSION_MODE" != none ]; then
    # Foreground, so that its process is ours to end.
    printf %s "$KEYRING_PASSWORD" | gnome-keyring-daemon --foreground --components=secrets --unlock \
      >"$XDG_RUNTIME_DIR/keyring.env" 2>"$XDG_RUNTIME_DIR/keyring.log" &
    daemon=$!
    for _ in $(seq 100); do has_secrets && break; sleep 0.05; done
    if ! has_secrets; then
      echo "keyring_session.sh: the Secret Service did not start" >&2
      cat "$XDG_RUNTIME_DIR/keyring.log" >&2
      kill "$daemon" 2>/dev/null
      exit 125
    fi
    # The unlock by password runs on while the name is already taken.
    for _ in $(seq 100); do [ -e "$XDG_DATA_HOME/keyrings/login.keyring" ] && break; sleep 0.05; done
    if [ "$KEYRING_SESSION_MODE" = locked ]; then
      dbus-send --session --print-reply --dest=org.freedesktop.secrets /org/freedesktop/secrets \
        org.freedesktop.Secret.Service.Lock array:objpath:/org/freedesktop/secrets/collection/login >/dev/null || {
        echo "keyring_session.sh: could not lock the keyring" >&2; kill "$daemon"; exit 125; }
    fi
  fi
  "$@"
  status=$?
  if [ -n "$daemon" ]; then
    kill "$daemon" 2>/dev/null
    wait "$daemon" 2>/dev/null
  fi
  exit $status
' keyring-session "$@"
status=$?
cleanup
exit $status
