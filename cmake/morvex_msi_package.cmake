# Makes the MSI, the Windows Installer package of the staged component:
# CPACK_EXTERNAL_PACKAGE_SCRIPT of `cpack -G External`
# (morvex_installer_cpack.cmake), run at cpack once CPack has staged the
# component in CPACK_TEMPORARY_DIRECTORY.
#
# msi_package.py writes PACKAGE.msi (CPACK_PACKAGE_FILE_NAME) with wixl into
# CPACK_TOPLEVEL_DIRECTORY; when the build signs, it is signed and verified
# in place (morvex_sign_program.cmake, beside this file), and removed when
# that fails. CPack then copies the file named in
# CPACK_EXTERNAL_BUILT_PACKAGES into the packages folder.
#
# Reads the CPACK_MORVEX_* settings that morvex_add_installer.cmake lists
# (the MSI's and the build's time), and CPack's CPACK_PACKAGE_VERSION (the
# one `cpack -D CPACK_PACKAGE_VERSION=` gives) and CPACK_PACKAGE_VENDOR.
set(package "${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.msi")
set(epoch "${CPACK_MORVEX_SOURCE_DATE_EPOCH}")
if(epoch STREQUAL "")
  # SOURCE_DATE_EPOCH when set, else now.
  string(TIMESTAMP epoch "%s" UTC)
endif()
set(command "${CPACK_MORVEX_PYTHON}" "${CPACK_MORVEX_MSI_SCRIPT}" "${CPACK_TEMPORARY_DIRECTORY}"
    "${package}" --wixl "${CPACK_MORVEX_WIXL}" --name "${CPACK_MORVEX_DISPLAY_NAME}"
    --publisher "${CPACK_PACKAGE_VENDOR}" --version "${CPACK_PACKAGE_VERSION}"
    --upgrade-code "${CPACK_MORVEX_MSI_UPGRADE_CODE}" --epoch "${epoch}")
if(NOT CPACK_MORVEX_MSI_ICON STREQUAL "")
  list(APPEND command --icon "${CPACK_MORVEX_MSI_ICON}")
endif()
set(shortcuts "${CPACK_MORVEX_MSI_SHORTCUTS}")
while(shortcuts)
  list(POP_FRONT shortcuts program name)
  list(APPEND command --shortcut "${program}" "${name}")
endwhile()
execute_process(COMMAND ${command} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "The MSI of ${CPACK_MORVEX_DISPLAY_NAME} was not made: msi_package.py "
                      "exited with ${failed}")
endif()

if(CPACK_MORVEX_SIGNING_SETTINGS)
  execute_process(COMMAND "${CMAKE_COMMAND}" "-DMORVEX_SIGN_SETTINGS=${CPACK_MORVEX_SIGNING_SETTINGS}"
                          "-DIN=${package}" "-DOUT=${package}"
                          "-DDESCRIPTION=${CPACK_MORVEX_DISPLAY_NAME}"
                          -P "${CMAKE_CURRENT_LIST_DIR}/morvex_sign_program.cmake"
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "The MSI of ${CPACK_MORVEX_DISPLAY_NAME} was not signed")
  endif()
endif()
set(CPACK_EXTERNAL_BUILT_PACKAGES "${package}")
