#!/usr/bin/env bash
# Installs a build into a staging prefix and checks what the desktop reads:
# the menu entry and the metainfo pass their validators, the entry's command
# is the installed program and its icon exists at every theme size; the
# manual page is there under both names.
#   check-install-tree.sh BUILD_DIR
source "$(dirname "$0")/common.sh"
build=$1

cmake --install "$build" --prefix "$work/usr" >/dev/null
share=$work/usr/share
desktop=$(ls "$share"/applications/*.desktop)
[ "$(wc -l <<<"$desktop")" -eq 1 ] || fail "expected one desktop file: $desktop"
id=$(basename "$desktop" .desktop)
metainfo=$share/metainfo/$id.metainfo.xml
[ -f "$metainfo" ] || fail "no metainfo named after the desktop file ($id)"

# Hints count too: an entry without a main category lands in a catch-all menu.
report=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$report" ] || fail "desktop-file-validate: $report"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
grep -q "<id>$id</id>" "$metainfo" || fail "metainfo id is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
  fail "metainfo does not launch $id.desktop"

for key in Name Comment; do
  grep -q "^$key=." "$desktop" || fail "no $key"
  grep -q "^$key\[ja\]=." "$desktop" || fail "no $key[ja]"
done

# The command is a relative link to the program, which keeps its own name
# (its base name is the message box caption).
command=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
bin=$work/usr/bin
[ -L "$bin/$command" ] && [ "$(readlink "$bin/$command")" = Vavaroz ] ||
  fail "Exec=$command is not a relative link to Vavaroz"
[ -x "$bin/Vavaroz" ] || fail "no program"

icon=$(sed -n 's/^Icon=//p' "$desktop")
[ "$icon" = "$id" ] || fail "Icon=$icon is not the id $id"
for size in 16 32 48 128 256; do
  png=$share/icons/hicolor/${size}x$size/apps/$icon.png
  [ -f "$png" ] || fail "no icon at $size"
  file -b "$png" | grep -q "^PNG image data, $size x $size," || fail "$png: $(file -b "$png")"
done
man1=$share/man/man1
page=$(zcat "$man1/didira.1.gz") && grep -q '^\.TH DIDIRA 1' <<<"$page" || fail "no manual page didira(1)"
[ "$(readlink "$man1/Vavaroz.1.gz")" = didira.1.gz ] || fail "Vavaroz(1) is not a link to didira(1)"
echo "install tree: ok ($id)"
