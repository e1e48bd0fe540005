# The version information of the Windows programs: their resource scripts
# include morvex_version_info.h, which this writes into the build folder from
# the project's version, MORVEX_PRODUCT_NAME, MORVEX_PUBLISHER and the year
# of MORVEX_SOURCE_DATE_EPOCH (morvex_source_date_epoch.cmake, included by
# the top-level CMakeLists.txt).

# Sets out to VERSION as the four numbers of a Windows version, "1,1,0,0"
# for 1.1.0, joined by separator.
function(morvex_four_part_version out version separator)
  if(NOT version MATCHES "^[0-9]+(\\.[0-9]+)?(\\.[0-9]+)?(\\.[0-9]+)?$")
    message(FATAL_ERROR "version ${version}: a Windows version is one to four numbers")
  endif()
  string(REPLACE "." ";" numbers ${version})
  list(LENGTH numbers count)
  while(count LESS 4)
    list(APPEND numbers 0)
    math(EXPR count "${count} + 1")
  endwhile()
  foreach(number IN LISTS numbers)
    if(number GREATER 65535)
      message(FATAL_ERROR "version ${version}: each number of a Windows version is at most 65535")
    endif()
  endforeach()
  list(JOIN numbers "${separator}" joined)
  set(${out} ${joined} PARENT_SCOPE)
endfunction()

# Lets the resource script SCRIPT include morvex_version_info.h; call it
# after the script's own COMPILE_FLAGS and OBJECT_DEPENDS are set.
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
    morvex_four_part_version(MORVEX_VERSION_NUMBERS ${PROJECT_VERSION} ",")
    morvex_epoch_year(MORVEX_COPYRIGHT_YEAR ${MORVEX_SOURCE_DATE_EPOCH})
    configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/morvex_version_info.h.in ${header} @ONLY)
    set_property(GLOBAL PROPERTY _morvex_version_info_written ON)
  endif()
  set_property(SOURCE ${script} APPEND_STRING PROPERTY COMPILE_FLAGS " -I${folder}")
  set_property(SOURCE ${script} APPEND PROPERTY OBJECT_DEPENDS ${header})
endfunction()
