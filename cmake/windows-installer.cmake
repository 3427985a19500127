# The Windows installer, velotrax-VERSION-setup.exe at the top of the build directory, made with
# makensis (Debian's nsis) from cmake/windows-installer.nsi: the window, velotrax-cli, the demo
# emulator and the README as text, stripped of their debugging information, which stays here.
# `make windows` copies it beside the zip; windows_installer_test installs and uninstalls it
# under Wine. It is made only once the window (the target velotrax) is part of the build.
find_program(VELOTRAX_MAKENSIS makensis)

function(velotrax_windows_installer)
  if(NOT TARGET velotrax)
    message(STATUS "The Windows window (velotrax) is not built: no installer")
    return()
  endif()
  add_dependencies(velotrax-windows-package velotrax)
  if(NOT VELOTRAX_MAKENSIS)
    message(STATUS "makensis not found (Debian: nsis): no Windows installer")
    return()
  endif()
  set(programs velotrax velotrax-cli velotrax-demo-emulator)
  set(stage ${PROJECT_BINARY_DIR}/installer)
  set(script ${PROJECT_SOURCE_DIR}/cmake/windows-installer.nsi)
  set(setup ${PROJECT_BINARY_DIR}/velotrax-${PROJECT_VERSION}-setup.exe)
  set(strip_commands)
  foreach(program ${programs})
    list(APPEND strip_commands COMMAND ${CMAKE_STRIP} -o ${stage}/${program}.exe
                                       $<TARGET_FILE:${program}>)
  endforeach()
  # The version as Windows keeps a file's: four numbers.
  set(file_version ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
  foreach(part PATCH TWEAK)
    if("${PROJECT_VERSION_${part}}" STREQUAL "")
      string(APPEND file_version .0)
    else()
      string(APPEND file_version .${PROJECT_VERSION_${part}})
    endif()
  endforeach()
  add_custom_command(
    OUTPUT ${setup}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}
    ${strip_commands}
    # Windows editors expect CR LF.
    COMMAND sed "s/\\r*$/\\r/" ${PROJECT_SOURCE_DIR}/README.md > ${stage}/README.txt
    COMMAND ${VELOTRAX_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DFILE_VERSION=${file_version}
            -DPROGRAMS=${stage} -DOUTFILE=${setup} ${script}
    DEPENDS ${programs} ${script} ${PROJECT_SOURCE_DIR}/README.md
    COMMENT "Making the Windows installer velotrax-${PROJECT_VERSION}-setup.exe"
    VERBATIM)
  add_custom_target(velotrax-setup ALL DEPENDS ${setup})
  add_dependencies(velotrax-windows-package velotrax-setup)

  if(VELOTRAX_BUILD_TESTS)
    # In a Wine prefix of its own, made afresh and removed again; wineboot takes a while.
    add_test(NAME windows_installer_test
             COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-windows-install ${setup})
    set_tests_properties(windows_installer_test PROPERTIES TIMEOUT 900 LABELS windows)
  endif()
endfunction()

# What `make windows` packs: the programs, and the window with its installer when they are built.
add_custom_target(velotrax-windows-package DEPENDS velotrax-cli velotrax-demo-emulator)
# The window's target is defined further on: look once the whole build is known.
cmake_language(DEFER CALL velotrax_windows_installer)
