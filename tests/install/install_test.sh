#!/usr/bin/env bash
# Installs the build tree into a temporary DESTDIR (prefix /usr) and runs the
# installed programs from there:
#   install_test.sh BUILD_DIR VERSION [CLOSE_WINDOW]
# CLOSE_WINDOW is the helper that closes the window on the X display; without
# it, or without DISPLAY, the window part is skipped (and says so).
set -euo pipefail
build=$1
version=$2
close_window=${3:-}

tmp=$(mktemp -d)
root=$tmp/root
app_pid=
cleanup() {
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; fi
  chmod -R u+w "$tmp" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

DESTDIR=$root cmake --install "$build" --component brontel --prefix /usr >/dev/null

# The tree: nothing outside /usr, the shared files where the desktop finds them.
outside=$(find "$root" -mindepth 1 -maxdepth 1 ! -name usr)
[ -z "$outside" ] || fail "installed outside /usr: $outside"
for f in share/doc/brontel/README.md share/doc/brontel/LICENSE share/doc/brontel/copyright share/brontel/navtex-stations.csv \
         share/man/man1/brontel-decode.1.gz share/man/man1/navtex-gen.1.gz; do
  [ -f "$root/usr/$f" ] || fail "missing /usr/$f"
done
if find "$root" -name '*test*' -o -name '*bench*' | grep -q .; then
  fail "tests or benchmarks installed: $(find "$root" -name '*test*' -o -name '*bench*')"
fi

# Every man page renders without warnings and names the version.
if command -v man >/dev/null; then
  for page in "$root"/usr/share/man/man1/*.1.gz; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) \
      || fail "man cannot show $page"
    [ -z "$warnings" ] || fail "man page $(basename "$page"): $warnings"
    zcat "$page" | grep -q "Brontel $version" || fail "$(basename "$page") does not name version $version"
  done
else
  echo "skipped: man pages not rendered (man is not installed)"
fi

# --version of every installed program.
for tool in brontel brontel-decode navtex-gen brontel-messages; do
  [ -x "$root/usr/bin/$tool" ] || continue
  # (A window that ignored the option would stay open: the guard ends it.)
  if out=$(QT_QPA_PLATFORM=offscreen timeout 10 "$root/usr/bin/$tool" --version 2>&1); then
    grep -qF "$version" <<<"$out" || fail "$tool --version printed '$out', not $version"
  else
    fail "$tool --version failed: $out"
  fi
done

# The installed transmitter and receiver decode a generated emission.
if [ -x "$root/usr/bin/navtex-gen" ] && [ -x "$root/usr/bin/brontel-decode" ]; then
  "$root/usr/bin/navtex-gen" --phasing 4 --text $'ZCZC IA42\nINSTALLED TREE CHECK 1234\nNNNN' "$tmp/emission.wav"
  text=$("$root/usr/bin/brontel-decode" "$tmp/emission.wav")
  grep -q "INSTALLED TREE CHECK 1234" <<<"$text" || fail "installed brontel-decode printed: $text"
else
  fail "brontel-decode or navtex-gen not installed"
fi

# The window: desktop entry, icon, and a run from the install tree whose
# folder is read-only, so its settings go to the configuration folder.
if [ -x "$root/usr/bin/brontel" ]; then
  entry=$root/usr/share/applications/brontel.desktop
  desktop-file-validate "$entry" || fail "desktop-file-validate rejects $entry"
  for icon in scalable/apps/brontel.svg 16x16/apps/brontel.png 48x48/apps/brontel.png \
              256x256/apps/brontel.png; do
    [ -f "$root/usr/share/icons/hicolor/$icon" ] || fail "missing icon $icon"
  done
  [ -f "$root/usr/share/man/man1/brontel.1.gz" ] || fail "missing man page brontel.1"
  for qm in brontel_en.qm brontel_ja.qm; do
    [ -s "$root/usr/share/brontel/translations/$qm" ] || fail "missing translation $qm"
  done

  if [ -n "$close_window" ] && [ -n "${DISPLAY:-}" ]; then
    mkdir -p "$tmp/home"
    chmod a-w "$root/usr/bin"
    HOME=$tmp/home XDG_CONFIG_HOME=$tmp/config QT_QPA_PLATFORM=xcb \
      "$root/usr/bin/brontel" >"$tmp/app.log" 2>&1 &
    app_pid=$!
    if "$close_window" "$app_pid" 60; then
      for _ in $(seq 600); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
      if kill -0 "$app_pid" 2>/dev/null; then
        fail "the window was asked to close but the program did not end"
        kill "$app_pid"
      fi
      status=0
      wait "$app_pid" || status=$?
      app_pid=
      [ "$status" -eq 0 ] || fail "the window exited with status $status: $(cat "$tmp/app.log")"
      [ -f "$tmp/config/brontel/brontel.ini" ] ||
        fail "no settings in \$XDG_CONFIG_HOME/brontel/brontel.ini after closing the window"
      grep -q '^CentF=' "$tmp/config/brontel/brontel.ini" 2>/dev/null ||
        fail "the settings file has no [Wave] CentF"
      [ ! -e "$root/usr/bin/brontel.ini" ] || fail "settings written beside the installed executable"
    else
      fail "the installed window did not open: $(cat "$tmp/app.log")"
    fi
    chmod u+w "$root/usr/bin"
  else
    echo "skipped: the installed window was not run (needs DISPLAY and the close_window helper)"
  fi
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) of the install tree failed" >&2
  exit 1
fi
echo "install tree: all checks passed"
