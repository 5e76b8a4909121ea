#!/usr/bin/env bash
# The Debian package as a user gets it: built with CPack, unpacked into a
# scratch root (dpkg -x), checked by the desktop's validators, and started
# from there as the desktop entry starts it, on a virtual display.
# usage: package_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$(dirname "$0")/../.." && pwd)
# Window names are matched as UTF-8.
export LC_ALL=C.UTF-8

if [ "${2:-}" != --on-display ]; then
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  export SCRATCH=$scratch
  # The tests' own build carries the test hooks; the package is built as
  # ./build.sh package builds it, without them, in a build folder of its own
  # that is kept for the next run (only what changed is built again).
  package_build=$build/package-build
  launcher=$(sed -n 's/^CMAKE_CXX_COMPILER_LAUNCHER:[A-Z]*=//p' "$build/CMakeCache.txt")
  {
    cmake -S "$source" -B "$package_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
      ${launcher:+-DCMAKE_CXX_COMPILER_LAUNCHER="$launcher"} &&
      cmake --build "$package_build" &&
      (cd "$package_build" && cpack -G DEB -B "$scratch/pkg")
  } >"$scratch/cpack.log" 2>&1 || {
    cat "$scratch/cpack.log"
    exit 1
  }
  xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build" --on-display
  exit 0
fi

scratch=$SCRATCH
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
debs=("$scratch"/pkg/tomoshibi_*.deb)
[ -f "${debs[0]}" ] || fail "no package was built"
deb=${debs[0]}
echo "package: ${deb##*/} ($(stat -c %s "$deb") bytes)"

# The libraries come from dpkg-shlibdeps; what is only loaded at run time is listed.
depends=$(dpkg-deb -f "$deb" Depends)
for need in libqt6widgets6 libgmime-3.0-0 libcurl4 libfluidsynth3 libqt6keychain1 libsecret-1-0 fonts-ipafont-gothic \
  adwaita-icon-theme timgm6mb-soundfont qt6-qpa-plugins; do
  [[ $depends == *"$need"* ]] || fail "Depends lacks $need: $depends"
done

root=$scratch/root
dpkg -x "$deb" "$root"
bin=$root/usr/bin
for f in tomoshibi tomoshibi-headless tomoshibi-main; do
  [ -x "$bin/$f" ] || fail "usr/bin/$f is missing"
  # Nothing may point back into the build tree.
  if readelf -d "$bin/$f" | grep -E 'RPATH|RUNPATH'; then fail "$f carries a library path"; fi
  if grep -qF "$build" "$bin/$f"; then fail "$f names the build folder"; fi
  # The places where tests reach into the program (platform/TestHooks.h)
  # are not in what a user installs: neither a hook's name nor the kill
  # harness's environment variables.
  if strings -a "$bin/$f" | grep -E 'TOMOSHIBI_TEST_|testhooks|g_pop3LinkFactory|g_rewriteHook|g_deleteStepHook|g_replaceHook|s_afterWrite'; then
    fail "$f holds test hooks"
  fi
done
for f in usr/share/applications/tomoshibi.desktop usr/share/icons/hicolor/scalable/apps/tomoshibi.svg \
  usr/share/metainfo/tomoshibi.metainfo.xml usr/share/tomoshibi/顔文字データ/Kao1.txt \
  usr/share/tomoshibi/IMEPAd/IME.htm usr/share/tomoshibi/Sound/Kouka.mid \
  usr/lib/systemd/user/tomoshibi-check.timer usr/lib/systemd/user/tomoshibi-check.service; do
  [ -f "$root/$f" ] || fail "$f is missing"
done
# The starter content holds no mail, no settings and no program.
[ -z "$(find "$root/usr/share/tomoshibi" -type f \( -iname '*.data' -o -iname '*.ini' -o -name 'tomoshibi*' \))" ] ||
  fail "share/tomoshibi holds more than starter content"

desktop-file-validate "$root/usr/share/applications/tomoshibi.desktop"
appstream-util validate-relax --nonet "$root/usr/share/metainfo/tomoshibi.metainfo.xml"

# A user's environment: nothing of the build, a private runtime folder.
home=$scratch/home
runtime=$scratch/run
mkdir -p "$home" "$runtime"
chmod 700 "$runtime"
run() { env -i HOME="$home" PATH="$bin:/usr/bin:/bin" DISPLAY="$DISPLAY" XAUTHORITY="${XAUTHORITY:-}" \
  XDG_RUNTIME_DIR="$runtime" LANG=C.UTF-8 "$@"; }

version=$(cd / && run tomoshibi --version)
[[ $version == *灯火亭* ]] || fail "--version said: $version"

fresh=$scratch/fresh
(cd / && run tomoshibi --init-home "$fresh") || fail "--init-home failed"
diff -r "$root/usr/share/tomoshibi" "$fresh" >/dev/null || fail "--init-home differs from the starter content"

# The scheduled check: both units verify (the bare "tomoshibi" of the
# service is looked up on the system's path, so it is pointed at the
# unpacked program here), every 10 minutes.
units=$scratch/units
mkdir -p "$units"
cp "$root"/usr/lib/systemd/user/tomoshibi-check.* "$units/"
sed -i "s|^ExecStart=tomoshibi |ExecStart=$bin/tomoshibi |" "$units/tomoshibi-check.service"
if command -v systemd-analyze >/dev/null; then
  (cd "$units" && XDG_RUNTIME_DIR=$runtime systemd-analyze --user verify ./tomoshibi-check.timer ./tomoshibi-check.service) ||
    fail "systemd-analyze verify"
  calendar=$(sed -n 's/^OnCalendar=//p' "$units/tomoshibi-check.timer")
  times=$(systemd-analyze calendar --iterations=3 "$calendar" | sed -n 's/.*Next elapse: [A-Za-z]* //p;s/.*Iter. #[0-9]*: [A-Za-z]* //p')
  first=$(date -d "$(sed -n 1p <<<"$times" | cut -d' ' -f1,2)" +%s)
  second=$(date -d "$(sed -n 2p <<<"$times" | cut -d' ' -f1,2)" +%s)
  [ $((second - first)) = 600 ] || fail "the timer runs every $((second - first)) s: $times"
else
  echo "systemd-analyze is not installed: the units are not verified"
fi
# The service's own command, while another check holds the lock: it ends
# with 75 and leaves the program folder exactly as it was.
xdg=$scratch/xdg
(cd / && run tomoshibi --init-home "$xdg/tomoshibi") >/dev/null
: >"$xdg/tomoshibi/★MAilData/plkdata2.data"  # as any earlier check leaves it
printf 'SMTP=127.0.0.1\r\nPOP3=127.0.0.1\r\n''MAIL=me@example.jp\r\nAPOP=0\r\n' >"$xdg/tomoshibi/pelkit.ini"
snapshot() { (cd "$xdg/tomoshibi" && find . -printf '%p %s %T@ %m\n' | sort && find . -type f -exec sha1sum {} + | sort); }
service_exec=$(sed -n 's/^ExecStart=//p' "$root/usr/lib/systemd/user/tomoshibi-check.service")
read -r -a service_words <<<"$service_exec"
# This shell holds the lock, as a running check does.
exec 9>>"$xdg/tomoshibi/★MAilData/receive.lock"
flock -n 9 || fail "the lock is taken already"
before=$(snapshot)
set +e
(cd / && env -i HOME="$home" PATH="$bin:/usr/bin:/bin" XDG_DATA_HOME="$xdg" LANG=C.UTF-8 "${service_words[@]}") \
  9>&- 2>"$scratch/check.err"
rc=$?
set -e
exec 9>&-
[ $rc = 75 ] || { cat "$scratch/check.err"; fail "a check beside another ended with $rc"; }
grep -q 別のメール受信を実行中です "$scratch/check.err" || fail "the busy check did not say why"
[ "$before" = "$(snapshot)" ] || fail "the busy check changed the program folder"

# The desktop entry's Exec line, with a link for %u, run from /.
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/tomoshibi.desktop")
link='mailto:someone@example.jp?cc=boss@example.jp&subject=%E3%81%8A%E7%9F%A5%E3%82%89%E3%81%9B&body=%E2%91%A0'
read -r -a words <<<"${exec_line//%u/$link}"
started=$(date +%s%N)
(cd / && run "${words[@]}" >"$scratch/main.log" 2>&1) &
main=$!
program=
trap 'kill $main $program 2>/dev/null || true; wait 2>/dev/null || true' EXIT
compose=
for _ in $(seq 100); do
  compose=$(xdotool search --name '^新規作成$' 2>/dev/null || true)
  [ -n "$compose" ] && break
  kill -0 $main 2>/dev/null || { cat "$scratch/main.log"; fail "the program ended"; }
  sleep 0.2
done
[ -n "$compose" ] || { cat "$scratch/main.log"; fail "no compose window opened"; }
echo "first start to the compose window: about $((($(date +%s%N) - started) / 1000000)) ms"
folder=$home/.local/share/tomoshibi
[ -d "$folder/★MAilData" ] || fail "the program folder $folder was not laid out"
[ "$(stat -c %a "$folder")" = 700 ] || fail "the program folder is readable by others"
# pelkit.ini is read from the current directory: the program folder.
program=$(xdotool getwindowpid "$compose")
[ "$(readlink /proc/$program/cwd)" = "$folder" ] || fail "the program runs in $(readlink /proc/$program/cwd)"

# A second start from the menu hands over to the running program and ends.
started=$(date +%s%N)
read -r -a words <<<"${exec_line//%u/}"
(cd / && run "${words[@]}") || fail "the second start failed"
echo "second start handed over in $((($(date +%s%N) - started) / 1000000)) ms"
kill -0 $main || fail "the first program ended"
# Another link goes to the running program too: as a mail is being written
# there, it asks before it replaces it.
read -r -a words <<<"${exec_line//%u/mailto:other@example.jp}"
(cd / && run "${words[@]}") || fail "the start with a second link failed"
asked=
for _ in $(seq 50); do
  asked=$(xdotool search --name '^確認$' 2>/dev/null || true)
  [ -n "$asked" ] && break
  sleep 0.2
done
[ -n "$asked" ] || fail "the running program did not take the second link"
[ "$(xdotool getwindowpid "$asked")" = "$program" ] || fail "another program asked"
mains=$(xdotool search --onlyvisible --name '^灯火亭　Ver' | wc -l)
[ "$mains" = 1 ] || fail "$mains main windows are shown"
echo "ok"
