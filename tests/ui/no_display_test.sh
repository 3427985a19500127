#!/bin/sh
# velotrax without a display it can open: a plain message that names the ways on, and exit code 1
# (not Qt's abort), both when no display is set and when the one set does not answer.
#   no_display_test.sh VELOTRAX
set -u

program=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1

# A display number that no X server here uses.
n=4000
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done

failures=0
check() {
  what=$1
  shift
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" timeout 60 "$program" 2>"$scratch/err" </dev/null
  code=$?
  if [ $code -ne 1 ] || ! grep -q "velotrax-cli --help" "$scratch/err" || ! grep -q "xvfb-run $program" "$scratch/err" ||
    grep -q "Reinstalling" "$scratch/err"; then
    echo "FAILED: $what: exit code $code, said:" >&2
    cat "$scratch/err" >&2
    failures=$((failures + 1))
  fi
}
check "no display set"
check "a display that does not answer" DISPLAY=":$n"
[ $failures -eq 0 ] && echo "passed"
exit $failures
