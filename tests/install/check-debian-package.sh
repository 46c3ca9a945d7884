#!/usr/bin/env bash
# Builds the Debian package of a build with cpack and checks its fields (the
# library dependencies computed, the plugin packages named) and its contents
# (everything under /usr, the program, its command link, menu entry, icons
# and metainfo, nothing of the build or the tests).
#   check-debian-package.sh BUILD_DIR
source "$(dirname "$0")/common.sh"
build=$1

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
debs=$(ls "$work"/*.deb)
[ "$(wc -l <<<"$debs")" -eq 1 ] || fail "expected one package: $debs"
deb=$debs

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = didira ] || fail "Package: $(field Package)"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture: $(field Architecture)"
[ -n "$(field Version)" ] && [ -n "$(field Maintainer)" ] && [ -n "$(field Description)" ] ||
  fail "Version, Maintainer or Description missing"
depends=$(field Depends)
# Computed from the program's libraries, and the plugins named by hand.
for pkg in libc6 libqt6widgets6 libqt6dbus6 libgstreamer1.0-0 libodbc2 \
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good; do
  grep -Eq "(^|, )$pkg( |,|$)" <<<"$depends" || fail "Depends lacks $pkg: $depends"
done

contents=$(dpkg-deb -c "$deb" | awk '{ p = $6; if ($7 == "->") p = p " -> " $8; print p }')
if grep -v '^\./usr/' <<<"$contents" | grep -vx '\./' | grep -q .; then
  fail "files outside /usr: $(grep -v '^\./usr/' <<<"$contents")"
fi
for path in ./usr/bin/Vavaroz \
  "./usr/bin/didira -> Vavaroz" \
  ./usr/share/applications/org.didira.Didira.desktop \
  ./usr/share/metainfo/org.didira.Didira.metainfo.xml \
  ./usr/share/icons/hicolor/16x16/apps/org.didira.Didira.png \
  ./usr/share/icons/hicolor/256x256/apps/org.didira.Didira.png; do
  grep -qxF "$path" <<<"$contents" || fail "package lacks $path"
done
if grep -Eq '(_tests|\.a|\.h|/include/.*)$' <<<"$contents"; then
  fail "package holds build or test files"
fi
echo "debian package: ok ($(basename "$deb"))"
