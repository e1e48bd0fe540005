# The two targets that morvex_add_launcher works with, over this project's
# own programs: MorvexStartup::launcher (the stub as built for the target
# system) and MorvexStartup::make_launcher (a make_launcher that runs on the
# build machine), and morvex_launcher_tools, which builds both.
#
# A native build uses its own make_launcher. A cross build's make_launcher is
# a program for the target system, so the build machine gets one of its own:
# MORVEX_HOST_MAKE_LAUNCHER names an existing one, and when it is empty this
# project is configured a second time with the build machine's compiler, for
# the tool alone (MORVEX_TOOLS_ONLY), in host-tools/ of the build folder.
# That tool is installed with the "tools" component into tools/host/, where
# the installed package finds it, so the package of a Windows build makes
# launchers on the machine that built it.
#
# check_app_folder goes the same way: MorvexStartup::check_app_folder, whose
# file MORVEX_HOST_CHECK_APP_FOLDER names, runs on the build machine (the
# tests check the installed folder with it); a cross build takes an existing
# one from that cache variable or builds it in host-tools/ with make_launcher.
add_executable(MorvexStartup::launcher ALIAS launcher)
add_custom_target(morvex_launcher_tools)
add_dependencies(morvex_launcher_tools launcher)
set(MORVEX_HOST_TOOL_FILE "")

if(NOT CMAKE_CROSSCOMPILING)
  add_executable(MorvexStartup::make_launcher ALIAS make_launcher)
  add_executable(MorvexStartup::check_app_folder ALIAS check_app_folder)
  add_dependencies(morvex_launcher_tools make_launcher)
  set(MORVEX_HOST_CHECK_APP_FOLDER $<TARGET_FILE:check_app_folder>)
  return()
endif()

set(MORVEX_HOST_MAKE_LAUNCHER "" CACHE FILEPATH
    "make_launcher built for the build machine (cross builds); empty: build one in host-tools/")
set(MORVEX_HOST_CHECK_APP_FOLDER "" CACHE FILEPATH
    "check_app_folder built for the build machine (cross builds); empty: build one in host-tools/")
set(host_build ${CMAKE_BINARY_DIR}/host-tools)
set(build_host_tools OFF)
set(MORVEX_HOST_TOOL_FILE ${MORVEX_HOST_MAKE_LAUNCHER})
if(NOT MORVEX_HOST_TOOL_FILE)
  set(MORVEX_HOST_TOOL_FILE ${host_build}/tools/make_launcher${CMAKE_HOST_EXECUTABLE_SUFFIX})
  set(build_host_tools ON)
endif()
if(NOT MORVEX_HOST_CHECK_APP_FOLDER)
  set(MORVEX_HOST_CHECK_APP_FOLDER
      ${host_build}/tools/check_app_folder${CMAKE_HOST_EXECUTABLE_SUFFIX})
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
set_target_properties(MorvexStartup::make_launcher PROPERTIES IMPORTED_LOCATION ${MORVEX_HOST_TOOL_FILE})
add_executable(MorvexStartup::check_app_folder IMPORTED GLOBAL)
set_target_properties(MorvexStartup::check_app_folder PROPERTIES
                      IMPORTED_LOCATION ${MORVEX_HOST_CHECK_APP_FOLDER})
