# Finds the Python 2.7 interpreter that morvex_desktop embeds and defines the
# interface target python27 (headers as system headers: under C++17 they use
# the removed `register` keyword). Sets PYTHON27_FOUND, and for the install
# step PYTHON27_RUNTIME (the shared library) and PYTHON27_STDLIB (standard
# library folder, POSIX) or PYTHON27_KIT_EXTRAS (python27.zip, DLLs/, Windows).
#
# POSIX: PYTHON27_ROOT names the prefix (default: the machine's pyenv 2.7.18).
# Windows: PYTHON27_WINDOWS_DIR names a development kit laid out as a Windows
# installation: include/, libs/ with an import library, python27.dll. Without
# one the bootstrapper is skipped and everything else still builds.
set(PYTHON27_FOUND FALSE)

if(WIN32)
  set(PYTHON27_WINDOWS_DIR "" CACHE PATH
      "Windows Python 2.7 kit: include/, libs/ (python27.lib or libpython27[.dll].a), python27.dll")
  if(NOT PYTHON27_WINDOWS_DIR)
    message(STATUS "morvex_desktop skipped: no Windows Python 2.7 kit (set PYTHON27_WINDOWS_DIR)")
    return()
  endif()
  set(kit ${PYTHON27_WINDOWS_DIR})
  set(import_library "")
  foreach(name libpython27.dll.a libpython27.a python27.lib)
    if(NOT import_library AND EXISTS ${kit}/libs/${name})
      set(import_library ${kit}/libs/${name})
    endif()
  endforeach()
  if(NOT EXISTS ${kit}/include/Python.h OR NOT EXISTS ${kit}/include/pyconfig.h
     OR NOT import_library OR NOT EXISTS ${kit}/python27.dll)
    message(FATAL_ERROR "PYTHON27_WINDOWS_DIR=${kit} is not a Python 2.7 kit: it needs "
                        "include/Python.h, include/pyconfig.h, libs/python27.lib (or "
                        "libpython27.a, libpython27.dll.a) and python27.dll")
  endif()
  add_library(python27 INTERFACE)
  target_include_directories(python27 SYSTEM INTERFACE ${kit}/include)
  # pyconfig.h only recognises 64-bit Windows under MSVC.
  target_compile_definitions(python27 INTERFACE MS_WIN64)
  target_link_libraries(python27 INTERFACE ${import_library})
  set(PYTHON27_RUNTIME ${kit}/python27.dll)
  set(PYTHON27_KIT_EXTRAS "")
  foreach(extra python27.zip DLLs)
    if(EXISTS ${kit}/${extra})
      list(APPEND PYTHON27_KIT_EXTRAS ${kit}/${extra})
    endif()
  endforeach()
  set(PYTHON27_FOUND TRUE)
  return()
endif()

if(DEFINED ENV{PYENV_ROOT})
  set(default_root $ENV{PYENV_ROOT}/versions/2.7.18)
else()
  set(default_root /root/.pyenv/versions/2.7.18)
endif()
set(PYTHON27_ROOT ${default_root} CACHE PATH "Prefix of the Python 2.7 interpreter to embed")
if(NOT EXISTS ${PYTHON27_ROOT}/include/python2.7/Python.h)
  message(FATAL_ERROR "No Python 2.7 under PYTHON27_ROOT=${PYTHON27_ROOT} (no "
                      "include/python2.7/Python.h). Point -DPYTHON27_ROOT=<prefix> at a "
                      "Python 2.7 built with --enable-shared.")
endif()
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
