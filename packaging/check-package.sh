#!/usr/bin/env bash
# Checks the Debian package as a user meets it: lintian finds nothing to warn about, apt would
# install it on a fresh system, and unpacked into a temporary root its program answers --version, --help
# and a wrong argument, its window starts and stops cleanly, and the desktop entry, icon,
# AppStream data and manual page it ships point at it and are valid.
#
#   packaging/check-package.sh path/to/velmora_<version>_amd64.deb
set -euo pipefail
deb=$(realpath "$1")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

fail() {
  echo "check-package: $*" >&2
  exit 1
}

echo "== lintian $(basename "$deb")"
status=0
report=$(lintian --fail-on error,warning --display-info "$deb" 2>&1) || status=$?
report=$(grep -v '^running with root privileges' <<<"$report" || true)
[ -n "$report" ] && echo "$report"
[ "$status" -eq 0 ] || fail "lintian reports errors or warnings (exit $status)"
echo "lintian: no error, no warning, no information tag"

echo "== control fields"
dpkg-deb --field "$deb" Package Version Architecture Depends
version=$(dpkg-deb --field "$deb" Version)
# Not found by the library scan: the desktop's opener for the viewer, Qt's Russian texts.
dpkg-deb --field "$deb" Depends | tr ',' '\n' | grep -qx ' *xdg-utils\( (.*)\)\? *' ||
  fail "Depends lacks xdg-utils (the viewer used when none is chosen)"
dpkg-deb --field "$deb" Recommends | tr ',' '\n' | grep -qx ' *qt6-translations-l10n\( (.*)\)\? *' ||
  fail "Recommends lacks qt6-translations-l10n (dialogs and menus would be English)"
[ "$(basename "$deb")" = "velmora_${version}_amd64.deb" ] || fail "file name does not follow the version $version"

echo "== apt, simulated on a system with no packages at all, as a fresh Debian would be"
# An empty package status makes apt resolve every dependency from the archive. Without package
# lists (apt-get update never ran) that is impossible; then this system's packages stand in.
status_file="$root/empty-status"
: >"$status_file"
if [ -z "$(apt-cache -o Dir::State::status="$status_file" policy libqt6widgets6 2>/dev/null | sed -n 's/^ *Candidate: //p' | grep -v none)" ]; then
  echo "no package lists here: simulating against the installed packages instead"
  status_file=/var/lib/dpkg/status
fi
plan=$(apt-get -o Dir::State::status="$status_file" install --simulate --no-install-recommends "$deb" 2>&1) ||
  fail "apt-get cannot install it: $plan"
grep -Eq '^Inst velmora |velmora is already the newest version' <<<"$plan" || fail "apt-get would not install it: $plan"
echo "apt-get would install velmora $version with $(grep -c '^Inst ' <<<"$plan") packages in all"

echo "== unpacked into a temporary root"
dpkg-deb -x "$deb" "$root"
program="$root/usr/bin/velmora"
share="$root/usr/share"

# The hardening flags Debian 12's dpkg-buildflags lacks. The program cannot carry the ELF
# control-flow marks (Debian 12's C start files have none), so the code itself is looked at:
# -fcf-protection puts an endbr64 at the entry of nearly every function (a build without it has
# one or two in all), -fstack-clash-protection probes each page of a large stack frame (the
# file send's 64 KiB read buffer has one).
code=$(objdump -d --no-show-raw-insn "$program")
entries=$(grep -c $'\tendbr64' <<<"$code" || true)
returns=$(grep -c $'\tret' <<<"$code" || true)
probes=$(grep -c $'\tor[q]* *\$0x0,(%rsp)' <<<"$code" || true)
[ "$entries" -ge $((returns / 2)) ] || fail "built without -fcf-protection ($entries endbr64 for $returns returns)"
[ "$probes" -ge 1 ] || fail "built without -fstack-clash-protection (no stack probe)"
echo "hardening: $entries branch-target marks for $returns returns, $probes stack-clash probes"

[ "$(env -u DISPLAY -u WAYLAND_DISPLAY "$program" --version)" = "velmora $version" ] ||
  fail "--version does not print velmora $version"
"$program" --help | grep -q '^Usage: velmora' || fail "--help prints no usage line"
status=0
refusal=$("$program" --no-such-option 2>&1 >/dev/null) || status=$?
[ "$status" -eq 2 ] && [ "$(wc -l <<<"$refusal")" -eq 1 ] || fail "a wrong argument gives exit $status and: $refusal"
echo "velmora --version, --help and a refused argument behave"

desktop="$share/applications/velmora.desktop"
desktop-file-validate "$desktop" || fail "desktop entry invalid"
command=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
found=$(PATH="$root/usr/bin" command -v "$command") || fail "Exec=$command is not in the package's bin folder"
[ "$found" = "$program" ] || fail "Exec=$command finds $found"
icon=$(sed -n 's/^Icon=//p' "$desktop")
for file in scalable/apps/$icon.svg 48x48/apps/$icon.png 256x256/apps/$icon.png; do
  [ -s "$share/icons/hicolor/$file" ] || fail "no icon $file"
done
[ "$(identify -format '%wx%h' "$share/icons/hicolor/48x48/apps/$icon.png")" = 48x48 ] || fail "48x48 icon has another size"
echo "desktop entry: Exec=$command is $found, Icon=$icon installed"

metainfo=$(ls "$share"/metainfo/*.metainfo.xml)
appstreamcli validate --no-net "$metainfo" || fail "AppStream data invalid"
grep -q '<launchable type="desktop-id">velmora.desktop</launchable>' "$metainfo" || fail "metainfo launches another entry"
grep -q "<release version=\"$version\"" "$metainfo" || fail "metainfo names another release than $version"

warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$share/man/man1/velmora.1.gz" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "manual page: $warnings"
echo "manual page formats without warnings"

echo "== the window, started by the desktop entry's command on a virtual display"
config="$root/config"
mkdir -p "$config/Velmora"
printf '[ComPort1]\nPort=LOOPBACK\n' >"$config/Velmora/ZORVA.INI"
# Inside the display: start, wait for the main window, read its icon, stop it with SIGTERM.
inner=$(cat <<'INNER'
set -euo pipefail
"$COMMAND" &
app=$!
id=""
for _ in $(seq 1 100); do
  id=$(xdotool search --onlyvisible --pid "$app" --name Velmora 2>/dev/null | head -1) && [ -n "$id" ] && break
  sleep 0.1
done
[ -n "$id" ] || { echo "no window appeared" >&2; exit 1; }
# _NET_WM_ICON holds width, height, pixels for each size: list the sizes.
xprop -len 4000000 -id "$id" -notype 32c _NET_WM_ICON | tr -d ',' |
  awk '{ for (i = 3; i <= NF; ) { w = $i; h = $(i + 1); printf "%s%dx%d", sep, w, h; sep = " "; i += 2 + w * h } } END { print "" }'
kill -TERM "$app"
timeout 10 tail --pid="$app" -f /dev/null
wait "$app"
INNER
)
status=0
icons=$(PATH="$root/usr/bin:$PATH" XDG_CONFIG_HOME="$config" COMMAND="$command" \
  timeout --kill-after=5 60 xvfb-run -a -s "-screen 0 1280x800x24" bash -c "$inner" 2>"$root/window.log") ||
  status=$?
[ "$status" -eq 0 ] || fail "the window did not start and close cleanly (exit $status): $(cat "$root/window.log")"
grep -qw 16x16 <<<"$icons" && grep -qw 256x256 <<<"$icons" || fail "the window's icon sizes are: '$icons'"
echo "velmora started from its desktop entry's command, its window carries the icon ($icons), SIGTERM closed it with exit 0"

echo "check-package: all checks passed"
