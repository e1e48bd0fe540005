# The application's own code in the folder's modules/, compiled by the build,
# and Tk in the Windows folder when the application uses it.
#
# MORVEX_APPLICATION_DIRS: the folders whose contents (packages, modules,
# data files) go into modules/. Each module goes in as byte code that names
# its source in modules/python-source/ (scripts/compile_application.py says
# why), so the installed folder never compiles and never writes.
#
# MORVEX_TK (Windows): AUTO puts Tk in the folder when a module of the
# application imports Tkinter or one of its companions, ON always, OFF never.
# With Tk: _tkinter.pyd, tcl85.dll and tk85.dll in DLLs/; the Tcl and Tk
# script libraries in lib/tcl8.5, lib/tk8.5 and lib/tcl8, where tcl85.dll
# looks for them relative to its own path (so python.org's FixTk, finding no
# tcl/ folder, sets no variable); the kit's lib-tk compiled in lib/lib-tk,
# which the interpreter puts on sys.path itself.
set(MORVEX_APPLICATION_DIRS ${PROJECT_SOURCE_DIR}/examples/app CACHE STRING
    "Folders (a list) whose packages, modules and data files the folder's modules/ holds")
set(MORVEX_TK AUTO CACHE STRING "Carry Tk in the Windows folder: AUTO (when the application imports Tkinter), ON or OFF")
set_property(CACHE MORVEX_TK PROPERTY STRINGS AUTO ON OFF)

set(_morvex_compile ${CMAKE_CURRENT_LIST_DIR}/../scripts/compile_application.py)
# The host interpreter as the build runs it: deaf to the machine's PYTHON*
# variables, which could change what it compiles.
set(_morvex_python2 ${CMAKE_COMMAND} -E env --unset=PYTHONPATH --unset=PYTHONHOME
                    --unset=PYTHONOPTIMIZE ${PYTHON27_HOST_INTERPRETER} -S -E)

# Checks the folders and compiles them into BUILD/application/modules with
# the target morvex_application; installs that with the runtime component.
function(morvex_application destination)
  set(folders "")
  set(sources "")
  foreach(folder IN LISTS MORVEX_APPLICATION_DIRS)
    get_filename_component(folder "${folder}" ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
    if(NOT IS_DIRECTORY "${folder}")
      message(FATAL_ERROR "MORVEX_APPLICATION_DIRS names ${folder}, which is no folder")
    endif()
    list(APPEND folders "${folder}")
    file(GLOB_RECURSE found CONFIGURE_DEPENDS "${folder}/*")
    list(APPEND sources ${found})
  endforeach()
  set(entry "")
  foreach(folder IN LISTS folders)
    if(EXISTS "${folder}/morvex/desktop/main.py")
      set(entry "${folder}/morvex/desktop/main.py")
    endif()
  endforeach()
  if(NOT entry)
    message(FATAL_ERROR "No morvex/desktop/main.py in MORVEX_APPLICATION_DIRS (${folders}): "
                        "morvex_desktop starts the application by importing morvex.desktop.main")
  endif()

  set(output ${CMAKE_BINARY_DIR}/application/modules)
  add_custom_command(
    OUTPUT ${output}.stamp
    COMMAND ${_morvex_python2} ${_morvex_compile} build ${output} ${folders}
    COMMAND ${CMAKE_COMMAND} -E touch ${output}.stamp
    DEPENDS ${_morvex_compile} ${sources}
    COMMENT "Compiling the application into modules/"
    VERBATIM)
  add_custom_target(morvex_application ALL DEPENDS ${output}.stamp)
  install(DIRECTORY ${output}/ DESTINATION ${destination}/modules COMPONENT runtime)

  if(WIN32)
    _morvex_tk("${destination}" "${folders}" "${sources}")
  endif()
endfunction()

function(_morvex_tk destination folders sources)
  if(MORVEX_TK STREQUAL AUTO)
    # What the modules import is read here: an edit that changes it
    # configures again.
    list(FILTER sources INCLUDE REGEX "\\.py$")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${sources})
    execute_process(COMMAND ${_morvex_python2} ${_morvex_compile} uses-tk ${folders}
                    OUTPUT_VARIABLE uses RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "Cannot read which modules the application imports")
    endif()
    set(tk OFF)
    set(why "imports no Tkinter")
    if(uses)
      set(tk ON)
      set(why "imports Tkinter")
    endif()
    message(STATUS "Tk in the application folder: ${tk} (MORVEX_TK=AUTO: the application ${why})")
  elseif(MORVEX_TK MATCHES "^(ON|OFF)$")
    set(tk ${MORVEX_TK})
  else()
    message(FATAL_ERROR "MORVEX_TK=${MORVEX_TK}: AUTO, ON or OFF")
  endif()
  if(NOT tk)
    return()
  endif()

  set(kit ${PYTHON27_WINDOWS_DIR})
  foreach(file DLLs/_tkinter.pyd DLLs/tcl85.dll DLLs/tk85.dll tcl/tcl8.5/init.tcl
               tcl/tk8.5/tk.tcl Lib/lib-tk/Tkinter.py)
    if(NOT EXISTS ${kit}/${file})
      message(FATAL_ERROR "Tk is to be in the folder (MORVEX_TK=${MORVEX_TK}), but the kit "
                          "${kit} has no ${file}")
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
    COMMAND ${_morvex_python2} ${_morvex_compile} byte-code ${output} ${kit}/Lib/lib-tk
    COMMAND ${CMAKE_COMMAND} -E touch ${output}.stamp
    DEPENDS ${_morvex_compile} ${lib_tk}
    COMMENT "Compiling the kit's lib-tk"
    VERBATIM)
  add_custom_target(morvex_lib_tk ALL DEPENDS ${output}.stamp)
  install(DIRECTORY ${output}/ DESTINATION ${destination}/lib/lib-tk COMPONENT runtime)
endfunction()
