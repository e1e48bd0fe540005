# The interpreter's part of the application folder: everything but the
# programs and the application's own code.
#
#   morvex_python_runtime(DESTINATION [TK] [APPLICATION FOLDER...] [SOURCES FILE...])
#       installs into DESTINATION, with the runtime component, the files the
#       embedded interpreter needs for the application of FOLDERs, whose
#       files are FILEs (morvex_application.cmake gives both); TK adds Tk
#
# Windows: python27.dll, and python27.zip beside it, the only place the
# interpreter looks for the standard library before the first import; DLLs/
# with the kit's extension modules and the DLLs they import; the Visual C++
# 2008 runtime as a private assembly beside python27.dll and, when a file of
# DLLs/ asks for it, in DLLs/ (morvex_vc90_runtime.cmake). With TK:
# _tkinter.pyd, tcl85.dll and tk85.dll in DLLs/; the Tcl and Tk script
# libraries in lib/tcl8.5, lib/tk8.5 and lib/tcl8, where tcl85.dll looks for
# them relative to its own path (so python.org's FixTk, finding no tcl/
# folder, sets no variable); the kit's lib-tk compiled in lib/lib-tk, which
# the interpreter puts on sys.path itself.
#
# Which modules: the cache variable MORVEX_STDLIB. IMPORTED (the default)
# lays in only what the application reaches by its imports, followed
# through the kit's library (scripts/module_graph.py), with every codec and
# what the interpreter and the kit's C code import themselves; ALL, every
# module and extension module of the kit. MORVEX_INCLUDE_MODULES and
# MORVEX_EXCLUDE_MODULES (lists of module names, NAME.* a package with all
# its modules) add what the build cannot see and leave out what it need not
# carry. The build writes BUILD/application-modules.txt: each module laid
# in, its size and why, the imports that resolve to nothing and those it
# cannot follow.
#
# POSIX: the shared library and the whole standard library in lib/, where
# the program (its RUNPATH) and the interpreter, at home in the program
# folder, find them.
#
# Inputs: what python27.cmake sets (PYTHON27_RUNTIME, PYTHON27_STDLIB,
# PYTHON27_HOST_COMMAND), the cache variable PYTHON27_WINDOWS_DIR, the
# target MorvexStartup::check_app_folder, which checks the application's own
# extension modules, and the build's time MORVEX_SOURCE_DATE_EPOCH for
# python27.zip's dates. Runs at configure (the module names are checked
# then) and at build (scripts/compile_application.py runtime, target
# morvex_python_runtime, lays BUILD/runtime/).
include(${CMAKE_CURRENT_LIST_DIR}/morvex_vc90_runtime.cmake)

set(MORVEX_STDLIB IMPORTED CACHE STRING
    "Windows: the library modules the folder carries: IMPORTED (what the application imports) or ALL")
set_property(CACHE MORVEX_STDLIB PROPERTY STRINGS IMPORTED ALL)
set(MORVEX_INCLUDE_MODULES "" CACHE STRING
    "Windows: modules the folder carries whatever the application imports (NAME.* a whole package)")
set(MORVEX_EXCLUDE_MODULES "" CACHE STRING
    "Windows: modules the folder leaves out, with what only they import (NAME.* a whole package)")

set(_morvex_scripts ${CMAKE_CURRENT_LIST_DIR}/../scripts)
set(_morvex_compile ${_morvex_scripts}/compile_application.py)

function(morvex_python_runtime destination)
  cmake_parse_arguments(PARSE_ARGV 1 arg "TK" "" "APPLICATION;SOURCES")
  if(WIN32)
    morvex_install_vc90_runtime(${PYTHON27_RUNTIME} assembly ${destination})
    _morvex_windows_runtime(${destination} "${arg_TK}" "${assembly}" "${arg_APPLICATION}"
                            "${arg_SOURCES}")
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

# A JSON array of the texts.
function(_morvex_json_list out)
  set(items "")
  foreach(text IN LISTS ARGN)
    string(REPLACE "\\" "\\\\" text "${text}")
    string(REPLACE "\"" "\\\"" text "${text}")
    list(APPEND items "\"${text}\"")
  endforeach()
  list(JOIN items ", " items)
  set(${out} "[${items}]" PARENT_SCOPE)
endfunction()

function(_morvex_windows_runtime destination tk assembly folders sources)
  set(kit ${PYTHON27_WINDOWS_DIR})
  if(NOT MORVEX_STDLIB MATCHES "^(IMPORTED|ALL)$")
    message(FATAL_ERROR "MORVEX_STDLIB=${MORVEX_STDLIB}: IMPORTED or ALL")
  endif()
  set(stdlib ${MORVEX_STDLIB})
  if(stdlib STREQUAL IMPORTED AND NOT EXISTS ${kit}/Lib/os.py)
    message(WARNING "MORVEX_STDLIB=IMPORTED needs the kit's Lib/ to follow imports; the kit "
                    "${kit} has none, so the folder carries its python27.zip whole")
    set(stdlib ALL)
  endif()
  if(tk)
    foreach(file DLLs/_tkinter.pyd DLLs/tcl85.dll DLLs/tk85.dll tcl/tcl8.5/init.tcl
                 tcl/tk8.5/tk.tcl Lib/lib-tk/Tkinter.py)
      if(NOT EXISTS ${kit}/${file})
        message(FATAL_ERROR "Tk is to be in the folder, but the kit ${kit} has no ${file}")
      endif()
    endforeach()
    set(tk true)
  else()
    set(tk false)
  endif()

  # What the build step reads, written only when it changes.
  set(output ${CMAKE_BINARY_DIR}/runtime)
  set(settings ${CMAKE_BINARY_DIR}/runtime-settings.json)
  _morvex_json_list(application ${folders})
  _morvex_json_list(include ${MORVEX_INCLUDE_MODULES})
  _morvex_json_list(exclude ${MORVEX_EXCLUDE_MODULES})
  string(REPLACE "\\" "/" kit_json "${kit}")
  file(CONFIGURE OUTPUT ${settings} @ONLY CONTENT [[
{"stdlib": "@stdlib@", "tk": @tk@, "epoch": @MORVEX_SOURCE_DATE_EPOCH@,
 "lib": "@kit_json@/Lib", "dlls": "@kit_json@/DLLs", "python27_dll": "@kit_json@/python27.dll",
 "assembly": "@assembly@", "report": "@CMAKE_BINARY_DIR@/application-modules.txt",
 "application": @application@,
 "include": @include@, "exclude": @exclude@}
]])
  # A name of neither the kit nor the application stops configure; an
  # excluded module that the application imports is a warning.
  if(MORVEX_INCLUDE_MODULES OR MORVEX_EXCLUDE_MODULES)
    execute_process(COMMAND ${PYTHON27_HOST_COMMAND} ${_morvex_compile} check-modules ${settings}
                    OUTPUT_VARIABLE warnings ERROR_VARIABLE refusal RESULT_VARIABLE failed)
    if(failed)
      string(REGEX REPLACE "^compile_application: " "" refusal "${refusal}")
      message(FATAL_ERROR "${refusal}")
    endif()
    string(REGEX REPLACE "\n$" "" warnings "${warnings}")
    string(REPLACE "\n" ";" warnings "${warnings}")
    foreach(warning IN LISTS warnings)
      message(WARNING "${warning}")
    endforeach()
  endif()

  if(MORVEX_EXCLUDE_MODULES)
    # The warnings above follow the modules' imports.
    set(modules ${sources})
    list(FILTER modules INCLUDE REGEX "\\.py$")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${modules})
  endif()
  file(GLOB_RECURSE kit_files CONFIGURE_DEPENDS ${kit}/Lib/*.py ${kit}/DLLs/*)
  add_custom_command(
    OUTPUT ${output}.stamp
    COMMAND ${PYTHON27_HOST_COMMAND} ${_morvex_compile} runtime ${settings} ${output}
            $<TARGET_FILE:MorvexStartup::check_app_folder>
    COMMAND ${CMAKE_COMMAND} -E touch ${output}.stamp
    DEPENDS ${_morvex_compile} ${_morvex_scripts}/module_graph.py ${settings} ${sources}
            ${kit_files}
    COMMENT "Laying the library and extension modules the application needs (MORVEX_STDLIB=${stdlib})"
    VERBATIM)
  add_custom_target(morvex_python_runtime ALL DEPENDS ${output}.stamp)
  add_dependencies(morvex_python_runtime morvex_launcher_tools)

  # python.org's files ship as python.org made them.
  install(FILES ${PYTHON27_RUNTIME} DESTINATION ${destination} COMPONENT runtime)
  if(EXISTS ${kit}/Lib/os.py)
    install(FILES ${output}/python27.zip DESTINATION ${destination} COMPONENT runtime)
  else()
    install(FILES ${kit}/python27.zip DESTINATION ${destination} COMPONENT runtime)
  endif()
  install(DIRECTORY ${output}/DLLs DESTINATION ${destination} COMPONENT runtime)
  if(tk)
    install(DIRECTORY ${kit}/tcl/tcl8.5 ${kit}/tcl/tk8.5 ${kit}/tcl/tcl8
            DESTINATION ${destination}/lib COMPONENT runtime
            PATTERN demos EXCLUDE)
    install(DIRECTORY ${output}/lib-tk/ DESTINATION ${destination}/lib/lib-tk COMPONENT runtime)
  endif()
endfunction()
