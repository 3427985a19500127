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
check tools/cli base storage process emulator core results tools
check tools/demo-emulator base storage process emulator core results tools
check tools/wine-launcher tools
# It draws the window's icon for the desktop from the window's own drawing.
check tools/icon-render ui
check bench base storage process emulator core results bench
exit $failed
