#!/usr/bin/env bash
# ./build.sh start   install what is missing, build the program, start 灯火亭 with
#                    the program folder $XDG_DATA_HOME/tomoshibi (~/.local/share/tomoshibi)
# ./build.sh test    install what is missing, build, run every test; then the receive
#                    engine's tests under ThreadSanitizer (build-tsan/), the unit
#                    and end-to-end tests built with clang under AddressSanitizer
#                    and UndefinedBehaviorSanitizer (build-asan/), and a short
#                    seeded run of every fuzz target (docs/fuzzing.md)
# ./build.sh sanitize
#                    the AddressSanitizer part alone, the window tests included
# ./build.sh tsan    the ThreadSanitizer part alone
# ./build.sh fuzz [SECONDS]
#                    run every fuzz target SECONDS long (default 600), two at a time
# ./build.sh bench   install what is missing (mpop, msmtp and curl too), build and run the benchmarks
# ./build.sh build   install what is missing and build the program
# ./build.sh package install what is missing, build and make the Debian package
#                    build/tomoshibi_*.deb (apt install ./build/tomoshibi_*.deb)
set -euo pipefail
cd "$(dirname "$0")"
what=${1:-start}

# Debian 12 packages: building, the Japanese interface (its font, and the
# icon theme of the toolbars' pictures) and the shop's music (FluidSynth and
# a small General MIDI sound font), the desktop keyring (QtKeychain, and
# libsecret, which it loads at run time); for the tests
# GoogleTest, the local POP3 (Dovecot) and SMTP (aiosmtpd) servers, a
# virtual display, pdftotext to read printed PDFs back, and fluidsynth's file
# renderer and sox, which measure the tunes; curl, a keyring in each test's
# own session (gnome-keyring on a private D-Bus, secret-tool to look inside,
# and an unlock prompt nobody answers, in Python with D-Bus and GLib) for
# the keyring and sign-in tests, the same private D-Bus (dbus-run-session
# from dbus-daemon, dbus-send from dbus-bin) for the desktop notices of the
# automatic check; for the benchmarks also mpop, msmtp and curl, the
# yardsticks of receiving and sending. The package is made with
# dpkg-shlibdeps (dpkg-dev) and file; the tests check it with the desktop's
# validators, systemd-analyze and xdotool. The sanitizer build and the fuzz
# targets need clang with its run-time libraries (libFuzzer among them) and
# llvm-symbolizer, which makes the reports' stacks readable.
build_packages=(cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n qt6-networkauth-dev
  libgmime-3.0-dev libcurl4-openssl-dev libssl-dev zlib1g-dev ca-certificates
  fonts-ipafont-gothic fontconfig adwaita-icon-theme
  libfluidsynth-dev timgm6mb-soundfont qtkeychain-qt6-dev libsecret-1-0)
test_packages=(libgtest-dev googletest dovecot-pop3d python3-aiosmtpd openssl xvfb xauth fluidsynth sox poppler-utils
  dpkg-dev file desktop-file-utils appstream-util systemd xdotool
  curl gnome-keyring dbus-daemon dbus-bin libsecret-tools python3-dbus python3-gi
  clang libclang-rt-14-dev llvm)
package_packages=(dpkg-dev file)
bench_packages=(mpop msmtp curl)
start_packages=(xvfb xauth)

sudo=
[ "$(id -u)" = 0 ] || sudo=sudo

# While packages are installed the system must not start the mail servers as
# services: a policy file says so, and it goes again however this script
# ends (an error, Ctrl-C, a closed terminal).
policy=/usr/sbin/policy-rc.d
made_policy=
remove_policy() {
  if [ -n "$made_policy" ]; then
    $sudo rm -f "$policy" || true
    made_policy=
  fi
}
trap remove_policy EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

install_missing() {
  local missing=() p
  for p in "$@"; do
    installed "$p" || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "Installing: ${missing[*]}"
  local had_dovecot=
  installed dovecot-core && had_dovecot=1
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
    made_policy=1
    $sudo chmod +x "$policy"
  fi
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
  remove_policy
  # The tests start a Dovecot of their own; one that came with them stays
  # off at boot too. A Dovecot the machine had before is left as it was.
  if [ -z "$had_dovecot" ] && installed dovecot-core; then
    echo "Dovecot came with the test packages: it is kept from starting at boot."
    if command -v systemctl >/dev/null; then
      $sudo systemctl disable --quiet dovecot.service dovecot.socket >/dev/null 2>&1 || true
    fi
    if command -v update-rc.d >/dev/null; then
      $sudo update-rc.d dovecot disable >/dev/null 2>&1 || true
    fi
  fi
}

# $1: ON to build the tests (and the benchmarks) too, OFF for the program as
# a user gets it, without the places where tests reach into it (the test
# hooks come with BUILD_TESTING). A build folder that is already set up
# keeps its choice unless one is asked for.
configure() {
  local testing=()
  if [ -n "${1:-}" ] || [ ! -f build/CMakeCache.txt ]; then testing=(-DBUILD_TESTING="${1:-OFF}"); fi
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${testing[@]}" >/dev/null
}

# The sanitizer tree: clang, AddressSanitizer and UndefinedBehaviorSanitizer
# throughout, the libraries instrumented for libFuzzer as well, so that the
# fuzz targets come from the same tree as the sanitized tests. ccache is
# used when it is there.
configure_asan() {
  local launcher=()
  if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
  CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
    -DTOMOSHIBI_SANITIZE=ON -DTOMOSHIBI_FUZZ=ON -DTOMOSHIBI_TEST_KINDS="$1" "${launcher[@]}" >/dev/null
}

# The ThreadSanitizer tree: the receive engine's own tests (label "engine"),
# whose check stores mail on a second thread. Only those are built.
engine_tests=(reception_engine_tests reception_golden_record_tests)
thread_sanitized_engine() {
  local launcher=() started=$SECONDS
  if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
  CC=clang CXX=clang++ cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
    -DTOMOSHIBI_TSAN=ON -DTOMOSHIBI_TEST_KINDS="unit;e2e" "${launcher[@]}" >/dev/null
  # The tools that draw the shop's pictures at build time run Qt's thread
  # pool, whose uninstrumented internals ThreadSanitizer cannot follow: they
  # are not what this tree tests.
  TSAN_OPTIONS=report_bugs=0 cmake --build build-tsan --target "${engine_tests[@]}"
  TSAN_OPTIONS="halt_on_error=1:abort_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/sanitizers/tsan.supp" \
    ctest --test-dir build-tsan --output-on-failure -j "$(nproc)" -L engine
  echo "== thread sanitizer (engine): $(((SECONDS - started) / 60)) min"
}

# Every sanitizer report ends the program that made it, with a readable
# stack; leaks are reported too, but for the third-party libraries named in
# tests/sanitizers/lsan.supp.
sanitizer_env() {
  local supp=$PWD/tests/sanitizers
  export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1
  export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1:suppressions=$supp/ubsan.supp
  export LSAN_OPTIONS=suppressions=$supp/lsan.supp:print_suppressions=0
  export ASAN_SYMBOLIZER_PATH
  ASAN_SYMBOLIZER_PATH=$(command -v llvm-symbolizer || command -v llvm-symbolizer-14 || true)
}

# Runs every fuzz target of build-asan/ for $1 seconds, two at a time, from
# its seeds, its earlier finds and the corpus it grew in earlier runs here
# (build-asan/fuzz-corpus/). A finding ends the run with the input kept in
# build-asan/fuzz-findings/TARGET/: add it to
# tests/data/fuzz-regressions/TARGET/ and mend what it shows.
# With $2, libFuzzer's random choices start from that seed, so that a run
# from the same corpus tries the same inputs each time (and on a slower
# machine, the first part of them); without it, each run differs.
run_fuzzers() {
  local seconds=$1 seed=${2:-} list=build-asan/fuzz/targets.txt
  local scratch=${TMPDIR:-/tmp}
  # The targets write scratch files at every input: in memory where there is room.
  if [ -d /dev/shm ] && [ -w /dev/shm ]; then scratch=/dev/shm; fi
  mkdir -p build-asan/fuzz-logs
  local pids=() names=() failed=()
  wait_one() {
    local i=$1
    if ! wait "${pids[$i]}"; then failed+=("${names[$i]}"); fi
  }
  while IFS=$'\t' read -r name exe seeds dict maxlen regressions; do
    [ -n "$name" ] || continue
    local corpus=build-asan/fuzz-corpus/$name findings=build-asan/fuzz-findings/$name
    mkdir -p "$corpus" "$findings"
    local args=(-max_total_time="$seconds" -max_len="$maxlen" -timeout=25 -rss_limit_mb=2560
      -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "$seeds")
    [ "$dict" = - ] || args=(-dict="$dict" "${args[@]}")
    [ -d "$regressions" ] && args+=("$regressions")
    [ -z "$seed" ] || args=(-seed="$seed" "${args[@]}")
    echo "== fuzz $name (${seconds}s)"
    TMPDIR=$scratch "$exe" "${args[@]}" >"build-asan/fuzz-logs/$name.log" 2>&1 &
    pids+=($!)
    names+=("$name")
    if ((${#pids[@]} % 2 == 0)); then
      wait_one $((${#pids[@]} - 2))
      wait_one $((${#pids[@]} - 1))
    fi
  done <"$list"
  if ((${#pids[@]} % 2 == 1)); then wait_one $((${#pids[@]} - 1)); fi
  local name
  for name in "${names[@]}"; do
    local log=build-asan/fuzz-logs/$name.log
    printf '%-18s %s\n' "$name" "$(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?') executions"
  done
  if ((${#failed[@]})); then
    for name in "${failed[@]}"; do
      echo "== fuzz target $name found a fault (build-asan/fuzz-logs/$name.log):" >&2
      tail -n 40 "build-asan/fuzz-logs/$name.log" >&2
      ls build-asan/fuzz-findings/"$name"/ >&2
    done
    return 1
  fi
}

# The user's program folder: mail, settings and "pelkit.ini" live there,
# outside the build folder, so that removing build/ loses nothing.
program_folder() {
  local data=${XDG_DATA_HOME:-}
  # A relative XDG_DATA_HOME is to be ignored.
  case "$data" in /*) ;; *) data=$HOME/.local/share ;; esac
  echo "$data/tomoshibi"
}

# The tests of the kinds $1 ("unit;gui;e2e") under the sanitizers, then a
# short seeded fuzz run; a test that limits its own address space (label
# address-limit) cannot run there.
sanitized_suites() {
  local kinds=$1 started=$SECONDS
  configure_asan "$kinds"
  cmake --build build-asan
  echo "== sanitizer build: $(((SECONDS - started) / 60)) min"
  started=$SECONDS
  sanitizer_env
  ctest --test-dir build-asan --output-on-failure -j "$(nproc)" -L "${kinds//;/|}" -LE "address-limit|unsanitized"
  echo "== sanitizer tests (${kinds//;/, }): $(((SECONDS - started) / 60)) min"
  started=$SECONDS
  # Seeded: runs of one commit mostly try the same inputs (targets that
  # write files do not always take the same paths); new ground is for the
  # long runs by hand.
  run_fuzzers "${TOMOSHIBI_FUZZ_SECONDS:-30}" "${TOMOSHIBI_FUZZ_SEED:-1}"
  echo "== fuzz run: $(((SECONDS - started) / 60)) min; all: $((SECONDS / 60)) min"
}

case "$what" in
  build)
    install_missing "${build_packages[@]}"
    configure
    cmake --build build --target tomoshibi
    ;;
  test)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    configure ON
    cmake --build build
    ctest --test-dir build --output-on-failure -j "$(nproc)"
    echo "== plain build and tests: $((SECONDS / 60)) min"
    # Then the unit and end-to-end tests again under the sanitizers, and
    # every fuzz target briefly. The window tests run in the plain tree
    # only, which keeps the whole well inside CI's 90 minutes on two cores
    # (docs/fuzzing.md has the figures); ./build.sh sanitize runs them
    # sanitized as well. TOMOSHIBI_SANITIZE_TESTS=0 leaves the sanitized
    # run out.
    if [ "${TOMOSHIBI_SANITIZE_TESTS:-1}" != 0 ]; then
      thread_sanitized_engine
      sanitized_suites "${TOMOSHIBI_SANITIZE_KINDS:-unit;e2e}"
    fi
    ;;
  tsan)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    thread_sanitized_engine
    ;;
  sanitize)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    sanitized_suites "${TOMOSHIBI_SANITIZE_KINDS:-unit;gui;e2e}"
    ;;
  fuzz)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    configure_asan "${TOMOSHIBI_SANITIZE_KINDS:-unit;gui;e2e}"
    cmake --build build-asan --target tomoshibi_fuzzers
    sanitizer_env
    run_fuzzers "${2:-600}"
    ;;
  package)
    install_missing "${build_packages[@]}" "${package_packages[@]}"
    configure OFF
    cmake --build build
    (cd build && cpack -G DEB)
    ls build/tomoshibi_*.deb
    ;;
  bench)
    install_missing "${build_packages[@]}" "${test_packages[@]}" "${bench_packages[@]}"
    configure ON
    cmake --build build
    # The targets first, side by side with their peers in one run; then
    # every other benchmark there is, the window ones on no display.
    for bench in build/bench/bench_targets build/bench/bench_*; do
      [ -x "$bench" ] || continue
      [ "$bench" != build/bench/bench_targets ] || [ -z "${done_targets:-}" ] || continue
      done_targets=1
      echo "== ${bench##*/}"
      QT_QPA_PLATFORM=offscreen "$bench"
    done
    ;;
  start)
    install_missing "${build_packages[@]}" "${start_packages[@]}"
    configure OFF
    cmake --build build --target tomoshibi
    exe=$PWD/build/app/tomoshibi
    home=$(program_folder)
    if [ ! -d "$home" ]; then
      "$exe" --init-home "$home"
    fi
    # pelkit.ini is read from the current directory: the program folder.
    cd "$home"
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
      exec "$exe" --home "$home"
    fi
    echo "No display found: starting 灯火亭 on a virtual display (xvfb-run)."
    echo "To see it, run ./build.sh start from a desktop session, or forward X (ssh -X)."
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$exe" --home "$home"
    ;;
  *)
    echo "usage: $0 start|test|sanitize|tsan|fuzz [SECONDS]|bench|build|package" >&2
    exit 2
    ;;
esac
