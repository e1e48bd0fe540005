# The setup program's and the MSI's settings, made when `cpack -G NSIS` or
# `cpack -G External` runs.
#
# Read by cpack once for each generator, as CPACK_PROJECT_CONFIG_FILE (set by
# morvex_add_installer.cmake, whose header lists the CPACK_MORVEX_* settings
# it hands on from configure): first the project's own config file, if it
# had one, then, for NSIS and External alone, the one component staged as
# the whole package, the version checked by morvex_windows_version.cmake,
# and the file's name. For NSIS: makensis found, and the version
# information's values that NSIS.template.in takes
# (CPACK_MORVEX_VERSION_NUMBERS, CPACK_MORVEX_COPYRIGHT). For External: wixl
# found, and the package made of the staged folder by
# morvex_msi_package.cmake (CPACK_EXTERNAL_PACKAGE_SCRIPT).
include(${CMAKE_CURRENT_LIST_DIR}/morvex_windows_version.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/morvex_source_date_epoch.cmake)
if(CPACK_MORVEX_PROJECT_CONFIG_FILE)
  include("${CPACK_MORVEX_PROJECT_CONFIG_FILE}")
endif()
if(NOT CPACK_GENERATOR MATCHES "^(NSIS|External)$")
  return()
endif()

# The one component staged as the whole package: CPack's component mode
# would stage it in a folder of its own (and leave the NSIS template's lists
# of files to install and remove empty).
set(CPACK_MONOLITHIC_INSTALL ON)
set(projects "")
foreach(project IN LISTS CPACK_INSTALL_CMAKE_PROJECTS)
  list(LENGTH projects count)
  math(EXPR field "${count} % 4")
  if(field EQUAL 2)
    set(project ${CPACK_MORVEX_INSTALLER_COMPONENT})
  endif()
  list(APPEND projects "${project}")
endforeach()
set(CPACK_INSTALL_CMAKE_PROJECTS "${projects}")
# The version, checked again here: `cpack -D CPACK_PACKAGE_VERSION=` can
# give another version than configure saw.
morvex_windows_version(numbers "${CPACK_PACKAGE_VERSION}" CPACK_PACKAGE_VERSION)

if(CPACK_GENERATOR STREQUAL "External")
  if(NOT CPACK_MORVEX_WIXL OR NOT EXISTS "${CPACK_MORVEX_WIXL}")
    message(FATAL_ERROR "cpack -G External makes the MSI with wixl and Python 3: install them "
                        "(Debian: the wixl and python3 packages, `apt-get install wixl python3`) "
                        "and configure again")
  endif()
  # CPack stages the component and runs the script, which makes the MSI;
  # CPack's description of the package, NAME.json, comes along.
  set(CPACK_EXTERNAL_ENABLE_STAGING ON)
  set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/morvex_msi_package.cmake)
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-win64")
  return()
endif()

find_program(_morvex_makensis NAMES "${CPACK_NSIS_EXECUTABLE}" makensis)
if(NOT _morvex_makensis)
  message(FATAL_ERROR "cpack -G NSIS needs makensis: install NSIS (Debian: the nsis package, "
                      "`apt-get install nsis`)")
endif()
set(CPACK_NSIS_EXECUTABLE "${_morvex_makensis}")
# The setup program's version information.
list(JOIN numbers "." CPACK_MORVEX_VERSION_NUMBERS)
morvex_epoch_year(year "${CPACK_MORVEX_SOURCE_DATE_EPOCH}")
set(CPACK_MORVEX_COPYRIGHT "")
if(NOT CPACK_PACKAGE_VENDOR STREQUAL "")
  set(CPACK_MORVEX_COPYRIGHT "Copyright (C) ${year} ${CPACK_PACKAGE_VENDOR}")
endif()
# Named here, at cpack time, so that `cpack -D CPACK_PACKAGE_VERSION=...`
# names its file too.
set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-win64-setup")
