# Read by cpack once for each generator (CPACK_PROJECT_CONFIG_FILE, set by
# morvex_add_installer): the installer's settings for NSIS alone.
if(CPACK_MORVEX_PROJECT_CONFIG_FILE)
  include("${CPACK_MORVEX_PROJECT_CONFIG_FILE}")
endif()
if(NOT CPACK_GENERATOR STREQUAL "NSIS")
  return()
endif()

find_program(_morvex_makensis NAMES "${CPACK_NSIS_EXECUTABLE}" makensis)
if(NOT _morvex_makensis)
  message(FATAL_ERROR "cpack -G NSIS needs makensis: install NSIS (Debian: the nsis package, "
                      "`apt-get install nsis`)")
endif()
set(CPACK_NSIS_EXECUTABLE "${_morvex_makensis}")
# The one component staged as the whole package: CPack's component mode
# would stage it in a folder of its own and leave the template's lists of
# files to install and remove empty.
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
# The installer's version information, also at cpack time: the fixed part
# holds four numbers, the leading ones of the version.
string(REGEX MATCH "^[0-9]+(\\.[0-9]+)?(\\.[0-9]+)?(\\.[0-9]+)?" numbers "${CPACK_PACKAGE_VERSION}")
if(numbers STREQUAL "")
  message(FATAL_ERROR "version ${CPACK_PACKAGE_VERSION}: an installer's version starts with a number")
endif()
string(REPLACE "." ";" numbers "${numbers}")
list(LENGTH numbers count)
while(count LESS 4)
  list(APPEND numbers 0)
  math(EXPR count "${count} + 1")
endwhile()
list(JOIN numbers "." CPACK_MORVEX_VERSION_NUMBERS)
set(saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
if(CPACK_MORVEX_SOURCE_DATE_EPOCH)
  # string(TIMESTAMP) takes its time from there.
  set(ENV{SOURCE_DATE_EPOCH} "${CPACK_MORVEX_SOURCE_DATE_EPOCH}")
endif()
string(TIMESTAMP year "%Y" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${saved_epoch}")
set(CPACK_MORVEX_COPYRIGHT "")
if(NOT CPACK_PACKAGE_VENDOR STREQUAL "")
  set(CPACK_MORVEX_COPYRIGHT "Copyright (C) ${year} ${CPACK_PACKAGE_VENDOR}")
endif()
# Named here, at cpack time, so that `cpack -D CPACK_PACKAGE_VERSION=...`
# names its file too.
set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-win64-setup")
