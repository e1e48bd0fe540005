# The application's own code in the folder's modules/, compiled by the build,
# and whether the Windows folder carries Tk for it.
#
#   morvex_application(DESTINATION TK_OUT FOLDERS_OUT SOURCES_OUT)
#       checks the application's folders, compiles them into
#       BUILD/application/modules (target morvex_application) and installs
#       that as DESTINATION/modules with the runtime component; sets TK_OUT
#       to whether the folder carries Tk (always OFF outside Windows) and
#       FOLDERS_OUT to the folders, as full paths, and SOURCES_OUT to every
#       file in them
#
# Inputs (cache variables):
#   MORVEX_APPLICATION_DIRS  the folders whose contents (packages, modules,
#                            data files) go into modules/; one of them holds
#                            morvex/desktop/main.py
#   MORVEX_TK                Windows: AUTO carries Tk when a module of the
#                            application imports Tkinter or one of its
#                            companions, ON always, OFF never
# and PYTHON27_HOST_COMMAND (python27.cmake). Each module goes in as byte
# code that names its source in modules/python-source/
# (scripts/compile_application.py says why), so the installed folder never
# compiles and never writes. Runs at configure (the folders are checked and,
# for AUTO, the modules' imports read; the modules are configure
# dependencies then) and at build (the compiling).
set(MORVEX_APPLICATION_DIRS ${PROJECT_SOURCE_DIR}/examples/app CACHE STRING
    "Folders (a list) whose packages, modules and data files the folder's modules/ holds")
set(MORVEX_TK AUTO CACHE STRING "Carry Tk in the Windows folder: AUTO (when the application imports Tkinter), ON or OFF")
set_property(CACHE MORVEX_TK PROPERTY STRINGS AUTO ON OFF)

set(_morvex_compile ${CMAKE_CURRENT_LIST_DIR}/../scripts/compile_application.py)

function(morvex_application destination tk_out folders_out sources_out)
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
    COMMAND ${PYTHON27_HOST_COMMAND} ${_morvex_compile} build ${output} ${folders}
    COMMAND ${CMAKE_COMMAND} -E touch ${output}.stamp
    DEPENDS ${_morvex_compile} ${sources}
    COMMENT "Compiling the application into modules/"
    VERBATIM)
  add_custom_target(morvex_application ALL DEPENDS ${output}.stamp)
  install(DIRECTORY ${output}/ DESTINATION ${destination}/modules COMPONENT runtime)

  set(tk OFF)
  if(WIN32)
    _morvex_application_uses_tk(tk "${folders}" "${sources}")
  endif()
  set(${tk_out} ${tk} PARENT_SCOPE)
  set(${folders_out} "${folders}" PARENT_SCOPE)
  set(${sources_out} "${sources}" PARENT_SCOPE)
endfunction()

function(_morvex_application_uses_tk out folders sources)
  if(MORVEX_TK MATCHES "^(ON|OFF)$")
    set(${out} ${MORVEX_TK} PARENT_SCOPE)
    return()
  elseif(NOT MORVEX_TK STREQUAL AUTO)
    message(FATAL_ERROR "MORVEX_TK=${MORVEX_TK}: AUTO, ON or OFF")
  endif()
  # What the modules import is read here: an edit that changes it
  # configures again.
  list(FILTER sources INCLUDE REGEX "\\.py$")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${sources})
  execute_process(COMMAND ${PYTHON27_HOST_COMMAND} ${_morvex_compile} uses-tk ${folders}
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
  set(${out} ${tk} PARENT_SCOPE)
endfunction()
