# The Visual C++ 2008 runtime that python.org's python27.dll is linked with,
# carried in the application folder as a private assembly beside it, so the
# folder starts on a Windows machine that has no Visual C++ 2008
# Redistributable installed.
#
# MORVEX_VC90_RUNTIME_DIR names the release engineer's copy of Microsoft's
# redistributable files: msvcr90.dll, and msvcp90.dll and msvcm90.dll where
# present. They go into Microsoft.VC90.CRT/ with a manifest whose identity is
# the one python27.dll's embedded manifest asks for (scripts/vc90_assembly.py
# reads it): the loader takes no other version.
#
#   morvex_install_vc90_runtime(PYTHON27_DLL ASSEMBLY_OUT FOLDER...)
#       installs the assembly that PYTHON27_DLL asks for into each FOLDER,
#       with the runtime component, and sets ASSEMBLY_OUT to the assembly's
#       folder in the build, BUILD/Microsoft.VC90.CRT (the manifest and the
#       files), for other folders to copy; empty when no runtime is carried
#
# Input: the cache variable MORVEX_VC90_RUNTIME_DIR; empty, the folder
# carries no runtime, and configure warns once. Runs at configure (the
# identity is read then; the script and the files are configure
# dependencies; the assembly is laid out in the build folder then).
set(MORVEX_VC90_RUNTIME_DIR "" CACHE PATH
    "Folder of the Visual C++ 2008 SP1 x64 runtime (msvcr90.dll, ...) to carry beside python27.dll")

function(morvex_install_vc90_runtime python27_dll assembly_out)
  set(folders ${ARGN})
  set(${assembly_out} "" PARENT_SCOPE)
  if(NOT MORVEX_VC90_RUNTIME_DIR)
    # Said once: a re-run of configure with the same empty value stays quiet.
    if(NOT MORVEX_VC90_RUNTIME_NOTED)
      message(WARNING "No Visual C++ 2008 runtime is carried in the application folder: it will "
                      "start only where the Visual C++ 2008 SP1 Redistributable (x64) is "
                      "installed. Name a folder holding its msvcr90.dll (and msvcp90.dll, "
                      "msvcm90.dll) with -DMORVEX_VC90_RUNTIME_DIR=<folder> to carry it.")
      set(MORVEX_VC90_RUNTIME_NOTED TRUE CACHE INTERNAL "")
    endif()
    return()
  endif()
  set(MORVEX_VC90_RUNTIME_NOTED FALSE CACHE INTERNAL "")

  # Matched without regard to case, as Windows names them.
  set(files "")
  file(GLOB present LIST_DIRECTORIES false "${MORVEX_VC90_RUNTIME_DIR}/*")
  foreach(wanted msvcr90.dll msvcp90.dll msvcm90.dll)
    foreach(file IN LISTS present)
      get_filename_component(name ${file} NAME)
      string(TOLOWER ${name} name)
      if(name STREQUAL wanted)
        list(APPEND files ${file})
        set(found_${wanted} TRUE)
      endif()
    endforeach()
  endforeach()
  if(NOT found_msvcr90.dll)
    message(FATAL_ERROR "MORVEX_VC90_RUNTIME_DIR=${MORVEX_VC90_RUNTIME_DIR} holds no msvcr90.dll: "
                        "name the folder of the Visual C++ 2008 SP1 x64 runtime files")
  endif()

  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  execute_process(COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/vc90_assembly.py
                          ${python27_dll} ${files}
                  RESULT_VARIABLE failed OUTPUT_VARIABLE manifest ERROR_VARIABLE reason
                  ERROR_STRIP_TRAILING_WHITESPACE)
  if(failed EQUAL 3)
    message(STATUS "${python27_dll} asks for no Microsoft.VC90.CRT assembly: "
                   "MORVEX_VC90_RUNTIME_DIR is not needed")
    return()
  elseif(failed)
    message(FATAL_ERROR "Cannot read which Visual C++ 2008 runtime python27.dll needs: ${reason}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${python27_dll} ${files}
               ${PROJECT_SOURCE_DIR}/scripts/vc90_assembly.py)

  set(assembly ${CMAKE_BINARY_DIR}/Microsoft.VC90.CRT)
  file(WRITE ${assembly}/Microsoft.VC90.CRT.manifest.new "${manifest}")
  file(COPY_FILE ${assembly}/Microsoft.VC90.CRT.manifest.new
       ${assembly}/Microsoft.VC90.CRT.manifest ONLY_IF_DIFFERENT)
  file(REMOVE ${assembly}/Microsoft.VC90.CRT.manifest.new)
  # The files under the names the manifest's <file> entries give them, and
  # nothing left of an earlier configure.
  file(GLOB laid LIST_DIRECTORIES false ${assembly}/*)
  list(REMOVE_ITEM laid ${assembly}/Microsoft.VC90.CRT.manifest)
  foreach(file IN LISTS files)
    get_filename_component(name ${file} NAME)
    file(COPY_FILE ${file} ${assembly}/${name} ONLY_IF_DIFFERENT)
    list(REMOVE_ITEM laid ${assembly}/${name})
  endforeach()
  if(laid)
    file(REMOVE ${laid})
  endif()
  foreach(folder IN LISTS folders)
    install(DIRECTORY ${assembly} DESTINATION ${folder} COMPONENT runtime)
  endforeach()
  set(${assembly_out} ${assembly} PARENT_SCOPE)
  string(REGEX MATCH "assemblyIdentity[^>]* version=\"([^\"]*)\"" identity "${manifest}")
  message(STATUS "The application folder carries the Visual C++ 2008 runtime from "
                 "${MORVEX_VC90_RUNTIME_DIR} as Microsoft.VC90.CRT ${CMAKE_MATCH_1}")
endfunction()
