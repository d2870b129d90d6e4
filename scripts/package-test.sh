#!/usr/bin/env bash
# Builds the Debian package from the release configuration, unpacks it into a throw-away root and checks
# it as a technician would meet it: the programs run from there, the package depends on the libraries
# they link, and the desktop entry, metadata, manual pages and sample command file are in place; lintian,
# Debian's own checker, finds no error.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="${TARVO_JOBS:-2}"

bash scripts/release-configure.sh
# What the package installs: the programs and the compressed manual pages and changelog.
cmake --build --preset release -j "$jobs" --target tarvo tarvo-cli tarvo-devsim tarvo_compressed_docs
rm -f build/release/tarvo_*.deb
(cd build/release && cpack -G DEB >/dev/null)
deb=$(ls build/release/tarvo_*.deb)
echo "package: $deb"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# Computed by dpkg-shlibdeps from what the programs and their modules link: Qt 6, libjpeg and SimpleIni's
# shared library.
for library in libqt6core6 libqt6widgets6 libqt6serialport6 libqt6serialbus6 libqt6network6 libqt6printsupport6 \
               libjpeg62-turbo libsimpleini1; do
  [[ ",$depends," == *", $library "* || ",$depends," == *",$library "* || ",$depends," == *", $library,"* ]] ||
    fail "Depends lacks $library"
done

# The CAN and network module and the printing and JPEG module, where the programs look for them (beside
# them: bin/../lib/tarvo/modules), each with every library it needs there and its entry exported.
for module_entry in libtarvo-bus.so:tarvoBusModule libtarvo-output.so:tarvoPictureOutput; do
  module="$root/usr/lib/tarvo/modules/${module_entry%%:*}"
  entry="${module_entry##*:}"
  if [ -s "$module" ]; then
    ! ldd "$module" | grep -q "not found" || fail "$module: its libraries are not all found: $(ldd "$module")"
    nm -D --defined-only "$module" | grep -qw "$entry" || fail "$module exports no $entry"
  else
    fail "no module at usr/lib/tarvo/modules/${module_entry%%:*}"
  fi
done

version=$(sed -n 's/^project(Tarvo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
for program in tarvo tarvo-cli tarvo-devsim; do
  out=$("$root/usr/bin/$program" --version) || fail "$program --version exits $?"
  [ "$out" = "Tarvo  ver.$version" ] || fail "$program --version printed '$out'"
done
help=$("$root/usr/bin/tarvo-cli" --help) || fail "tarvo-cli --help exits $?"
grep -q '^usage: tarvo-cli SUBCOMMAND' <<<"$help" || fail "tarvo-cli --help printed '$help'"
# Without a display, as over ssh.
help=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/tarvo" --help) || fail "tarvo --help exits $?"
grep -q '^usage: tarvo ' <<<"$help" || fail "tarvo --help printed '$help'"

share="$root/usr/share"
[ -s "$share/tarvo/Tarvocommand.ini" ] || fail "no sample Tarvocommand.ini in share/tarvo"
desktop-file-validate "$share/applications/org.tarvo.Tarvo.desktop" || fail "desktop entry"
grep -qx 'Categories=Science;Engineering;' "$share/applications/org.tarvo.Tarvo.desktop" || fail "desktop categories"
# The window class the program's windows carry, so that a taskbar ties them to this entry.
grep -qx 'StartupWMClass=Tarvo program' "$share/applications/org.tarvo.Tarvo.desktop" || fail "desktop StartupWMClass"
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$share/metainfo/org.tarvo.Tarvo.metainfo.xml" >/dev/null || fail "AppStream metadata"
fi
for size in 16 22 24 32 48 64 128 256; do
  [ -s "$share/icons/hicolor/${size}x${size}/apps/tarvo.png" ] || fail "no ${size}x${size} icon"
done
[ -s "$share/icons/hicolor/scalable/apps/tarvo.svg" ] || fail "no scalable icon"
for page in tarvo tarvo-cli tarvo-devsim; do
  manual="$share/man/man1/$page.1.gz"
  [ -s "$manual" ] || fail "no compressed manual page $page.1.gz"
  # Rendered with warnings on: a page that troff complains about fails.
  warnings=$(MANWIDTH=80 man --warnings -l "$manual" 2>&1 >/dev/null) || fail "man -l $page exits $?"
  [ -z "$warnings" ] || fail "man -l $page: $warnings"
  MANWIDTH=80 man -l "$manual" 2>/dev/null | grep -q "^NAME" || fail "man -l $page renders no NAME"
done
[ -s "$share/doc/tarvo/copyright" ] || fail "no copyright file"
zcat "$share/doc/tarvo/changelog.gz" 2>/dev/null | head -1 | grep -q "^tarvo ($version) " || fail "no changelog for $version"
recommends=$(dpkg-deb -f "$deb" Recommends)
[[ ",$recommends," == *"iproute2"* ]] || fail "Recommends lacks iproute2 (the CAN bit rate is read with ip)"

# Debian's own check of the package: any error fails; warnings are shown.
if command -v lintian >/dev/null; then
  lintian --fail-on error --info "$deb" || fail "lintian reports errors"
else
  fail "lintian is not installed (scripts/setup.sh installs it)"
fi

# The same tree installed with cmake under a prefix of its own, as one would without the package.
prefix="$root/prefix"
cmake --install build/release --prefix "$prefix" >/dev/null || fail "cmake --install exits $?"
for program in tarvo tarvo-cli tarvo-devsim; do
  out=$("$prefix/bin/$program" --version) || fail "installed $program --version exits $?"
  [ "$out" = "Tarvo  ver.$version" ] || fail "installed $program --version printed '$out'"
done
MANWIDTH=80 man -l "$prefix/share/man/man1/tarvo-cli.1"* 2>/dev/null | grep -q "^NAME" || fail "installed man page"
desktop-file-validate "$prefix/share/applications/org.tarvo.Tarvo.desktop" || fail "installed desktop entry"
[ -s "$prefix/share/tarvo/Tarvocommand.ini" ] || fail "no sample Tarvocommand.ini under the prefix"

if [ "$failures" -gt 0 ]; then
  echo "package test: $failures failure(s)" >&2
  exit 1
fi
echo "package test: passed"
