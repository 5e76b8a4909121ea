#!/usr/bin/env bash
# ./build.sh start   install what is missing, build, lay out the program folder, start 灯火亭
# ./build.sh test    install what is missing, build, run every test
# ./build.sh build   install what is missing and build only
set -euo pipefail
cd "$(dirname "$0")"
what=${1:-start}

# Debian 12 packages: building, the Japanese interface, the shop's music
# (FluidSynth and a small General MIDI sound font), and for the tests the
# local POP3 (Dovecot) and SMTP (aiosmtpd) servers, a virtual display,
# pdftotext to read printed PDFs back (and mpop and msmtp, the yardsticks of
# the receiving and sending benchmarks; fluidsynth's file renderer and sox,
# which measure the tunes).
build_packages=(cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n
  libgmime-3.0-dev libcurl4-openssl-dev libssl-dev ca-certificates
  libgtest-dev googletest
  fonts-ipafont-gothic fontconfig
  libfluidsynth-dev timgm6mb-soundfont)
test_packages=(dovecot-pop3d python3-aiosmtpd openssl xvfb xauth mpop msmtp fluidsynth sox poppler-utils)
start_packages=(xvfb xauth)

install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  local sudo=
  [ "$(id -u)" = 0 ] || sudo=sudo
  echo "Installing: ${missing[*]}"
  # The mail servers run only under the tests' control: keep the system from
  # starting them as services while they are installed.
  local policy=/usr/sbin/policy-rc.d made_policy=
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
    $sudo chmod +x "$policy"
    made_policy=1
  fi
  local rc=0
  $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}" || rc=$?
  [ -z "$made_policy" ] || $sudo rm -f "$policy"
  return $rc
}

build() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON >/dev/null
  cmake --build build
}

case "$what" in
  build)
    install_missing "${build_packages[@]}"
    build
    ;;
  test)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    build
    ctest --test-dir build --output-on-failure -j "$(nproc)"
    ;;
  start)
    install_missing "${build_packages[@]}" "${start_packages[@]}"
    build
    # pelkit.ini is read from the current directory: the program folder.
    cd build/app
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
      exec ./tomoshibi
    fi
    echo "No display found: starting 灯火亭 on a virtual display (xvfb-run)."
    echo "To see it, run ./build.sh start from a desktop session, or forward X (ssh -X)."
    exec xvfb-run -a -s "-screen 0 1280x1024x24" ./tomoshibi
    ;;
  *)
    echo "usage: $0 start|test|build" >&2
    exit 2
    ;;
esac
