# The version information of the Windows programs.
#
#   morvex_version_info(SCRIPT)
#       lets the resource script SCRIPT include morvex_version_info.h; call
#       it after the script's own COMPILE_FLAGS and OBJECT_DEPENDS are set
#
# Inputs: the project's version (PROJECT_VERSION, by the rule of
# morvex_windows_version.cmake), MORVEX_PRODUCT_NAME and MORVEX_PUBLISHER,
# and the build's time MORVEX_SOURCE_DATE_EPOCH (morvex_source_date_epoch.cmake)
# for the copyright year; all set by the top-level CMakeLists.txt.
# Writes BUILD/version_info/morvex_version_info.h at configure, once, from
# morvex_version_info.h.in; the resource compiler reads it at build.
include(${CMAKE_CURRENT_LIST_DIR}/morvex_windows_version.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/morvex_source_date_epoch.cmake)

function(morvex_version_info script)
  set(folder ${PROJECT_BINARY_DIR}/version_info)
  set(header ${folder}/morvex_version_info.h)
  get_property(written GLOBAL PROPERTY _morvex_version_info_written)
  if(NOT written)
    # They go into C strings of the scripts and into the installer's script.
    foreach(name MORVEX_PRODUCT_NAME MORVEX_PUBLISHER)
      if("${${name}}" MATCHES "[\"\\\\$]" OR "${${name}}" STREQUAL "")
        message(FATAL_ERROR "${name}=${${name}}: must not be empty nor hold a double quote, a "
                            "backslash or a \"$\"")
      endif()
    endforeach()
    morvex_windows_version(numbers "${PROJECT_VERSION}" "the project's VERSION")
    list(JOIN numbers "," MORVEX_VERSION_NUMBERS)
    morvex_epoch_year(MORVEX_COPYRIGHT_YEAR ${MORVEX_SOURCE_DATE_EPOCH})
    configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/morvex_version_info.h.in ${header} @ONLY)
    set_property(GLOBAL PROPERTY _morvex_version_info_written ON)
  endif()
  set_property(SOURCE ${script} APPEND_STRING PROPERTY COMPILE_FLAGS " -I${folder}")
  set_property(SOURCE ${script} APPEND PROPERTY OBJECT_DEPENDS ${header})
endfunction()
