# Finds the Python 2.7 that morvex_desktop embeds, and the build host's
# Python 2.7 that compiles the folder's Python code. Finds, and nothing else:
# what goes into the folder is morvex_application_folder.cmake's.
#
# Inputs (cache variables):
#   MORVEX_BOOTSTRAPPER        AUTO builds morvex_desktop when an interpreter
#                              is found and says plainly when it is left out,
#                              ON makes a missing interpreter an error, OFF
#                              leaves it out without looking
#   PYTHON27_ROOT              POSIX: the prefix of the build host's Python
#                              2.7; unset, taken from the environment or
#                              searched for by scripts/find-python27.sh
#                              (pyenv's 2.7 versions, python2.7 on PATH)
#   PYTHON27_WINDOWS_DIR       Windows: a Windows Python 2.7 installation:
#                              include/, libs/ with an import library,
#                              python27.dll, DLLs/, and Lib/ or python27.zip
#   PYTHON27_HOST_INTERPRETER  the build host's Python 2.7 (default: bin/python2.7
#                              of PYTHON27_ROOT); every 2.7 release shares one
#                              byte-code format
#
# Defines the interface target python27 (headers as system headers: under
# C++17 they use the removed `register` keyword) and sets:
#   PYTHON27_FOUND         whether morvex_desktop can be built
#   PYTHON27_RUNTIME       the interpreter's shared library
#   PYTHON27_STDLIB        POSIX: the standard library's folder
#   PYTHON27_HOST_COMMAND  the build host's Python 2.7 as the build runs it,
#                          deaf to the machine's PYTHON* variables, which
#                          could change what it compiles (a list: the command
#                          and its first arguments)
# Runs at configure.
set(PYTHON27_FOUND FALSE)
set(MORVEX_BOOTSTRAPPER AUTO CACHE STRING "Build morvex_desktop: AUTO, ON or OFF")
set_property(CACHE MORVEX_BOOTSTRAPPER PROPERTY STRINGS AUTO ON OFF)
if(MORVEX_BOOTSTRAPPER STREQUAL OFF)
  message(STATUS "morvex_desktop left out (MORVEX_BOOTSTRAPPER=OFF)")
  return()
endif()

# Sets PYTHON27_ROOT, the build host's Python 2.7, when it is not set yet:
# the environment's PYTHON27_ROOT or the first one found. Empty when there
# is none, so a later configure searches again.
macro(python27_find_root)
  set(PYTHON27_ROOT "" CACHE PATH "Prefix of the build host's Python 2.7 (empty: search for it)")
  if(NOT PYTHON27_ROOT)
    execute_process(COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/find-python27.sh
                    OUTPUT_VARIABLE python27_found OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE python27_not_found)
    if(NOT python27_not_found)
      set_property(CACHE PYTHON27_ROOT PROPERTY VALUE ${python27_found})
    endif()
  endif()
endmacro()

# PYTHON27_HOST_INTERPRETER, the build host's Python 2.7 that compiles
# Python code for the folder (the application's, and a kit's Lib/): every
# 2.7 release shares one byte-code format.
macro(python27_host_interpreter)
  set(PYTHON27_HOST_INTERPRETER "" CACHE FILEPATH
      "Python 2.7 of the build host that compiles the folder's Python code")
  if(NOT PYTHON27_HOST_INTERPRETER)
    python27_find_root()
    if(PYTHON27_ROOT)
      set_property(CACHE PYTHON27_HOST_INTERPRETER PROPERTY VALUE ${PYTHON27_ROOT}/bin/python2.7)
    endif()
  endif()
  if(NOT EXISTS "${PYTHON27_HOST_INTERPRETER}")
    message(FATAL_ERROR "Compiling the folder's Python code needs the build host's Python 2.7: "
                        "none at PYTHON27_HOST_INTERPRETER=${PYTHON27_HOST_INTERPRETER} (set it, "
                        "or PYTHON27_ROOT to the prefix of a Python 2.7)")
  endif()
  set(PYTHON27_HOST_COMMAND ${CMAKE_COMMAND} -E env --unset=PYTHONPATH --unset=PYTHONHOME
                            --unset=PYTHONOPTIMIZE ${PYTHON27_HOST_INTERPRETER} -S -E -B)
endmacro()

# Leaves the bootstrapper out, or stops when it was asked for.
macro(python27_missing)
  string(CONCAT python27_reason ${ARGN})
  if(MORVEX_BOOTSTRAPPER STREQUAL ON)
    message(FATAL_ERROR "${python27_reason}")
  endif()
  message(WARNING "morvex_desktop left out: ${python27_reason}. The launcher and make_launcher "
                  "are built all the same (-DMORVEX_BOOTSTRAPPER=OFF silences this).")
  return()
endmacro()

if(WIN32)
  set(PYTHON27_WINDOWS_DIR "" CACHE PATH
      "Windows Python 2.7 installation: include/, libs/, python27.dll, DLLs/, Lib/ or python27.zip")
  if(NOT PYTHON27_WINDOWS_DIR)
    python27_missing("no Windows Python 2.7 kit (set PYTHON27_WINDOWS_DIR)")
  endif()
  set(kit ${PYTHON27_WINDOWS_DIR})
  set(import_library "")
  foreach(name libpython27.dll.a libpython27.a python27.lib)
    if(NOT import_library AND EXISTS ${kit}/libs/${name})
      set(import_library ${kit}/libs/${name})
    endif()
  endforeach()
  if(NOT EXISTS ${kit}/include/Python.h OR NOT EXISTS ${kit}/include/pyconfig.h
     OR NOT import_library OR NOT EXISTS ${kit}/python27.dll
     OR NOT (EXISTS ${kit}/python27.zip OR EXISTS ${kit}/Lib/os.py))
    message(FATAL_ERROR "PYTHON27_WINDOWS_DIR=${kit} is not a Python 2.7 kit: it needs "
                        "include/Python.h, include/pyconfig.h, libs/python27.lib (or "
                        "libpython27.a, libpython27.dll.a), python27.dll, and Lib/ or python27.zip")
  endif()
  add_library(python27 INTERFACE)
  target_include_directories(python27 SYSTEM INTERFACE ${kit}/include)
  # pyconfig.h only recognises 64-bit Windows under MSVC.
  target_compile_definitions(python27 INTERFACE MS_WIN64)
  target_link_libraries(python27 INTERFACE ${import_library})
  set(PYTHON27_RUNTIME ${kit}/python27.dll)
  python27_host_interpreter()
  set(PYTHON27_FOUND TRUE)
  message(STATUS "morvex_desktop: built against the Windows Python 2.7 kit ${kit}")
  return()
endif()

python27_find_root()
if(NOT PYTHON27_ROOT)
  python27_missing("no Python 2.7 found under pyenv's versions ($PYENV_ROOT, ~/.pyenv, `pyenv "
                   "root`) or on PATH: point -DPYTHON27_ROOT=<prefix> at a Python 2.7 built with "
                   "--enable-shared")
endif()
if(NOT EXISTS ${PYTHON27_ROOT}/include/python2.7/Python.h)
  python27_missing("no Python 2.7 under PYTHON27_ROOT=${PYTHON27_ROOT} (no "
                   "include/python2.7/Python.h): point -DPYTHON27_ROOT=<prefix> at a Python 2.7 "
                   "built with --enable-shared")
endif()
python27_host_interpreter()
if(NOT Python2_ROOT_DIR)
  set(Python2_ROOT_DIR ${PYTHON27_ROOT})
endif()
find_package(Python2 2.7 EXACT REQUIRED COMPONENTS Development)

add_library(python27 INTERFACE)
target_include_directories(python27 SYSTEM INTERFACE ${Python2_INCLUDE_DIRS})
target_link_libraries(python27 INTERFACE ${Python2_LIBRARIES})
# The soname file is what the program loads; the stdlib sits beside it.
list(GET Python2_LIBRARY_DIRS 0 python27_library_dir)
set(PYTHON27_RUNTIME ${python27_library_dir}/libpython2.7.so.1.0)
set(PYTHON27_STDLIB ${python27_library_dir}/python2.7)
if(NOT EXISTS ${PYTHON27_RUNTIME} OR NOT EXISTS ${PYTHON27_STDLIB}/os.py)
  message(FATAL_ERROR "Python 2.7 in ${python27_library_dir} has no libpython2.7.so.1.0 or no "
                      "standard library in python2.7/: a shared build is needed")
endif()
set(PYTHON27_FOUND TRUE)
