#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian, installs it with
# apt-get, validates the installed menu entry, AppStream data and manual
# page, records two seconds as an ordinary user whose home has no settings
# file, and removes the package again.
#   package_install_test.sh <source-folder> <build-folder>
set -uo pipefail
src=$1
build=$2
user=fvpackagetest

fail() { echo "FAIL: $*"; exit 1; }
step() { echo "== [${SECONDS}s] $*"; }

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: installing a package needs root"
  exit 77
fi
if [ "$(dpkg-query -W -f='${db:Status-Status}' frelvanta 2>/dev/null)" = installed ]; then
  echo "SKIP: a frelvanta package is installed already; this test would replace and remove it"
  echo "      (remove it with: apt-get remove frelvanta)"
  exit 77
fi
[ -n "${DISPLAY:-}" ] && pactl info >/dev/null 2>&1 || fail "needs a display and a sound server (run under scripts/test-env.sh)"

work=$(mktemp -d)
chmod 755 "$work"
installed=0
created_user=0
pulse_module=""
cleanup() {
  [ -n "$pulse_module" ] && pactl unload-module "$pulse_module" 2>/dev/null
  if [ "$installed" = 1 ]; then
    apt-get remove -y -qq -o DPkg::Lock::Timeout=300 frelvanta >/dev/null 2>&1 || echo "cleanup: could not remove the package"
  fi
  if [ "$created_user" = 1 ]; then userdel "$user" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT

step "building the package"
deb=$("$src/scripts/package.sh" "$build" 2>"$work/package.log" | tail -n 1) || { cat "$work/package.log"; fail "scripts/package.sh failed"; }
[ -f "$deb" ] || fail "no package was built"
version=$(dpkg-deb -f "$deb" Version)
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes, version $version"
dpkg-deb -f "$deb" Depends

step "lintian"
lintian_output=$(lintian --fail-on error "$deb" 2>&1)
lintian_code=$?
grep -v "running with root privileges" <<<"$lintian_output"
[ "$lintian_code" -eq 0 ] || fail "lintian reports errors"

step "apt-get install ./$(basename "$deb")"
(cd "$(dirname "$deb")" && apt-get install -y -qq -o DPkg::Lock::Timeout=300 "./$(basename "$deb")") >"$work/apt.log" 2>&1 \
  || { cat "$work/apt.log"; fail "apt-get install failed"; }
installed=1
[ -x /usr/bin/frelvanta ] || fail "/usr/bin/frelvanta is missing"

step "installed files"
desktop=/usr/share/applications/org.frelvanta.Frelvanta.desktop
metainfo=/usr/share/metainfo/org.frelvanta.Frelvanta.metainfo.xml
manpage=/usr/share/man/man1/frelvanta.1.gz
for f in "$desktop" "$metainfo" "$manpage" /usr/share/icons/hicolor/scalable/apps/frelvanta.svg \
         /usr/share/icons/hicolor/48x48/apps/frelvanta.png /usr/share/doc/frelvanta/README.md; do
  [ -f "$f" ] || fail "$f is missing"
done
desktop-file-validate "$desktop" || fail "desktop-file-validate: $desktop"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate: $metainfo"
man_warnings=$(MANWIDTH=80 man --warnings -l "$manpage" 2>&1 >"$work/man.txt")
[ -z "$man_warnings" ] || fail "the manual page has warnings: $man_warnings"
for section in SYNOPSIS OPTIONS "EXIT STATUS" FILES ENVIRONMENT; do
  grep -q "^$section" "$work/man.txt" || fail "the rendered manual page has no $section section"
done
# The release lists are kept by hand: their newest entries must be this version.
newest_release=$(grep -o '<release version="[^"]*"' "$metainfo" | head -n 1 | cut -d'"' -f2)
[ "$newest_release" = "$version" ] || fail "newest AppStream release is $newest_release, the package is $version"
newest_changelog=$(zcat /usr/share/doc/frelvanta/changelog.gz | head -n 1 | sed -n 's/^frelvanta (\([^)]*\)).*/\1/p')
[ "$newest_changelog" = "$version" ] || fail "newest changelog entry is $newest_changelog, the package is $version"

step "a recording as an ordinary user"
if ! id -u "$user" >/dev/null 2>&1; then
  useradd --system --no-create-home --shell /usr/sbin/nologin "$user" || fail "useradd $user"
  created_user=1
fi
home="$work/home"
mkdir -p "$home" "$work/pulse"
chown "$user" "$home"
# The test's sound server belongs to root; a second socket without the
# cookie check lets the other user in for this test only.
pulse_module=$(pactl load-module module-native-protocol-unix auth-anonymous=1 socket="$work/pulse/native") \
  || fail "could not open a sound server socket for $user"
beside_before=$(ls -A /usr/bin | grep -ci frelvanta)
as_user() {
  runuser -u "$user" -- env -i HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_STATE_HOME="$home/state" \
    XDG_RUNTIME_DIR="$home/run" DISPLAY="$DISPLAY" PULSE_SERVER="unix:$work/pulse/native" PATH=/usr/bin:/bin "$@"
}
as_user mkdir -m 700 "$home/run"
out="$home/clip.mp4"
as_user timeout 60 /usr/bin/frelvanta --mode monitor --duration 2 --output "$out" --audio on --mic off
code=$?
echo "frelvanta exited with $code"
[ "$code" -eq 0 ] || fail "the recording did not finish cleanly (exit code $code)"
[ -s "$out" ] || fail "no recording at $out"
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$out")
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$out")
audio=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of csv=p=0 "$out")
echo "recorded: $(stat -c %s "$out") bytes, ${duration} s, ${frames} video frames, audio ${audio:-none}"
[ "${frames:-0}" -gt 0 ] || fail "the recording holds no video frames"
awk -v d="$duration" 'BEGIN { exit !(d >= 1.5 && d <= 4) }' || fail "the recording lasts $duration s, not about 2"
[ "$audio" = aac ] || fail "the recording has no AAC sound track"

ini="$home/config/frelvanta/frelvanta.ini"
[ -f "$ini" ] || fail "no settings file at \$XDG_CONFIG_HOME/frelvanta/frelvanta.ini"
[ "$(stat -c %U "$ini")" = "$user" ] || fail "the settings file does not belong to $user"
# The command line's duration applies to that run only.
grep -q '^EnableLimitLength=0' "$ini" && grep -q '^LimitLength=60' "$ini" \
  || fail "the settings file holds the command line's values: $(tr -d '\r' <"$ini" | grep Limit)"
echo "settings file: ${ini#"$home"/} ($(grep -c = "$ini") keys)"

# With diagnostics on, the run trace goes to the state folder.
sed -i 's/^WriteDiagnostics=0/WriteDiagnostics=1/' "$ini"
as_user timeout 60 /usr/bin/frelvanta --mode monitor --duration 1 --output "$home/second.mp4" --audio off --mic off
code=$?
[ "$code" -eq 0 ] || fail "the second recording did not finish cleanly (exit code $code)"
trace="$home/state/frelvanta/frelvanta-runtrace.txt"
grep -q "config.values" "$trace" 2>/dev/null || fail "no run trace at \$XDG_STATE_HOME/frelvanta/frelvanta-runtrace.txt"
echo "run trace: ${trace#"$home"/} ($(wc -l <"$trace") lines)"
beside_after=$(ls -A /usr/bin | grep -ci frelvanta)
[ "$beside_after" -eq "$beside_before" ] && [ "$beside_after" -eq 1 ] \
  || fail "files were written beside the binary: $(ls -A /usr/bin | grep -i frelvanta | tr '\n' ' ')"

step "apt-get remove frelvanta"
apt-get remove -y -qq -o DPkg::Lock::Timeout=300 frelvanta >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get remove failed"; }
installed=0
[ ! -e /usr/bin/frelvanta ] || fail "/usr/bin/frelvanta is still there after removal"
[ ! -e "$desktop" ] || fail "the menu entry is still there after removal"
