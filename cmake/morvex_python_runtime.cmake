# The interpreter's part of the application folder: everything but the
# programs and the application's own code.
#
#   morvex_python_runtime(DESTINATION [TK])
#       installs into DESTINATION, with the runtime component, the files the
#       embedded interpreter needs; TK adds Tk
#
# Windows: python27.dll, and python27.zip beside it (the kit's own, else the
# kit's Lib/ compiled by the build, target python27_zip), the only place the
# interpreter looks for the standard library before the first import; DLLs/
# with the kit's extension modules, but for their tests and Tk's; the Visual
# C++ 2008 runtime as a private assembly (morvex_vc90_runtime.cmake). With
# TK: _tkinter.pyd, tcl85.dll and tk85.dll in DLLs/; the Tcl and Tk script
# libraries in lib/tcl8.5, lib/tk8.5 and lib/tcl8, where tcl85.dll looks for
# them relative to its own path (so python.org's FixTk, finding no tcl/
# folder, sets no variable); the kit's lib-tk compiled in lib/lib-tk (target
# morvex_lib_tk), which the interpreter puts on sys.path itself.
#
# POSIX: the shared library and the standard library in lib/, where the
# program (its RUNPATH) and the interpreter, at home in the program folder,
# find them.
#
# Inputs: what python27.cmake sets (PYTHON27_RUNTIME, PYTHON27_STDLIB,
# PYTHON27_HOST_COMMAND) and the cache variable PYTHON27_WINDOWS_DIR, and the
# build's time MORVEX_SOURCE_DATE_EPOCH for python27.zip's dates. The
# library's folders that no folder carries are scripts/compile_application.py's
# to say. Runs at configure; the build compiles python27.zip and lib-tk.
include(${CMAKE_CURRENT_LIST_DIR}/morvex_vc90_runtime.cmake)

set(_morvex_compile ${CMAKE_CURRENT_LIST_DIR}/../scripts/compile_application.py)

function(morvex_python_runtime destination)
  cmake_parse_arguments(PARSE_ARGV 1 arg "TK" "" "")
  if(WIN32)
    _morvex_windows_runtime(${destination})
    if(arg_TK)
      _morvex_windows_tk(${destination})
    endif()
    # Every extension module in DLLs/ (and sqlite3.dll) carries a manifest
    # of its own that asks for the runtime, and Windows looks for a DLL's
    # private assemblies in that DLL's folder: DLLs/ gets a copy as well.
    set(folders ${destination})
    if(IS_DIRECTORY ${PYTHON27_WINDOWS_DIR}/DLLs)
      list(APPEND folders ${destination}/DLLs)
    endif()
    morvex_install_vc90_runtime(${PYTHON27_RUNTIME} ${folders})
    return()
  endif()
  execute_process(COMMAND ${PYTHON27_HOST_COMMAND} ${_morvex_compile} left-out
                  OUTPUT_VARIABLE left_out RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "compile_application.py cannot say which library folders are left out")
  endif()
  string(REGEX REPLACE "\n$" "" left_out "${left_out}")
  string(REPLACE "\n" ";" left_out "${left_out}")
  set(patterns "")
  # config/ holds what builds the interpreter itself, .pyo files another
  # run's byte code.
  foreach(pattern IN LISTS left_out ITEMS config *.pyo)
    list(APPEND patterns PATTERN ${pattern} EXCLUDE)
  endforeach()
  install(FILES ${PYTHON27_RUNTIME} DESTINATION ${destination}/lib COMPONENT runtime)
  install(DIRECTORY ${PYTHON27_STDLIB} DESTINATION ${destination}/lib COMPONENT runtime
          ${patterns})
endfunction()

function(_morvex_windows_runtime destination)
  set(kit ${PYTHON27_WINDOWS_DIR})
  if(EXISTS ${kit}/python27.zip)
    set(zip ${kit}/python27.zip)
  else()
    set(zip ${CMAKE_BINARY_DIR}/python27.zip)
    file(GLOB_RECURSE kit_modules CONFIGURE_DEPENDS ${kit}/Lib/*.py)
    add_custom_command(
      OUTPUT ${zip}
      COMMAND ${PYTHON27_HOST_COMMAND} ${_morvex_compile} library-zip ${kit}/Lib ${zip}
              ${MORVEX_SOURCE_DATE_EPOCH}
      DEPENDS ${_morvex_compile} ${kit_modules} ${CMAKE_BINARY_DIR}/source_date_epoch
      COMMENT "Compiling the kit's standard library into python27.zip"
      VERBATIM)
    add_custom_target(python27_zip ALL DEPENDS ${zip})
    set_target_properties(python27_zip PROPERTIES OUTPUT_FILE ${zip})
  endif()
  # python.org's files ship as python.org made them.
  install(FILES ${PYTHON27_RUNTIME} ${zip} DESTINATION ${destination} COMPONENT runtime)
  if(IS_DIRECTORY ${kit}/DLLs)
    install(DIRECTORY ${kit}/DLLs DESTINATION ${destination} COMPONENT runtime
            PATTERN "_test*" EXCLUDE
            PATTERN "*_test.pyd" EXCLUDE
            PATTERN "*.pdb" EXCLUDE
            # Tk's go in with TK; tclpip85.dll only ever served Windows 9x.
            PATTERN "_tkinter.pyd" EXCLUDE
            PATTERN "tcl85.dll" EXCLUDE
            PATTERN "tk85.dll" EXCLUDE
            PATTERN "tclpip85.dll" EXCLUDE)
  endif()
endfunction()

function(_morvex_windows_tk destination)
  set(kit ${PYTHON27_WINDOWS_DIR})
  foreach(file DLLs/_tkinter.pyd DLLs/tcl85.dll DLLs/tk85.dll tcl/tcl8.5/init.tcl
               tcl/tk8.5/tk.tcl Lib/lib-tk/Tkinter.py)
    if(NOT EXISTS ${kit}/${file})
      message(FATAL_ERROR "Tk is to be in the folder, but the kit ${kit} has no ${file}")
    endif()
  endforeach()
  install(FILES ${kit}/DLLs/_tkinter.pyd ${kit}/DLLs/tcl85.dll ${kit}/DLLs/tk85.dll
          DESTINATION ${destination}/DLLs COMPONENT runtime)
  install(DIRECTORY ${kit}/tcl/tcl8.5 ${kit}/tcl/tk8.5 ${kit}/tcl/tcl8
          DESTINATION ${destination}/lib COMPONENT runtime
          PATTERN demos EXCLUDE)
  set(output ${CMAKE_BINARY_DIR}/application/lib-tk)
  file(GLOB lib_tk CONFIGURE_DEPENDS ${kit}/Lib/lib-tk/*.py)
  add_custom_command(
    OUTPUT ${output}.stamp
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${output}
    COMMAND ${PYTHON27_HOST_COMMAND} ${_morvex_compile} byte-code ${output} ${kit}/Lib/lib-tk
    COMMAND ${CMAKE_COMMAND} -E touch ${output}.stamp
    DEPENDS ${_morvex_compile} ${lib_tk}
    COMMENT "Compiling the kit's lib-tk"
    VERBATIM)
  add_custom_target(morvex_lib_tk ALL DEPENDS ${output}.stamp)
  install(DIRECTORY ${output}/ DESTINATION ${destination}/lib/lib-tk COMPONENT runtime)
endfunction()
