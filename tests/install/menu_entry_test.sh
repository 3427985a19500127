#!/bin/sh
# The menu entry's command, as installed, with a stand-in for velotrax that reports where it was
# started: it must create the user's workspace on first use and start the program inside it.
#   menu_entry_test.sh BUILD_DIR
set -eu

build=$1
scratch=$(mktemp -d)
trap 'chmod -R u+w "$scratch"; rm -rf "$scratch"' EXIT
stage=$scratch/stage
DESTDIR=$stage cmake --install "$build" --component desktop >/dev/null

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

entry=$(find "$stage" -path '*/share/applications/*.desktop' | head -n 1)
[ -n "$entry" ] || { echo "FAILED: no menu entry installed" >&2; exit 1; }
# The command of the entry, without the field codes the desktop may fill in.
command=$(sed -n 's/^Exec=//p' "$entry" | sed 's/ *%[fFuUick]//g')
launcher=$stage$command
[ -x "$launcher" ] || { echo "FAILED: the entry starts $command, which is not installed" >&2; exit 1; }

# The stand-in lies where the real program is installed, beside the launcher's tree.
program=$(sed -n 's/^program=\$here\///p' "$launcher")
[ -n "$program" ] || { echo "FAILED: the launcher starts no program" >&2; exit 1; }
standin=$(dirname "$launcher")/$program
mkdir -p "$(dirname "$standin")"
cat >"$standin" <<'STANDIN'
#!/bin/sh
pwd >"$VELOTRAX_TEST_REPORT"
echo "$#:$*" >>"$VELOTRAX_TEST_REPORT"
exit 7
STANDIN
chmod 755 "$standin"

# start HOME XDG_DATA_HOME ARGS...: runs the entry's command as the desktop would, from /.
start() {
  home=$1 data=$2
  shift 2
  report=$scratch/report
  rm -f "$report"
  status=0
  (cd / && env -i PATH=/usr/bin:/bin HOME="$home" XDG_DATA_HOME="$data" \
    VELOTRAX_TEST_REPORT="$report" "$launcher" "$@") 2>"$scratch/stderr" || status=$?
}

# First use with the default data directory: created, with its roms folder, and entered.
mkdir -p "$scratch/home"
start "$scratch/home" "" a "b c"
expected=$scratch/home/.local/share/velotrax
[ "$(sed -n 1p "$scratch/report" 2>/dev/null)" = "$expected" ] || fail "not started in $expected"
[ -d "$expected/roms" ] || fail "no roms folder in the new workspace"
[ "$(sed -n 2p "$scratch/report")" = "2:a b c" ] || fail "arguments not passed on"
[ "$status" -eq 7 ] || fail "exit status $status instead of the program's 7"

# A second start keeps what the workspace holds.
echo kept >"$expected/mark.dat"
start "$scratch/home" ""
[ "$(cat "$expected/mark.dat")" = kept ] || fail "the workspace was not kept"

# XDG_DATA_HOME is honoured when absolute and ignored when relative.
start "$scratch/home" "$scratch/data"
[ "$(sed -n 1p "$scratch/report")" = "$scratch/data/velotrax" ] || fail "XDG_DATA_HOME not used"
start "$scratch/home" "relative/data"
[ "$(sed -n 1p "$scratch/report")" = "$expected" ] || fail "a relative XDG_DATA_HOME was used"

# A workspace that cannot be made: a message, and the program is not started elsewhere.
if [ "$(id -u)" -ne 0 ]; then
  mkdir -p "$scratch/locked"
  chmod 555 "$scratch/locked"
  start "$scratch/home" "$scratch/locked"
else
  : >"$scratch/blocker"
  start "$scratch/home" "$scratch/blocker"
fi
[ ! -e "$scratch/report" ] || fail "started although the workspace could not be made"
[ "$status" -ne 0 ] && grep -q "cannot use the workspace" "$scratch/stderr" ||
  fail "no error for a workspace that cannot be made"

if [ "$failures" -ne 0 ]; then exit 1; fi
echo "menu entry: every check passed"
