# The application folder, but for the two programs: the application's own
# code, the interpreter with the library the application reaches, the
# extension modules with their DLLs, the Visual C++ 2008 runtime and Tk.
# One author lays all of it, scripts/application_folder (its layout.py names
# the steps in order); this module asks it at configure what the build needs
# and runs it at build.
#
#   morvex_application_folder(DESTINATION)
#       plans the folder at configure, lays it at build into
#       BUILD/application-folder/ (target morvex_application_folder) and
#       installs that tree as it is into DESTINATION, with the runtime
#       component
#
# Inputs (cache variables):
#   MORVEX_APPLICATION_DIRS  the folders whose contents (packages, modules,
#                            data files) go into modules/, compiled (each
#                            module's byte code names its source in
#                            modules/python-source/); one holds
#                            morvex/desktop/main.py
#   MORVEX_TK                Windows: AUTO carries Tk when a module of the
#                            application imports Tkinter or a companion, ON
#                            always, OFF never
#   MORVEX_STDLIB            Windows: IMPORTED lays in only the library
#                            modules the application reaches by its imports,
#                            with every codec and what the interpreter and
#                            the kit's C code import themselves; ALL, every
#                            module and extension module of the kit
#   MORVEX_INCLUDE_MODULES   Windows: modules the folder carries whatever the
#   MORVEX_EXCLUDE_MODULES   application imports, or leaves out with what only
#                            they import (NAME.* a package with its modules)
#   MORVEX_REQUIREMENTS      Windows: requirements files (pins, -r, --hash),
#                            installed by pip for Windows x86-64 CPython 2.7
#                            into BUILD/application-folder-packages at build
#                            (again when a file or a wheel changes)
#   MORVEX_WHEEL_DIRS        Windows: the folders of wheels pip takes them from
#                            alone; empty, pip's own configuration decides
#   MORVEX_PACKAGE_DIRS      Windows: folders laid out like site-packages (a
#                            copy of a Windows machine's Lib/site-packages)
#                            The packages are a library: only their modules
#                            the application reaches go into modules/, with
#                            each reached package's data files, the folders
#                            their .pth files name in the search-path file,
#                            and the DLLs a package carries apart beside the
#                            program
#   MORVEX_VC90_RUNTIME_DIR  Windows: the release engineer's copy of the
#                            Visual C++ 2008 SP1 x64 runtime (msvcr90.dll, and
#                            msvcp90.dll and msvcm90.dll where present),
#                            carried as the private assembly that
#                            python27.dll asks for; empty, none is carried
# and what python27.cmake sets (PYTHON27_RUNTIME, PYTHON27_STDLIB,
# PYTHON27_HOST_COMMAND), PYTHON27_WINDOWS_DIR, the build's time
# MORVEX_SOURCE_DATE_EPOCH (python27.zip's dates) and the target
# MorvexStartup::check_app_folder, which reads the PE files and checks the
# folder. The build writes BUILD/application-modules.txt: each file laid in,
# its size, kind and why, the imports that resolve to nothing and those the
# build cannot follow.
#
# Runs at configure (the plan: the settings checked, the Tk decision, the
# names of MORVEX_INCLUDE_MODULES resolved, BUILD/application-folder.json
# and .cmake written) and at build (the layout).
set(MORVEX_APPLICATION_DIRS ${PROJECT_SOURCE_DIR}/examples/app CACHE STRING
    "Folders (a list) whose packages, modules and data files the folder's modules/ holds")
set(MORVEX_TK AUTO CACHE STRING "Carry Tk in the Windows folder: AUTO (when the application imports Tkinter), ON or OFF")
set_property(CACHE MORVEX_TK PROPERTY STRINGS AUTO ON OFF)
set(MORVEX_STDLIB IMPORTED CACHE STRING
    "Windows: the library modules the folder carries: IMPORTED (what the application imports) or ALL")
set_property(CACHE MORVEX_STDLIB PROPERTY STRINGS IMPORTED ALL)
set(MORVEX_INCLUDE_MODULES "" CACHE STRING
    "Windows: modules the folder carries whatever the application imports (NAME.* a whole package)")
set(MORVEX_EXCLUDE_MODULES "" CACHE STRING
    "Windows: modules the folder leaves out, with what only they import (NAME.* a whole package)")
set(MORVEX_REQUIREMENTS "" CACHE STRING
    "Windows: requirements files (a list, pip's format) of the third-party packages the folder carries")
set(MORVEX_WHEEL_DIRS "" CACHE STRING
    "Windows: folders of wheels (a list) that the requirements are taken from alone; empty: pip's own index")
set(MORVEX_PACKAGE_DIRS "" CACHE STRING
    "Windows: folders laid out like site-packages (a list) whose packages the folder carries")
set(MORVEX_VC90_RUNTIME_DIR "" CACHE PATH
    "Folder of the Visual C++ 2008 SP1 x64 runtime (msvcr90.dll, ...) to carry beside python27.dll")

set(_morvex_layout ${CMAKE_CURRENT_LIST_DIR}/../scripts/application_folder)

function(morvex_application_folder destination)
  set(output ${CMAKE_BINARY_DIR}/application-folder)
  set(plan ${output}.json)
  set(arguments --runtime ${PYTHON27_RUNTIME} --stdlib ${MORVEX_STDLIB} --tk ${MORVEX_TK}
                --base ${PROJECT_SOURCE_DIR} --epoch ${MORVEX_SOURCE_DATE_EPOCH}
                --output ${output} --report ${CMAKE_BINARY_DIR}/application-modules.txt
                --plan ${plan} --cmake-file ${output}.cmake)
  if(WIN32)
    list(APPEND arguments --platform windows --kit ${PYTHON27_WINDOWS_DIR})
    if(MORVEX_VC90_RUNTIME_DIR)
      list(APPEND arguments --vc90-dir ${MORVEX_VC90_RUNTIME_DIR})
    endif()
    _morvex_note_missing_runtime()
  else()
    list(APPEND arguments --platform posix --stdlib-dir ${PYTHON27_STDLIB})
  endif()
  foreach(setting application:MORVEX_APPLICATION_DIRS include:MORVEX_INCLUDE_MODULES
                  exclude:MORVEX_EXCLUDE_MODULES requirements:MORVEX_REQUIREMENTS
                  wheel-dir:MORVEX_WHEEL_DIRS package-dir:MORVEX_PACKAGE_DIRS)
    string(REGEX REPLACE ":.*" "" option ${setting})
    string(REGEX REPLACE ".*:" "" variable ${setting})
    foreach(item IN LISTS ${variable})
      list(APPEND arguments --${option} ${item})
    endforeach()
  endforeach()
  execute_process(COMMAND ${PYTHON27_HOST_COMMAND} ${_morvex_layout} plan ${arguments}
                  RESULT_VARIABLE failed ERROR_VARIABLE refusal ERROR_STRIP_TRAILING_WHITESPACE)
  if(failed)
    message(FATAL_ERROR "${refusal}")
  endif()
  include(${output}.cmake)

  set(staged "")
  if(MORVEX_FOLDER_STAGING_DEPENDS)
    set(staged ${output}-packages.stamp)
    add_custom_command(
      OUTPUT ${staged}
      COMMAND ${PYTHON27_HOST_COMMAND} ${_morvex_layout} stage ${plan}
      COMMAND ${CMAKE_COMMAND} -E touch ${staged}
      DEPENDS ${plan} ${MORVEX_FOLDER_STAGING_DEPENDS}
      COMMENT "Staging the packages of MORVEX_REQUIREMENTS with pip"
      VERBATIM)
  endif()
  add_custom_command(
    OUTPUT ${output}.stamp
    COMMAND ${PYTHON27_HOST_COMMAND} ${_morvex_layout} lay ${plan}
            $<TARGET_FILE:MorvexStartup::check_app_folder>
    COMMAND ${CMAKE_COMMAND} -E touch ${output}.stamp
    DEPENDS ${plan} ${MORVEX_FOLDER_DEPENDS} ${staged}
            $<TARGET_FILE:MorvexStartup::check_app_folder>
    COMMENT "Laying the application folder (MORVEX_STDLIB=${MORVEX_FOLDER_STDLIB})"
    VERBATIM)
  add_custom_target(morvex_application_folder ALL DEPENDS ${output}.stamp)
  add_dependencies(morvex_application_folder morvex_launcher_tools)
  install(DIRECTORY ${output}/ DESTINATION ${destination} COMPONENT runtime)
endfunction()

# Said once: a re-run of configure with the same empty value stays quiet.
function(_morvex_note_missing_runtime)
  if(MORVEX_VC90_RUNTIME_DIR)
    set(MORVEX_VC90_RUNTIME_NOTED FALSE CACHE INTERNAL "")
  elseif(NOT MORVEX_VC90_RUNTIME_NOTED)
    message(WARNING "No Visual C++ 2008 runtime is carried in the application folder: it will "
                    "start only where the Visual C++ 2008 SP1 Redistributable (x64) is "
                    "installed. Name a folder holding its msvcr90.dll (and msvcp90.dll, "
                    "msvcm90.dll) with -DMORVEX_VC90_RUNTIME_DIR=<folder> to carry it.")
    set(MORVEX_VC90_RUNTIME_NOTED TRUE CACHE INTERNAL "")
  endif()
endfunction()
