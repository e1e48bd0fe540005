# The programs that make and check launchers and folders on the build
# machine, as targets whatever the build is for.
#
# Defines:
#   MorvexStartup::launcher          the stub, as built for the target system
#   MorvexStartup::make_launcher     a make_launcher that runs on the build
#                                    machine (morvex_add_launcher.cmake)
#   MorvexStartup::check_app_folder  a check_app_folder that runs on the build
#                                    machine (the tests check folders with it)
#   morvex_launcher_tools            the target that builds them
# In a cross build the last two are imported, with IMPORTED_LOCATION naming
# their files (morvex_package.cmake installs them into tools/host/).
#
# A native build uses its own programs. A cross build's are programs for the
# target system, so the build machine gets its own: the cache variables
# MORVEX_HOST_MAKE_LAUNCHER and MORVEX_HOST_CHECK_APP_FOLDER name existing
# ones, and when one is empty this project is configured a second time with
# the build machine's compiler, for the tools alone (MORVEX_TOOLS_ONLY), in
# host-tools/ of the build folder, built with every build. Runs at
# configure.
add_executable(MorvexStartup::launcher ALIAS launcher)
add_custom_target(morvex_launcher_tools)
add_dependencies(morvex_launcher_tools launcher)

if(NOT CMAKE_CROSSCOMPILING)
  add_executable(MorvexStartup::make_launcher ALIAS make_launcher)
  add_executable(MorvexStartup::check_app_folder ALIAS check_app_folder)
  add_dependencies(morvex_launcher_tools make_launcher)
  return()
endif()

set(MORVEX_HOST_MAKE_LAUNCHER "" CACHE FILEPATH
    "make_launcher built for the build machine (cross builds); empty: build one in host-tools/")
set(MORVEX_HOST_CHECK_APP_FOLDER "" CACHE FILEPATH
    "check_app_folder built for the build machine (cross builds); empty: build one in host-tools/")
set(host_build ${CMAKE_BINARY_DIR}/host-tools)
set(build_host_tools OFF)
set(host_make_launcher ${MORVEX_HOST_MAKE_LAUNCHER})
if(NOT host_make_launcher)
  set(host_make_launcher ${host_build}/tools/make_launcher${CMAKE_HOST_EXECUTABLE_SUFFIX})
  set(build_host_tools ON)
endif()
set(host_check_app_folder ${MORVEX_HOST_CHECK_APP_FOLDER})
if(NOT host_check_app_folder)
  set(host_check_app_folder ${host_build}/tools/check_app_folder${CMAKE_HOST_EXECUTABLE_SUFFIX})
  set(build_host_tools ON)
endif()
if(build_host_tools)
  include(ExternalProject)
  # No toolchain file is passed, so the nested build uses the build machine's
  # compiler. BUILD_ALWAYS lets a change to the tools' sources reach it; the
  # nested make finds nothing to do otherwise.
  ExternalProject_Add(morvex_host_tools
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${host_build}
    CMAKE_ARGS -DMORVEX_TOOLS_ONLY=ON -DMORVEX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
               -DMORVEX_WERROR=${MORVEX_WERROR}
    BUILD_COMMAND ${CMAKE_COMMAND} --build ${host_build} --target make_launcher check_app_folder
    BUILD_BYPRODUCTS ${host_build}/tools/make_launcher${CMAKE_HOST_EXECUTABLE_SUFFIX}
                     ${host_build}/tools/check_app_folder${CMAKE_HOST_EXECUTABLE_SUFFIX}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    USES_TERMINAL_BUILD OFF)
  add_dependencies(morvex_launcher_tools morvex_host_tools)
endif()
add_executable(MorvexStartup::make_launcher IMPORTED GLOBAL)
set_target_properties(MorvexStartup::make_launcher PROPERTIES IMPORTED_LOCATION ${host_make_launcher})
add_executable(MorvexStartup::check_app_folder IMPORTED GLOBAL)
set_target_properties(MorvexStartup::check_app_folder PROPERTIES
                      IMPORTED_LOCATION ${host_check_app_folder})
