#!/usr/bin/env bash
# fresh-test.sh - the README's two commands on a bare Debian 12, as a new
# user's machine has it, and the package on a second bare machine.
#
#   dist/fresh-test.sh          (make fresh-test; as root, from the project)
#
# 1. A minbase Debian 12 root (mmdebstrap, the archive this machine's apt
#    uses) gets make and a clone of the committed HEAD, not the work tree;
#    `make test` and then `make deb` run there, with this machine's /proc,
#    /sys, /dev and /dev/pts.
# 2. A second, untouched minbase root installs that package with apt (no
#    recommended packages, so the package's own dependencies must suffice)
#    and starts its programs: qvar-scope --version, qvar-cli info on the
#    built-in simulated controller, qvar-scope offscreen for 3 s and, where
#    this machine has Xvfb, on a real X server for 3 s.
#
# Everything goes to one log; a failure names its step and the log. The roots
# live in $FRESH_DIR (default /tmp/qvar-fresh-test) and are removed at the end
# unless FRESH_KEEP=1.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
work=${FRESH_DIR:-/tmp/qvar-fresh-test}
log=$work.log
base=$work/base root1=$work/build-root root2=$work/install-root
xvfb_pid=""

say() { echo "fresh-test: $*"; }
fail() {
    say "FAILED at: $1"
    [ -s "$log" ] && { echo "---- last lines of $log"; tail -n 25 "$log"; echo "----"; }
    [ -s "$log" ] && say "whole log: $log"
    exit 1
}
unmount() {
    local m
    for m in tmp/.X11-unix dev/pts dev sys proc; do
        mountpoint -q "$1/$m" 2>/dev/null && umount -l "$1/$m"
    done
    return 0
}
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    unmount "$root1"; unmount "$root2"
    [ "${FRESH_KEEP:-0}" = 1 ] || rm -rf "$work"
}
trap cleanup EXIT

# Runs a command as root inside a root, with a clean environment.
in_root() {
    local root=$1; shift
    chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
        ${DISPLAY_IN_ROOT:+DISPLAY=$DISPLAY_IN_ROOT} bash -c "$*"
}
mount_host() {
    mount -t proc proc "$1/proc" && mount --rbind /sys "$1/sys" && mount --rbind /dev "$1/dev" &&
        { mountpoint -q "$1/dev/pts" || mount -t devpts devpts "$1/dev/pts"; } &&
        cp /etc/resolv.conf "$1/etc/resolv.conf"
}

[ "$(id -u)" = 0 ] || fail "checking for root: a bare root needs mmdebstrap, chroot and mounts; run as root"
mkdir -p "$(dirname "$log")" && : >"$log" || fail "writing the log $log"
say "log: $log"
apt-get update -qq --error-on=any >>"$log" 2>&1 ||
    fail "reaching the package archive (apt-get update); the test needs the Debian archive"
command -v mmdebstrap >/dev/null ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends mmdebstrap >>"$log" 2>&1 ||
    fail "installing mmdebstrap"

rm -rf "$work" && mkdir -p "$work"
mirror=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null)
say "making a bare Debian 12 root"
mmdebstrap --variant=minbase bookworm "$base" ${mirror:+"$mirror"} >>"$log" 2>&1 ||
    fail "mmdebstrap (a bare Debian 12 root)"
[ -f /etc/apt/sources.list.d/debian.sources ] &&
    cp /etc/apt/sources.list.d/debian.sources "$base/etc/apt/sources.list.d/" && rm -f "$base/etc/apt/sources.list"
cp -a "$base" "$root2" && mv "$base" "$root1" || fail "copying the bare root"

start=$SECONDS
say "make test and make deb on the bare root"
git clone -q "$top" "$root1/project" >>"$log" 2>&1 || fail "cloning HEAD into the bare root"
mount_host "$root1" || fail "mounting /proc, /sys and /dev in the bare root"
in_root "$root1" "DEBIAN_FRONTEND=noninteractive apt-get update -qq && apt-get install -y -qq --no-install-recommends make" \
    >>"$log" 2>&1 || fail "installing make in the bare root"
in_root "$root1" "cd /project && make test" >>"$log" 2>&1 || fail "make test on the bare root"
tail -n 3 "$log" | sed 's/^/    /'
in_root "$root1" "cd /project && make deb" >>"$log" 2>&1 || fail "make deb on the bare root"
say "make test and make deb passed in $((SECONDS - start)) s"
unmount "$root1"

deb=$(cd "$root1/project" && ls qvar-scope_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "finding the package make deb wrote"
cp "$root1/project/$deb" "$root2/tmp/" || fail "copying $deb to the second root"
rm -rf "$root1"

say "installing $deb on a second bare root"
mount_host "$root2" || fail "mounting /proc, /sys and /dev in the second root"
in_root "$root2" "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends /tmp/$deb" \
    >>"$log" 2>&1 || fail "apt-get install ./$deb"

in_root "$root2" "qvar-scope --version" >>"$log" 2>&1 || fail "qvar-scope --version"
# The built-in simulated controller is the last port the tool numbers.
sim=$(in_root "$root2" "qvar-cli ports" 2>>"$log" | awk '/simulated/ { n = $1 } END { print n }')
[ -n "$sim" ] || fail "qvar-cli ports (no simulated controller listed)"
in_root "$root2" "qvar-cli info -q --port $sim" >"$work/info" 2>>"$log" ||
    fail "qvar-cli info --port $sim (exit $?)"
grep -q '[[:alnum:]]' "$work/info" || fail "qvar-cli info --port $sim printed no firmware text"
say "qvar-cli info: $(head -n 1 "$work/info")"

# Started in the background, the program must still be running after 3 s.
runs_3s() {
    in_root "$root2" "$1 qvar-scope & p=\$!; sleep 3; kill -0 \$p || { wait \$p; exit 1; }; kill \$p; wait \$p; exit 0" \
        >>"$log" 2>&1
}
runs_3s "QT_QPA_PLATFORM=offscreen" || fail "qvar-scope offscreen for 3 s"
if command -v Xvfb >/dev/null; then
    mkdir -p -m 1777 /tmp/.X11-unix "$root2/tmp/.X11-unix" && mount --bind /tmp/.X11-unix "$root2/tmp/.X11-unix" ||
        fail "sharing the X socket folder"
    for n in $(seq 90 120); do [ -e "/tmp/.X11-unix/X$n" ] || break; done
    Xvfb ":$n" -nolisten tcp >>"$log" 2>&1 & xvfb_pid=$!
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    DISPLAY_IN_ROOT=:$n runs_3s "QT_QPA_PLATFORM=xcb" || fail "qvar-scope on an X server for 3 s"
    say "qvar-scope ran 3 s offscreen and 3 s on an X server"
else
    say "qvar-scope ran 3 s offscreen (no Xvfb here for the X server start)"
fi
say "passed in $SECONDS s"
