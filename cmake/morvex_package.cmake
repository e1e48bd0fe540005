# The installed CMake package and the shipped packages: `cpack` makes the
# ZIP of the runtime component, and in the Windows build `cpack -G NSIS` its
# setup program and `cpack -G External` its MSI (morvex_add_installer.cmake).
#
# Install components:
#   runtime      the application folder as end users get it: morvex_desktop,
#                the Python runtime files, modules/, and every launcher made
#                with morvex_add_launcher
#   tools        make_launcher, check_app_folder and the launcher stub, in
#                tools/; in a cross build also a make_launcher and a
#                check_app_folder for the build machine in tools/host/
#   development  the CMake package MorvexStartup, in lib/cmake/MorvexStartup
#                (it needs the tools component beside it)
#
# Inputs: the targets MorvexStartup::make_launcher and
# MorvexStartup::check_app_folder (morvex_launcher_tools.cmake; imported in a
# cross build, their files then go into tools/host/), morvex_desktop and its
# MORVEX_ICON_FILE property (bootstrapper/CMakeLists.txt), MORVEX_APP_DIR,
# MORVEX_TOOLS_DIR, MORVEX_PRODUCT_NAME, MORVEX_PUBLISHER, the build's time
# MORVEX_SOURCE_DATE_EPOCH and the cache variable MORVEX_MSI_UPGRADE_CODE
# (the MSI's upgrade code; empty: derived from the product name and the
# publisher). Include it last, at configure: it includes CPack.
#
# Handed to cpack, for scripts/reproducible_package.py, which cpack runs
# before and after it makes any package (morvex_reproducible_package.cmake):
#   CPACK_MORVEX_PYTHON               Python 3, which runs the script
#   CPACK_MORVEX_REPRODUCIBLE_SCRIPT  the script
#   CPACK_MORVEX_SOURCE_DATE_EPOCH    the build's time, which every package
#                                     carries
# morvex_add_installer.cmake lists the setup program's and the MSI's own.
include(CMakePackageConfigHelpers)

set(package_dir lib/cmake/MorvexStartup)
set(MORVEX_PACKAGE_STUB ${MORVEX_TOOLS_DIR}/launcher${CMAKE_EXECUTABLE_SUFFIX})
set(MORVEX_PACKAGE_TOOL ${MORVEX_TOOLS_DIR}/make_launcher${CMAKE_EXECUTABLE_SUFFIX})
set(MORVEX_PACKAGE_SYSTEM ${CMAKE_SYSTEM_NAME})
get_target_property(host_tool MorvexStartup::make_launcher IMPORTED)
if(host_tool)
  # The build machine's own tools, built apart or named.
  get_target_property(host_tool MorvexStartup::make_launcher IMPORTED_LOCATION)
  get_target_property(host_check MorvexStartup::check_app_folder IMPORTED_LOCATION)
  get_filename_component(host_tool_name ${host_tool} NAME)
  set(MORVEX_PACKAGE_TOOL ${MORVEX_TOOLS_DIR}/host/${host_tool_name})
  install(PROGRAMS ${host_tool} ${host_check} DESTINATION ${MORVEX_TOOLS_DIR}/host COMPONENT tools)
endif()

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/MorvexStartupConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/MorvexStartupConfig.cmake
  INSTALL_DESTINATION ${package_dir}
  PATH_VARS MORVEX_PACKAGE_STUB MORVEX_PACKAGE_TOOL)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/MorvexStartupConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/MorvexStartupConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/MorvexStartupConfigVersion.cmake
              ${CMAKE_CURRENT_LIST_DIR}/morvex_add_launcher.cmake
              ${CMAKE_CURRENT_LIST_DIR}/morvex_add_installer.cmake
              ${CMAKE_CURRENT_LIST_DIR}/morvex_installer_cpack.cmake
              ${CMAKE_CURRENT_LIST_DIR}/morvex_windows_version.cmake
              ${CMAKE_CURRENT_LIST_DIR}/morvex_source_date_epoch.cmake
              ${CMAKE_CURRENT_LIST_DIR}/NSIS.template.in
              ${CMAKE_CURRENT_LIST_DIR}/morvex_msi_package.cmake
              ${PROJECT_SOURCE_DIR}/scripts/msi_package.py
              ${CMAKE_CURRENT_LIST_DIR}/morvex_signing.cmake
              ${CMAKE_CURRENT_LIST_DIR}/morvex_sign_program.cmake
        DESTINATION ${package_dir} COMPONENT development)

# `cpack` makes one ZIP of the runtime component: the application folder
# under one top folder named like the file.
if(WIN32)
  set(package_system win64)
else()
  string(TOLOWER ${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR} package_system)
endif()
set(CPACK_PACKAGE_NAME morvex-desktop)
set(CPACK_PACKAGE_VENDOR "${MORVEX_PUBLISHER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR ZIP)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_COMPONENTS_ALL runtime)
set(CPACK_PACKAGE_FILE_NAME morvex-desktop-${PROJECT_VERSION}-${package_system})
set(CPACK_ARCHIVE_RUNTIME_FILE_NAME ${CPACK_PACKAGE_FILE_NAME})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
# Every package of one commit the same bytes, whoever builds it and when:
# dated at the build's time, nothing of the build machine's files but their
# bytes (the settings the header lists).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(CPACK_MORVEX_PYTHON ${Python3_EXECUTABLE})
set(CPACK_MORVEX_REPRODUCIBLE_SCRIPT ${PROJECT_SOURCE_DIR}/scripts/reproducible_package.py)
set(CPACK_MORVEX_SOURCE_DATE_EPOCH ${MORVEX_SOURCE_DATE_EPOCH})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/morvex_reproducible_package.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/morvex_reproducible_package.cmake)
# In the Windows build `cpack -G NSIS` makes the installer of the same
# component, packages/morvex-desktop-VERSION-win64-setup.exe, and `cpack -G
# External` its MSI, packages/morvex-desktop-VERSION-win64.msi.
if(WIN32)
  set(MORVEX_MSI_UPGRADE_CODE "" CACHE STRING
      "The MSI's upgrade code, the same for every version; empty: derived from MORVEX_PUBLISHER and MORVEX_PRODUCT_NAME")
  include(${CMAKE_CURRENT_LIST_DIR}/morvex_add_installer.cmake)
  set(installer_program "")
  if(TARGET morvex_desktop)
    get_target_property(icon morvex_desktop MORVEX_ICON_FILE)
    cmake_path(APPEND MORVEX_APP_DIR morvex_desktop.exe OUTPUT_VARIABLE program)
    cmake_path(NORMAL_PATH program)
    set(installer_program PROGRAM ${program} ICON ${icon})
  endif()
  morvex_add_installer("${MORVEX_PRODUCT_NAME}" ${installer_program}
                       UPGRADE_CODE "${MORVEX_MSI_UPGRADE_CODE}")
endif()
include(CPack)
