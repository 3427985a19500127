#!/bin/sh
# A real Ctrl+C typed in a terminal reaches velotrax-cli.exe under Wine as a console Ctrl+C: the
# run ends the emulator and exits with 130. tmux is the terminal; the keys go to its pane.
# Usage: console_ctrl_c_test.sh BUILD_DIR WINEPREFIX
set -eu
build=$1
prefix=$2
command -v tmux >/dev/null || { echo "tmux is not installed (scripts/install-deps installs it)"; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/velotrax-ctrl-c-XXXXXX")
session=velotrax-ctrl-c-$$
# A tmux server of its own: nothing of the user's sessions is touched.
tmux() { command tmux -L "$session" "$@"; }
# Every process of this run carries the mark in its environment, the emulator under Wine too.
mark="VELOTRAX_CTRL_C_TEST=$work"
marked() { grep -l -s -x -z -F "$mark" /proc/[0-9]*/environ | sed 's|/proc/\([0-9]*\)/environ|\1|'; }
cleanup() {
  tmux kill-server 2>/dev/null || true
  rm -f "${TMUX_TMPDIR:-/tmp}/tmux-$(id -u)/$session"
  for pid in $(marked); do
    case "$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)" in
      mame.exe* | velotrax-cli.exe*) kill -9 "$pid" 2>/dev/null || true ;;
    esac
  done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/roms"
cp "$build/velotrax-cli.exe" "$work/"
cp "$build/velotrax-demo-emulator.exe" "$work/mame.exe"

# Waits up to $1 seconds for the command that follows to succeed.
wait_for() {
  limit=$1
  shift
  i=0
  while ! "$@"; do
    i=$((i + 1))
    [ $i -lt $((limit * 5)) ] || return 1
    sleep 0.2
  done
}
pane_shows() { tmux capture-pane -p -t "$session" | grep -q -F "$1"; }
emulator_running() {
  for pid in $(marked); do
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q '^mame\.exe ' && return 0
  done
  return 1
}

tmux new-session -d -s "$session" -x 200 -y 20 \
  "cd '$work' && env '$mark' WINEPREFIX='$prefix' WINEDEBUG=-all wine velotrax-cli.exe run --mode both pacman; echo \$? >exit-code; sleep 60"
if ! wait_for 120 emulator_running || ! wait_for 60 pane_shows "pass 1 of 2"; then
  echo "the first pass did not start:"; tmux capture-pane -p -t "$session"; exit 1
fi
tmux send-keys -t "$session" C-c
if ! wait_for 60 test -s "$work/exit-code"; then
  echo "velotrax-cli.exe did not end after Ctrl+C:"; tmux capture-pane -p -t "$session"; exit 1
fi
tmux capture-pane -p -t "$session"
status=0
[ "$(cat "$work/exit-code")" = 130 ] || { echo "exit code $(cat "$work/exit-code"), not 130"; status=1; }
pane_shows "velotrax-cli: interrupted" || { echo "no word of the interruption"; status=1; }
emulator_gone() { ! emulator_running; }
wait_for 10 emulator_gone || { echo "the emulator runs on after Ctrl+C"; status=1; }
exit $status
