#!/usr/bin/env bash
# Builds the Debian package of a build with cpack and checks its fields (the
# library dependencies computed, the plugin packages and what a listener needs
# named, the installed size), its contents (everything under /usr, the
# program, its command link, menu entry, icons, metainfo, manual page and
# documents, nothing of the build or the tests), that lintian finds nothing
# to warn of, and that the packaged program is hardened.
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
# What a listener cannot do without: Japanese glyphs, https, a sound output,
# the song history's database driver.
for entry in "fonts-ipafont-gothic | fonts-noto-cjk | fonts-vlgothic" ca-certificates \
  glib-networking "gstreamer1.0-pulseaudio | gstreamer1.0-pipewire | gstreamer1.0-alsa" \
  hicolor-icon-theme libqt6sql6-sqlite; do
  sed 's/, /\n/g' <<<"$depends" | grep -qxF "$entry" || fail "Depends lacks '$entry': $depends"
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
  ./usr/share/icons/hicolor/256x256/apps/org.didira.Didira.png \
  ./usr/share/man/man1/didira.1.gz \
  "./usr/share/man/man1/Vavaroz.1.gz -> didira.1.gz" \
  ./usr/share/doc/didira/copyright ./usr/share/doc/didira/changelog.gz; do
  grep -qxF "$path" <<<"$contents" || fail "package lacks $path"
done
if grep -Eq '(_tests|\.a|\.h|/include/.*)$' <<<"$contents"; then
  fail "package holds build or test files"
fi
root=$work/root
dpkg-deb -x "$deb" "$root"
# Installed-Size as dpkg counts it: each file in KiB rounded up, one for each
# other entry.
size=$(find "$root" -mindepth 1 -printf '%y %s\n' |
  awk '{ n += ($1 == "f") ? int(($2 + 1023) / 1024) : 1 } END { print n }')
[ "$(field Installed-Size)" -eq "$size" ] || fail "Installed-Size $(field Installed-Size), files $size KiB"

# Hardened as Debian's own builds: relocations read-only and bound at start,
# the stack protector and fortified functions in use, no compiler notes left.
program=$root/usr/bin/Vavaroz
headers=$(readelf -lW "$program")
dynamic=$(readelf -dW "$program")
sections=$(readelf -SW "$program")
symbols=$(nm -D "$program")
grep -q GNU_RELRO <<<"$headers" || fail "program lacks RELRO"
grep -Eq '\((BIND_NOW|FLAGS_1)\).*NOW' <<<"$dynamic" || fail "program is not bound at start"
grep -q ' U __stack_chk_fail' <<<"$symbols" || fail "program lacks the stack protector"
grep -Eq ' U __[a-z_]+_chk(@|$)' <<<"$symbols" || fail "program calls no fortified function"
if grep -q ' \.comment ' <<<"$sections"; then fail "program keeps its .comment section"; fi

# Errors and warnings fail; lintian's informational tags do not.
lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log"; fail "lintian"; }
echo "debian package: ok ($(basename "$deb"))"
