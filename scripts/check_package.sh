#!/usr/bin/env bash
# check_package.sh BUILD_DIR: makes the Debian package of a built tree, checks that it holds
# every program, the toolchain, the examples, the menu entry, the icon and the .asm type,
# unpacks it with dpkg -x into a scratch folder and runs the programs from there: the
# runner builds and runs an example with the unpacked COMP86, the trainer emulator answers.
# Exits 77 (skipped) without dpkg-deb.
set -euo pipefail

build="$(cd "${1:?usage: check_package.sh BUILD_DIR}" && pwd)"
for tool in dpkg-deb cpack; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "check_package: $tool is missing, skipped"
    exit 77
  fi
done

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

start=$(date +%s.%N)
(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" >cpack.log 2>&1) || {
  cat "$scratch/cpack.log"
  exit 1
}
deb=("$scratch"/corvale_*.deb)
[[ -f "${deb[0]}" ]] || { echo "check_package: no .deb was made"; exit 1; }
made=$(date +%s.%N)

listing="$(dpkg-deb -c "${deb[0]}" | awk '{print $6}' | sed 's|^\./|/|')"
missing=0
for path in /usr/bin/corvale /usr/bin/corvale-run /usr/bin/corvale-trainer \
  /usr/lib/corvale/corvale /usr/lib/corvale/corvale-run /usr/lib/corvale/corvale-trainer \
  /usr/lib/corvale/COMP86/QXVDOS.EXE /usr/lib/corvale/COMP86/TASM.EXE \
  /usr/lib/corvale/COMP86/MASM.EXE /usr/lib/corvale/COMP86/TLINK.EXE \
  /usr/lib/corvale/COMP86/LINK.EXE /usr/lib/corvale/COMP86/TCC.EXE \
  /usr/lib/corvale/COMP86/QXDEBUG.COM /usr/lib/corvale/COMP86/INCLUDE/stdio.h \
  /usr/share/corvale/examples/hello.asm /usr/share/corvale/examples/course/hello.asm \
  /usr/share/applications/corvale.desktop /usr/share/mime/packages/corvale.xml \
  /usr/share/icons/hicolor/48x48/apps/corvale.png /usr/share/icons/hicolor/128x128/apps/corvale.png; do
  if ! grep -qx "$path" <<<"$listing"; then
    echo "check_package: the package lacks $path"
    missing=1
  fi
done
# Nothing of the build tree or the tests rides along.
if grep -E '_tests?$|/tests/|CMakeFiles|\.a$' <<<"$listing"; then
  echo "check_package: build or test files in the package"
  missing=1
fi
grep -q '^Depends:.*libqt6widgets6' <(dpkg-deb -f "${deb[0]}") || {
  echo "check_package: no dependency on the Qt widgets library"
  missing=1
}
((missing == 0)) || exit 1

root="$scratch/root"
dpkg -x "${deb[0]}" "$root"
grep -q '^Exec=corvale %F' "$root/usr/share/applications/corvale.desktop"
grep -q 'pattern="\*.asm"' "$root/usr/share/mime/packages/corvale.xml"

# The runner through its link in bin finds COMP86 in lib/corvale, builds and runs.
work="$scratch/work"
mkdir -p "$work"
cp "$root/usr/share/corvale/examples/course/hello.asm" "$work/"
out="$("$root/usr/bin/corvale-run" "$work/hello.asm" </dev/null 2>"$scratch/run.err")" || {
  echo "check_package: corvale-run from the unpacked tree failed"
  cat "$scratch/run.err"
  exit 1
}
[[ "$out" == *"Hello, world!"* ]] || { echo "check_package: the example printed: $out"; exit 1; }
"$root/usr/bin/corvale-trainer" --help | grep -q '^usage: corvale-trainer'

done_at=$(date +%s.%N)
printf 'check_package: %s, %s files, made in %.1f s, checked in %.1f s\n' \
  "$(basename "${deb[0]}")" "$(grep -vc '/$' <<<"$listing")" \
  "$(awk "BEGIN{print $made - $start}")" "$(awk "BEGIN{print $done_at - $made}")"
