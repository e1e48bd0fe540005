# One signing step (cmake/morvex_signing.cmake):
#
#   cmake -DMORVEX_SIGN_SETTINGS=FILE -DIN=PROGRAM -DOUT=SIGNED [-DDESCRIPTION=TEXT]
#         -P morvex_sign_program.cmake
#
# Signs IN into OUT.unverified, verifies that, and only then renames it to
# OUT (which may be IN itself). On any failure nothing is left at OUT, so
# nothing unsigned can be installed or packed in its place, and the step
# fails. osslsigncode gets the password file's name (-readpass), never the
# password. MORVEX_SIGN_SETTINGS is the file morvex_signing.cmake writes at
# configure, with the key, the servers and the tools. Runs at build, as the
# command of the step morvex_sign_file adds.
include(${MORVEX_SIGN_SETTINGS})
set(unverified "${OUT}.unverified")
get_filename_component(name "${OUT}" NAME)

function(give_up text output)
  file(REMOVE "${unverified}" "${OUT}")
  message(FATAL_ERROR "Signing ${name} failed: ${text}\n${output}")
endfunction()

# osslsigncode writes no file over another.
file(REMOVE "${unverified}")
if(NOT IN STREQUAL OUT)
  file(REMOVE "${OUT}")
endif()
if(NOT EXISTS "${IN}")
  give_up("there is no ${IN}" "")
endif()
set(sign ${OSSLSIGNCODE} sign -pkcs12 ${PKCS12} -readpass ${PASSWORD_FILE} -h sha256)
if(DEFINED DESCRIPTION AND NOT DESCRIPTION STREQUAL "")
  list(APPEND sign -n "${DESCRIPTION}")
endif()
foreach(url IN LISTS TIMESTAMP_URL)
  list(APPEND sign -ts ${url})
endforeach()
execute_process(COMMAND ${sign} -in ${IN} -out ${unverified}
                RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(failed)
  give_up("osslsigncode sign exited with ${failed}" "${output}")
endif()

# osslsigncode verify exits with 0 even when the time stamp does not verify:
# its report is what tells.
set(verify ${OSSLSIGNCODE} verify -in ${unverified})
if(CAFILE)
  list(APPEND verify -CAfile ${CAFILE})
endif()
if(TSA_CAFILE)
  list(APPEND verify -TSA-CAfile ${TSA_CAFILE})
endif()
execute_process(COMMAND ${verify} RESULT_VARIABLE failed OUTPUT_VARIABLE output
                ERROR_VARIABLE output)
# Its report is long: the lines that tell what failed are shown.
string(REGEX MATCHALL "[^\n]*([Ee]rror|[Ff]ailed|verification:)[^\n]*" report "${output}")
list(JOIN report "\n" report)
if(failed OR NOT output MATCHES "\nSignature verification: ok\n")
  give_up("the signature does not verify (MORVEX_SIGN_CAFILE names the certificates for it)"
          "${report}")
endif()
if(output MATCHES "Timestamp Server Signature verification: failed" OR
   (TIMESTAMP_URL AND NOT output MATCHES "\nTimestamp Server Signature verification: ok\n"))
  give_up("the time stamp does not verify (MORVEX_SIGN_TSA_CAFILE names the certificates for it)"
          "${report}")
endif()
if(output MATCHES ": failed")
  give_up("osslsigncode verify reports a failure" "${report}")
endif()
file(RENAME "${unverified}" "${OUT}")
# A program, as the linker made it (osslsigncode writes an ordinary file).
if(NOT IN STREQUAL OUT)
  file(CHMOD "${OUT}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                      GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endif()
