# The installed CMake package and the shipped ZIP.
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
include(CMakePackageConfigHelpers)

set(package_dir lib/cmake/MorvexStartup)
set(MORVEX_PACKAGE_STUB ${MORVEX_TOOLS_DIR}/launcher${CMAKE_EXECUTABLE_SUFFIX})
set(MORVEX_PACKAGE_TOOL ${MORVEX_TOOLS_DIR}/make_launcher${CMAKE_EXECUTABLE_SUFFIX})
set(MORVEX_PACKAGE_SYSTEM ${CMAKE_SYSTEM_NAME})
if(MORVEX_HOST_TOOL_FILE)
  get_filename_component(host_tool_name ${MORVEX_HOST_TOOL_FILE} NAME)
  set(MORVEX_PACKAGE_TOOL ${MORVEX_TOOLS_DIR}/host/${host_tool_name})
  install(PROGRAMS ${MORVEX_HOST_TOOL_FILE} DESTINATION ${MORVEX_TOOLS_DIR}/host COMPONENT tools)
endif()
if(CMAKE_CROSSCOMPILING)
  install(PROGRAMS ${MORVEX_HOST_CHECK_APP_FOLDER} DESTINATION ${MORVEX_TOOLS_DIR}/host
          COMPONENT tools)
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
              ${CMAKE_CURRENT_LIST_DIR}/NSIS.template.in
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
# dated at the build's epoch (MORVEX_SOURCE_DATE_EPOCH), nothing of the
# build machine's files but their bytes.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(CPACK_MORVEX_PYTHON ${Python3_EXECUTABLE})
set(CPACK_MORVEX_REPRODUCIBLE_SCRIPT ${PROJECT_SOURCE_DIR}/scripts/reproducible_package.py)
set(CPACK_MORVEX_SOURCE_DATE_EPOCH ${MORVEX_SOURCE_DATE_EPOCH})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/morvex_reproducible_package.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/morvex_reproducible_package.cmake)
# In the Windows build `cpack -G NSIS` makes the installer of the same
# component, packages/morvex-desktop-VERSION-win64-setup.exe.
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/morvex_add_installer.cmake)
  set(installer_program "")
  if(TARGET morvex_desktop)
    set(icon ${PROJECT_SOURCE_DIR}/bootstrapper/morvex_desktop.ico)
    if(MORVEX_ICON)
      get_filename_component(icon "${MORVEX_ICON}" ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
    endif()
    cmake_path(APPEND MORVEX_APP_DIR morvex_desktop.exe OUTPUT_VARIABLE program)
    cmake_path(NORMAL_PATH program)
    set(installer_program PROGRAM ${program} ICON ${icon})
  endif()
  morvex_add_installer("${MORVEX_PRODUCT_NAME}" ${installer_program})
endif()
include(CPack)
