# The include roots that keep the layers pointing one way:
#
#   base <- storage, process <- emulator <- core <- results <- ui and tools
#
# Each part of the program is compiled against a root of its own, VELOTRAX_LAYER_ROOTS/NAME,
# which holds symbolic links to itself and the layers beneath it and nothing else. An include in
# the wrong direction names a directory that is not there and stops the build. Used by the
# program's build and by the cross-built Windows programs (cmake/windows/); the includer sets
# VELOTRAX_LAYER_SOURCES (the source tree) and VELOTRAX_LAYER_ROOTS (where the roots go).
function(velotrax_layer_root root)
  set(dir ${VELOTRAX_LAYER_ROOTS}/${root})
  file(MAKE_DIRECTORY ${dir})
  foreach(visible ${ARGN})
    if(NOT EXISTS ${dir}/${visible})
      file(CREATE_LINK ${VELOTRAX_LAYER_SOURCES}/${visible} ${dir}/${visible} SYMBOLIC)
    endif()
  endforeach()
endfunction()

velotrax_layer_root(base     base)
velotrax_layer_root(storage  base storage)
velotrax_layer_root(process  base process)
velotrax_layer_root(emulator base storage process emulator)
velotrax_layer_root(core     base storage process emulator core)
velotrax_layer_root(results  base storage process emulator core results)
# The front ends of the top layer see everything beneath them, but not each other: ui/ holds the
# windows' layout (shared) and the Qt (ui/qt/) and Win32 (ui/win32/) front ends, which
# tests/layer_includes_test.sh keeps apart; the tools do not see ui/.
velotrax_layer_root(ui       base storage process emulator core results ui)
velotrax_layer_root(tools    base storage process emulator core results tools)
# The benchmarks measure the layers, as the tools use them.
velotrax_layer_root(bench    base storage process emulator core results bench)
