# Run by cpack before and after it makes a package (CPACK_PRE_BUILD_SCRIPTS
# and CPACK_POST_BUILD_SCRIPTS, set in morvex_package.cmake), so that two
# builds of one commit give packages of the same bytes: the staged files are
# dated at the build's epoch, which the installer stores, and a ZIP is
# rewritten with that date alone (scripts/reproducible_package.py). Reads
# CPACK_MORVEX_PYTHON, CPACK_MORVEX_REPRODUCIBLE_SCRIPT and
# CPACK_MORVEX_SOURCE_DATE_EPOCH, which morvex_package.cmake hands on, and
# CPack's CPACK_TEMPORARY_DIRECTORY and CPACK_PACKAGE_FILES. Runs at cpack.
if(DEFINED CPACK_PACKAGE_FILES)
  set(command zip)
  set(paths "")
  foreach(file IN LISTS CPACK_PACKAGE_FILES)
    if(file MATCHES "\\.zip$")
      list(APPEND paths "${file}")
    endif()
  endforeach()
else()
  set(command stage)
  set(paths "${CPACK_TEMPORARY_DIRECTORY}")
endif()
foreach(path IN LISTS paths)
  execute_process(COMMAND "${CPACK_MORVEX_PYTHON}" "${CPACK_MORVEX_REPRODUCIBLE_SCRIPT}" ${command}
                          "${path}" "${CPACK_MORVEX_SOURCE_DATE_EPOCH}"
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "reproducible_package.py ${command} ${path} failed")
  endif()
endforeach()
