# Authenticode signing of the Windows programs a build ships, with
# osslsigncode, as build steps.
#
#   MORVEX_SIGN_PKCS12         PKCS#12 file: the code-signing key and its
#                              certificate chain; empty: nothing is signed
#   MORVEX_SIGN_PASSWORD_FILE  the file holding that file's password
#   MORVEX_SIGN_TIMESTAMP_URL  RFC 3161 time-stamp server(s), tried in turn;
#                              empty: no time stamp
#   MORVEX_SIGN_CAFILE         certificates the signatures are verified with;
#                              empty: the CA certificates of the PKCS#12 file
#   MORVEX_SIGN_TSA_CAFILE     certificates the time stamps are verified with;
#                              empty: the system's (osslsigncode's default)
#
# Each program is signed into a file of its own (SHA-256, the product name as
# the description, time-stamped when a server is named), verified, and only
# then put in place, so a program that is not signed and verified is never
# there to be installed. The password goes to the tools only as the name of
# its file (openssl's -passin file:, osslsigncode's -readpass): never on a
# command line, in the cache or in a generated file. Configure checks that
# the key file opens with the password, and stops, saying which is wrong.
#
#   morvex_install_signed(TARGET DESTINATION DIR COMPONENT COMPONENT)
#       installs the program TARGET, signed when signing is on
#   morvex_sign_target(TARGET [DESCRIPTION TEXT])
#       makes signed/FILE of TARGET's program (target TARGET_signed); the
#       target property MORVEX_SIGNED_FILE names it
#   morvex_sign_file(INPUT OUTPUT [DESCRIPTION TEXT] [DEPENDS ...])
#       the build step that makes OUTPUT, the signed INPUT
#   morvex_signing_enabled(VAR)
#   morvex_nsis_signing_commands(VAR DESCRIPTION)
#       the makensis commands that sign the setup program and its
#       uninstaller as makensis writes them (NSIS 3.08 or later)
#
# Signing is for Windows programs: a build for another system ignores the
# variables, and says so. Runs at configure (the key is checked then, and
# the settings file for the steps written); the steps run at build and, for
# the setup program, at cpack.
include_guard(GLOBAL)
# Where the step's script is, for whichever folder calls the functions.
set_property(GLOBAL PROPERTY MORVEX_SIGNING_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/morvex_sign_program.cmake)

set(MORVEX_SIGN_PKCS12 "" CACHE FILEPATH
    "PKCS#12 file with the code-signing key and its certificate chain; empty: no signing")
set(MORVEX_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of MORVEX_SIGN_PKCS12")
set(MORVEX_SIGN_TIMESTAMP_URL "" CACHE STRING
    "RFC 3161 time-stamp server(s) for the signatures; empty: not time-stamped")
set(MORVEX_SIGN_CAFILE "" CACHE FILEPATH
    "Certificates to verify the signatures with; empty: the CA certificates in MORVEX_SIGN_PKCS12")
set(MORVEX_SIGN_TSA_CAFILE "" CACHE FILEPATH
    "Certificates to verify the time stamps with; empty: the system's")

function(_morvex_signing_refuse variable text)
  message(FATAL_ERROR "${variable}: ${text}. Set it right, or clear MORVEX_SIGN_PKCS12 to build "
                      "without signing.")
endfunction()

# The key file and its password, tried as osslsigncode will use them. Only
# the password file's name reaches openssl. Sets openssl_options in the
# caller: -legacy when the file needs OpenSSL's legacy algorithms (RC2, as
# older Windows exports have).
function(_morvex_check_signing_key pkcs12 password_file)
  if(password_file STREQUAL "")
    _morvex_signing_refuse(MORVEX_SIGN_PASSWORD_FILE "no password file is named for ${pkcs12}")
  endif()
  set(variables MORVEX_SIGN_PKCS12 MORVEX_SIGN_PASSWORD_FILE)
  set(files "${pkcs12}" "${password_file}")
  set(whats "the key file" "the password file")
  foreach(variable file what IN ZIP_LISTS variables files whats)
    if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
      _morvex_signing_refuse(${variable} "${what} ${file} does not exist")
    endif()
    # Read through a digest, which shows nothing of the file.
    execute_process(COMMAND ${CMAKE_COMMAND} -E sha256sum "${file}" RESULT_VARIABLE unreadable
                    OUTPUT_QUIET ERROR_QUIET)
    if(unreadable)
      _morvex_signing_refuse(${variable} "${what} ${file} cannot be read")
    endif()
  endforeach()
  foreach(options "" "-legacy")
    execute_process(COMMAND ${MORVEX_OPENSSL} pkcs12 -in ${pkcs12} -passin file:${password_file}
                            -noout ${options}
                    RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT failed)
      set(openssl_options "${options}" PARENT_SCOPE)
      return()
    endif()
    if(NOT first_output)
      set(first_output "${output}")
    endif()
  endforeach()
  string(REGEX REPLACE "\n.*" "" reason "${first_output}")
  if(first_output MATCHES "invalid password|mac verify")
    _morvex_signing_refuse(MORVEX_SIGN_PASSWORD_FILE
                           "the password in ${password_file} is wrong for ${pkcs12} (${reason})")
  endif()
  _morvex_signing_refuse(MORVEX_SIGN_PKCS12 "${pkcs12} is no PKCS#12 file that opens with the \
password in ${password_file} (openssl: ${reason})")
endfunction()

# Checks the settings and writes what the signing steps read, once per
# configure: BUILD/morvex_signing/settings.cmake, whose change re-signs.
function(_morvex_configure_signing)
  set_property(GLOBAL PROPERTY MORVEX_SIGNING_SETTINGS "")
  if(MORVEX_SIGN_PKCS12 STREQUAL "")
    return()
  endif()
  if(NOT CMAKE_SYSTEM_NAME STREQUAL "Windows")
    message(WARNING "MORVEX_SIGN_PKCS12 is set, but Authenticode signs Windows programs: this "
                    "${CMAKE_SYSTEM_NAME} build signs nothing.")
    return()
  endif()
  find_program(MORVEX_OSSLSIGNCODE osslsigncode DOC "osslsigncode, which signs the Windows programs")
  find_program(MORVEX_OPENSSL openssl DOC "openssl, which checks the signing key at configure time")
  foreach(tool MORVEX_OSSLSIGNCODE MORVEX_OPENSSL)
    if(NOT ${tool})
      string(REPLACE "MORVEX_" "" package "${tool}")
      string(TOLOWER ${package} package)
      message(FATAL_ERROR "Signing needs ${package} (Debian: the ${package} package), or name it "
                          "with -D${tool}=PATH.")
    endif()
  endforeach()
  get_filename_component(pkcs12 "${MORVEX_SIGN_PKCS12}" ABSOLUTE)
  set(password_file "")
  if(NOT MORVEX_SIGN_PASSWORD_FILE STREQUAL "")
    get_filename_component(password_file "${MORVEX_SIGN_PASSWORD_FILE}" ABSOLUTE)
  endif()
  _morvex_check_signing_key("${pkcs12}" "${password_file}")

  set(folder ${CMAKE_BINARY_DIR}/morvex_signing)
  set(cafile "")
  if(NOT MORVEX_SIGN_CAFILE STREQUAL "")
    get_filename_component(cafile "${MORVEX_SIGN_CAFILE}" ABSOLUTE)
  else()
    # The chain's own CA certificates (no key: -nokeys), to verify against.
    file(MAKE_DIRECTORY ${folder})
    execute_process(COMMAND ${MORVEX_OPENSSL} pkcs12 -in ${pkcs12} -passin file:${password_file}
                            -nokeys -cacerts ${openssl_options} -out ${folder}/chain-ca.pem
                    RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
    file(STRINGS ${folder}/chain-ca.pem certificates REGEX "BEGIN CERTIFICATE")
    if(NOT failed AND certificates)
      set(cafile ${folder}/chain-ca.pem)
    endif()
  endif()
  set(tsa_cafile "")
  if(NOT MORVEX_SIGN_TSA_CAFILE STREQUAL "")
    get_filename_component(tsa_cafile "${MORVEX_SIGN_TSA_CAFILE}" ABSOLUTE)
  endif()
  foreach(file cafile tsa_cafile)
    if(NOT "${${file}}" STREQUAL "" AND NOT EXISTS "${${file}}")
      message(FATAL_ERROR "No certificate file ${${file}} to verify the signatures with")
    endif()
  endforeach()

  set(settings ${folder}/settings.cmake)
  file(CONFIGURE OUTPUT ${settings} @ONLY CONTENT [[
# What the signing steps use (cmake/morvex_sign_program.cmake); made at configure time.
set(OSSLSIGNCODE [==[@MORVEX_OSSLSIGNCODE@]==])
set(PKCS12 [==[@pkcs12@]==])
set(PASSWORD_FILE [==[@password_file@]==])
set(TIMESTAMP_URL [==[@MORVEX_SIGN_TIMESTAMP_URL@]==])
set(CAFILE [==[@cafile@]==])
set(TSA_CAFILE [==[@tsa_cafile@]==])
]])
  set_property(GLOBAL PROPERTY MORVEX_SIGNING_SETTINGS ${settings})
  set_property(GLOBAL PROPERTY MORVEX_SIGNING_KEY ${pkcs12})
  set(stamped "not time-stamped")
  if(MORVEX_SIGN_TIMESTAMP_URL)
    set(stamped "time-stamped by ${MORVEX_SIGN_TIMESTAMP_URL}")
  endif()
  message(STATUS "Signing the Windows programs with ${pkcs12}, ${stamped}")
endfunction()
_morvex_configure_signing()

function(morvex_signing_enabled var)
  get_property(settings GLOBAL PROPERTY MORVEX_SIGNING_SETTINGS)
  if(settings)
    set(${var} ON PARENT_SCOPE)
  else()
    set(${var} OFF PARENT_SCOPE)
  endif()
endfunction()

function(_morvex_sign_description var description)
  if(description STREQUAL "")
    if(DEFINED MORVEX_PRODUCT_NAME)
      set(description "${MORVEX_PRODUCT_NAME}")
    else()
      set(description "${PROJECT_NAME}")
    endif()
  endif()
  set(${var} "${description}" PARENT_SCOPE)
endfunction()

function(morvex_sign_file input output)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "DESCRIPTION" "DEPENDS")
  get_property(settings GLOBAL PROPERTY MORVEX_SIGNING_SETTINGS)
  _morvex_sign_description(description "${arg_DESCRIPTION}")
  get_property(script GLOBAL PROPERTY MORVEX_SIGNING_SCRIPT)
  get_property(key GLOBAL PROPERTY MORVEX_SIGNING_KEY)
  get_filename_component(name ${output} NAME)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DMORVEX_SIGN_SETTINGS=${settings} -DIN=${input} -DOUT=${output}
            -DDESCRIPTION=${description} -P ${script}
    DEPENDS ${input} ${arg_DEPENDS} ${settings} ${key} ${script}
    COMMENT "Signing ${name}"
    VERBATIM)
endfunction()

function(morvex_sign_target target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DESCRIPTION" "")
  get_target_property(signed ${target} MORVEX_SIGNED_FILE)
  if(signed)
    return()
  endif()
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  set(signed ${CMAKE_CURRENT_BINARY_DIR}/signed/${name}${CMAKE_EXECUTABLE_SUFFIX})
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/signed)
  morvex_sign_file($<TARGET_FILE:${target}> ${signed} DESCRIPTION "${arg_DESCRIPTION}"
                   DEPENDS ${target})
  add_custom_target(${target}_signed ALL DEPENDS ${signed})
  set_target_properties(${target} PROPERTIES MORVEX_SIGNED_FILE ${signed})
endfunction()

function(morvex_install_signed target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DESTINATION;COMPONENT" "")
  morvex_signing_enabled(signing)
  if(NOT signing)
    install(TARGETS ${target} RUNTIME DESTINATION ${arg_DESTINATION} COMPONENT ${arg_COMPONENT})
    return()
  endif()
  morvex_sign_target(${target})
  get_target_property(signed ${target} MORVEX_SIGNED_FILE)
  install(PROGRAMS ${signed} DESTINATION ${arg_DESTINATION} COMPONENT ${arg_COMPONENT})
endfunction()

# makensis runs these on the file it has just written (%1): the uninstaller
# before it goes into the setup program, then the setup program. Each is
# signed in place; when signing fails the file is removed and makensis
# stops, so no unsigned setup program is left.
function(morvex_nsis_signing_commands var description)
  get_property(settings GLOBAL PROPERTY MORVEX_SIGNING_SETTINGS)
  if(NOT settings)
    set(${var} "" PARENT_SCOPE)
    return()
  endif()
  get_property(script GLOBAL PROPERTY MORVEX_SIGNING_SCRIPT)
  foreach(text settings description CMAKE_COMMAND script)
    if("${${text}}" MATCHES "['\"$]")
      message(FATAL_ERROR "Signing the setup program: \"${${text}}\" may hold none of ' \" $")
    endif()
  endforeach()
  set(command "\"${CMAKE_COMMAND}\" \"-DMORVEX_SIGN_SETTINGS=${settings}\" \"-DIN=%1\" \"-DOUT=%1\" \"-DDESCRIPTION=${description}\" -P \"${script}\"")
  set(${var} "!uninstfinalize '${command}' = 0\n!finalize '${command}' = 0\n" PARENT_SCOPE)
endfunction()
