#!/usr/bin/env bash
# Builds the .deb from the build folder, unpacks it into a scratch root and starts each
# program from there, without a display: --version and --help must answer and exit 0.
# usage: package_test.sh BUILD_DIR
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; exit 1; }
deb=$(echo "$scratch"/out/*.deb)
dpkg-deb --field "$deb" Depends | tee "$scratch/depends"
for needed in libqt6widgets6 fonts-noto-cjk qt6-qpa-plugins; do
  grep -q "$needed" "$scratch/depends" || { echo "Depends lacks $needed"; exit 1; }
done
dpkg -x "$deb" "$scratch/root"
usr=$scratch/root/usr

fail=0
for program in tracker-console tracker-sim tracker-jig tracker-board; do
  if [[ ! -x $usr/bin/$program ]]; then
    [[ $program == tracker-jig || $program == tracker-board ]] && continue  # once built
    echo "missing: /usr/bin/$program"; fail=1; continue
  fi
  [[ -f $usr/share/man/man1/$program.1.gz ]] || { echo "no manual page for $program"; fail=1; }
  # No display at all: a program that starts a window system here aborts.
  version=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$usr/bin/$program" --version) ||
    { echo "$program --version failed"; fail=1; }
  [[ $version == "$program "[0-9]* ]] || { echo "$program --version said: $version"; fail=1; }
  env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$usr/bin/$program" --help |
    grep -q "^usage: $program" || { echo "$program --help failed"; fail=1; }
done

if [[ -x $usr/bin/tracker-board ]]; then
  unit=$usr/lib/systemd/system/tracker-board.service
  [[ -f $unit ]] || { echo "no service for tracker-board"; fail=1; }
  grep -q libjs-chart.js "$scratch/depends" || { echo "Depends lacks libjs-chart.js"; fail=1; }
  [[ ! -e $scratch/root/etc/systemd ]] || { echo "the board's service is enabled"; fail=1; }
fi

desktop-file-validate "$usr/share/applications/tracker-console.desktop" || fail=1
appstreamcli validate --no-net "$usr"/share/metainfo/*.metainfo.xml >/dev/null || fail=1
[[ -f $usr/share/icons/hicolor/scalable/apps/tracker-console.svg ]] || { echo "no icon"; fail=1; }
[[ -f $usr/share/doc/tracker-console/copyright ]] || { echo "no copyright"; fail=1; }
exit $fail
