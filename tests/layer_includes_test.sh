#!/bin/sh
# Layers point one way: base <- storage, process <- emulator <- core <- results <- ui and tools.
# The include roots stop a source file that includes upwards; this also reads the headers, which
# only a file of a higher layer may happen to include. Usage: layer_includes_test.sh SOURCE_DIR
cd "$1" || exit 2
failed=0

# check DIR VISIBLE...: every "X/..." include in DIR names one of VISIBLE (or no directory here).
check() {
  dir=$1
  shift
  visible=" $* "
  for file in $(find "$dir" -name '*.h' -o -name '*.cpp' -o -name '*.c'); do
    # The former path of the emulator contract, kept for programs outside Velotrax.
    [ "$file" = process/emulator_contract.h ] && continue
    for included in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"/]*\)\/.*/\1/p' "$file"); do
      [ -d "$included" ] || continue
      case "$visible" in
        *" $included "*) ;;
        *)
          echo "$file includes $included/, which $dir/ may not see (it sees $*)"
          failed=1
          ;;
      esac
    done
  done
}

check base base
check storage base storage
check process base process
check emulator base storage process emulator
check core base storage process emulator core
check results base storage process emulator core results
check ui base storage process emulator core results ui

# The windows' layout in ui/ is shared by the front ends: it includes neither a toolkit nor a
# front end; and a front end never includes the other one.
for file in $(find ui -maxdepth 1 -name '*.h' -o -maxdepth 1 -name '*.cpp'); do
  if grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*(<Q|"ui/(qt|win32)/)' "$file"; then
    echo "$file is shared by the front ends, but includes a toolkit or a front end"
    failed=1
  fi
done
for pair in "qt win32" "win32 qt"; do
  set -- $pair
  [ -d "ui/$1" ] || continue
  if grep -rnE --include='*.h' --include='*.cpp' '^[[:space:]]*#[[:space:]]*include[[:space:]]*"ui/'"$2"'/' "ui/$1"; then
    echo "ui/$1/ includes ui/$2/: the front ends do not see each other"
    failed=1
  fi
done
check tools/cli base storage process emulator core results tools
check tools/demo-emulator base storage process emulator core results tools
check tools/wine-launcher tools
# It draws the window's icon for the desktop from the window's own drawing.
check tools/icon-render ui
check bench base storage process emulator core results bench
exit $failed
