# morvex_add_launcher(NAME COMMAND PROGRAM [ARG...]
#                     [DESTINATION DIR] [COMPONENT COMPONENT] [NO_INSTALL])
#
# Makes the concrete launcher NAME (NAME.exe for Windows) in the current
# binary folder at build time: a copy of the launcher stub whose trailer
# starts PROGRAM with the ARGs ahead of the launcher's own arguments. The
# command line is written by make_launcher from the tokens (its "--" form),
# so a token holding blanks or quotes reaches the child exactly as given;
# PROGRAM is the path the program will have on the machine the launcher runs
# on (a Windows path for a Windows launcher). A Windows launcher finds a
# PROGRAM named without a folder ("app.exe") beside itself, wherever the
# folder is installed: the form for a program of the same folder, and the
# function warns when a runtime launcher names one by its path inside
# CMAKE_INSTALL_PREFIX instead. Generator expressions are
# allowed in the tokens, and so are empty tokens written as "" in the call
# (an empty element of a list variable vanishes where the variable is
# expanded: "$<1:>" stands for one there). As in any CMake list, a token
# cannot hold a ";" or end with a backslash.
#
# A custom target NAME (built by default) makes the file; its property
# MORVEX_LAUNCHER_FILE holds the file's path. The launcher is installed into
# DESTINATION (default: MORVEX_APP_DIR when set, else the top of the prefix,
# where the application's programs sit) with COMPONENT (default: runtime),
# unless NO_INSTALL is given.
#
# The function needs two executable targets: MorvexStartup::launcher (the
# stub of the target system) and MorvexStartup::make_launcher (a make_launcher
# that runs on the build machine; in a cross build that is a native build of
# the tool, not the target's). The installed MorvexStartup package defines
# them as imported targets; this project defines them over its own targets.
# A target morvex_launcher_tools, when it exists, is what builds them first.
#
# When MORVEX_SIGN_PKCS12 is set, a Windows launcher is signed once it is
# made (cmake/morvex_signing.cmake), and MORVEX_LAUNCHER_FILE names the
# signed file, which is what is installed.
#
# Runs at configure; the launcher is made at build and installed at install.
include(${CMAKE_CURRENT_LIST_DIR}/morvex_signing.cmake)

function(morvex_add_launcher name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "NO_INSTALL" "DESTINATION;COMPONENT" "COMMAND")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "morvex_add_launcher(${name}): unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT arg_COMMAND)
    message(FATAL_ERROR "morvex_add_launcher(${name}): COMMAND PROGRAM [ARG...] is required")
  endif()
  foreach(tool MorvexStartup::launcher MorvexStartup::make_launcher)
    if(NOT TARGET ${tool})
      message(FATAL_ERROR "morvex_add_launcher(${name}): no target ${tool}; "
                          "call find_package(MorvexStartup CONFIG REQUIRED) first")
    endif()
  endforeach()

  if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
    set(file_name ${name}.exe)
  else()
    set(file_name ${name})
  endif()
  # An empty token given as such would vanish from the command below; an
  # expression that yields nothing stays an argument of its own.
  set(tokens "")
  foreach(token IN LISTS arg_COMMAND)
    if(token STREQUAL "")
      list(APPEND tokens "$<1:>")
    else()
      list(APPEND tokens "${token}")
    endif()
  endforeach()
  # A folder of its own, so that the file never shares its name with the
  # target that makes it.
  set(output ${CMAKE_CURRENT_BINARY_DIR}/morvex_launchers/${file_name})
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/morvex_launchers)
  set(stub $<TARGET_FILE:MorvexStartup::launcher>)
  set(tool $<TARGET_FILE:MorvexStartup::make_launcher>)
  # The tool is named by its file, not as a target, so that a cross build
  # never puts the emulator in front of it: it is a build-machine program.
  add_custom_command(OUTPUT ${output}
    COMMAND ${tool} ${stub} ${output} -- ${tokens}
    DEPENDS ${stub} ${tool}
    COMMENT "Making launcher ${file_name}"
    VERBATIM)
  # With signing on (cmake/morvex_signing.cmake), the launcher that ships is
  # the one signed after its trailer is in place: the signature goes behind
  # the trailer, and the launcher reads only the bytes in front of it.
  morvex_signing_enabled(signing)
  if(signing)
    set(unsigned ${output})
    set(output ${CMAKE_CURRENT_BINARY_DIR}/morvex_launchers/signed/${file_name})
    file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/morvex_launchers/signed)
    morvex_sign_file(${unsigned} ${output})
  endif()
  add_custom_target(${name} ALL DEPENDS ${output})
  set_target_properties(${name} PROPERTIES MORVEX_LAUNCHER_FILE ${output})
  if(TARGET morvex_launcher_tools)
    add_dependencies(${name} morvex_launcher_tools)
  endif()

  if(arg_NO_INSTALL)
    return()
  endif()
  if(DEFINED arg_DESTINATION)
    set(destination ${arg_DESTINATION})
  elseif(DEFINED MORVEX_APP_DIR)
    set(destination ${MORVEX_APP_DIR})
  else()
    set(destination .)
  endif()
  if(NOT arg_COMPONENT)
    set(arg_COMPONENT runtime)
  endif()
  if(arg_COMPONENT STREQUAL "runtime" AND CMAKE_SYSTEM_NAME STREQUAL "Windows")
    list(GET arg_COMMAND 0 program)
    _morvex_warn_installed_path(${name} "${program}" ${destination})
  endif()
  install(PROGRAMS ${output} DESTINATION ${destination} COMPONENT ${arg_COMPONENT})
endfunction()

# A Windows application folder is installed wherever its user chooses (an
# installer's /D=, another drive): a program named by its path inside the
# install prefix is then looked for where the folder is not. Named without a
# folder, or relative to the launcher's folder, it is found beside the
# launcher (POSIX launchers search PATH alone, so there the path stays).
function(_morvex_warn_installed_path name program destination)
  string(REPLACE "\\" "/" path "${program}")
  string(REPLACE "\\" "/" prefix "${CMAKE_INSTALL_PREFIX}")
  string(REGEX REPLACE "/+$" "" prefix "${prefix}")
  string(TOLOWER "${path}" path)
  string(TOLOWER "${prefix}" prefix)
  string(FIND "${path}" "${prefix}/" at)
  if(NOT at EQUAL 0)
    return()
  endif()
  message(WARNING "morvex_add_launcher(${name}): ${program} lies in the install prefix "
                  "${CMAKE_INSTALL_PREFIX}, so the launcher will look for it there even where the "
                  "folder is installed elsewhere. Name it without a folder, or by its path from the "
                  "launcher's folder (${destination}), to have it found beside the launcher.")
endfunction()
