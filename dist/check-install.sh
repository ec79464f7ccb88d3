#!/bin/sh
# check-install.sh BUILD APP_ID - installs the build folder BUILD into a
# temporary DESTDIR and checks the result: every file in its place, the
# desktop entry and the AppStream metadata valid, the icons of their sizes,
# and the installed programs running from there.
set -eu
build=$1
id=$2
root=$(mktemp -d "${TMPDIR:-/tmp}/qvar-install-XXXXXX")
trap 'rm -rf "$root"' EXIT INT TERM
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
p=$root/usr

fail() { echo "check-install: $*" >&2; exit 1; }

for f in bin/qvar-scope bin/qvar-cli bin/qvar-sim \
         share/qvar-scope/QVARRDX3V20.uir share/qvar-scope/logo_brand2.bmp \
         share/qvar-scope/logo_brand3.bmp share/qvar-scope/logo_brand4.bmp \
         share/qvar-scope/logo_brand6.bmp \
         share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
         share/icons/hicolor/scalable/apps/$id.svg \
         share/icons/hicolor/48x48/apps/$id.png share/icons/hicolor/256x256/apps/$id.png \
         share/man/man1/qvar-scope.1 share/man/man1/qvar-cli.1 share/man/man1/qvar-sim.1; do
    [ -f "$p/$f" ] || fail "missing $f"
done

# A PNG's width and height are the big-endian words at bytes 16 and 20.
for size in 48 256; do
    dims=$(od -An --endian=big -tu4 -j16 -N8 "$p/share/icons/hicolor/${size}x$size/apps/$id.png" | tr -s ' ')
    [ "$dims" = " $size $size" ] || fail "${size} px icon is$dims"
done

if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$p/share/applications/$id.desktop" || fail "desktop entry not valid"
else
    echo "check-install: desktop-file-validate missing (make deps installs it)" >&2
    exit 1
fi
appstreamcli validate --no-net "$p/share/metainfo/$id.metainfo.xml" >/dev/null ||
    fail "AppStream metadata not valid"
if command -v man >/dev/null; then
    for page in qvar-scope qvar-cli qvar-sim; do
        warnings=$(LC_ALL=C MANWIDTH=80 man --warnings -l "$p/share/man/man1/$page.1" 2>&1 >/dev/null || true)
        [ -z "$warnings" ] || fail "$page.1: $warnings"
    done
else
    echo "check-install: no man program here, manual pages not formatted" >&2
fi

"$p/bin/qvar-scope" --version | grep -qx "qvar-scope [0-9.]*" || fail "qvar-scope --version"
"$p/bin/qvar-scope" --help | grep -q "^Usage: qvar-scope" || fail "qvar-scope --help"

# The installed qvar-cli, without a display, on the built-in simulated
# controller (whatever number it has on this machine), away from the build.
cd "$root"
export XDG_CONFIG_HOME="$root/config"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
sim=$("$p/bin/qvar-cli" ports | awk -F'\t' '$2 == "-" { print $1 }')
[ -n "$sim" ] || fail "qvar-cli ports lists no simulated controller"
"$p/bin/qvar-cli" info -q --port "$sim" | grep -q "FW" || fail "installed qvar-cli info"

# The installed tool finds its resource file in share/qvar-scope, comes up on
# the simulated controller and closes with 0 when the session ends it (a
# failed start-up exits at once with 255). Without the resource file it ends
# with -1 (255), naming the folders it searched.
export HOME="$root/home"
mkdir -p "$HOME"
rc=0
QT_QPA_PLATFORM=offscreen timeout --preserve-status -s TERM 3 "$p/bin/qvar-scope" \
    </dev/null >/dev/null 2>"$root/err.txt" || rc=$?
[ "$rc" = 0 ] || fail "installed qvar-scope: exit $rc: $(cat "$root/err.txt")"
rm "$p/share/qvar-scope/QVARRDX3V20.uir"
rc=0
QT_QPA_PLATFORM=offscreen timeout 20 "$p/bin/qvar-scope" </dev/null >/dev/null 2>"$root/err.txt" || rc=$?
[ "$rc" = 255 ] || fail "qvar-scope without its resource file: exit $rc"
grep -q "$p/bin" "$root/err.txt" && grep -q "$p/share/qvar-scope" "$root/err.txt" ||
    fail "the message does not name the folders searched: $(cat "$root/err.txt")"
echo "check-install: ok"
