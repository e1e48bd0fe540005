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
# Named here, at cpack time, so that `cpack -D CPACK_PACKAGE_VERSION=...`
# names its file too.
set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-win64-setup")
