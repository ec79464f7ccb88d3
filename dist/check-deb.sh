#!/bin/sh
# check-deb.sh PACKAGE.deb - the Debian package holds the programs, the
# resources, the desktop entry, the icons, the metadata and the manual pages,
# and depends on the Qt 6 libraries the programs link. With
# QVAR_PACKAGE_INSTALL=1 (as root, on a machine that may be changed) it is
# also installed with apt-get, run, and removed again.
set -eu
deb=$1
id=org.qvarrdx3.Scope
fail() { echo "check-deb: $*" >&2; exit 1; }

case $(basename "$deb") in
    qvar-scope_*_*.deb) ;;
    *) fail "unexpected package name $deb" ;;
esac

list=$(dpkg-deb -c "$deb" | awk '{ print $NF }')
for f in usr/bin/qvar-scope usr/bin/qvar-cli usr/bin/qvar-sim \
         usr/share/qvar-scope/QVARRDX3V20.uir usr/share/qvar-scope/logo_brand2.bmp \
         usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml \
         usr/share/icons/hicolor/scalable/apps/$id.svg \
         usr/share/icons/hicolor/48x48/apps/$id.png usr/share/icons/hicolor/256x256/apps/$id.png \
         usr/share/man/man1/qvar-scope.1 usr/share/man/man1/qvar-cli.1 usr/share/man/man1/qvar-sim.1; do
    echo "$list" | grep -qx "\./$f" || fail "package lacks /$f"
done

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6core6 libqt6gui6 libqt6widgets6; do
    echo "$depends" | grep -q "$lib" || fail "Depends lacks $lib: $depends"
done

# A desktop session loads Qt's X platform plugin; it is not linked, so only an
# explicit dependency brings the package that holds it.
xcb=$(dpkg-query -S '*/qt6/plugins/platforms/libqxcb.so' 2>/dev/null | head -n 1 | cut -d: -f1)
if [ -n "$xcb" ]; then
    echo "$depends" | grep -q "$xcb" || fail "Depends lacks $xcb, which holds the X platform plugin: $depends"
fi

if [ "${QVAR_PACKAGE_INSTALL:-0}" = 1 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$(realpath "$deb")" >/dev/null
    qvar-scope --version | grep -q "^qvar-scope " || fail "installed qvar-scope does not run"
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq qvar-scope >/dev/null
    [ ! -e /usr/bin/qvar-scope ] && [ ! -e /usr/share/qvar-scope ] || fail "removal left files behind"
fi
echo "check-deb: ok ($depends)"
