# The one time that the release outputs carry (the copyright year of the
# programs' version information, the dates of the ZIP's entries and of the
# installer's files), so that two builds of one commit give the same bytes:
# SOURCE_DATE_EPOCH when it is set, else the time of the commit the sources
# are at, else 1980-01-01 00:00 UTC, the earliest time a ZIP entry can hold.
#
# It is taken when the build folder is configured; a new commit or checkout
# configures it again, as git's log of HEAD is a configure dependency.
function(morvex_source_date_epoch out)
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
  if(NOT epoch STREQUAL "")
    if(NOT epoch MATCHES "^[0-9]+$")
      message(FATAL_ERROR "SOURCE_DATE_EPOCH=${epoch}: not a count of seconds since 1970")
    endif()
  else()
    find_package(Git QUIET)
    if(GIT_FOUND)
      execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                      OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --path-format=absolute --git-path logs/HEAD
                      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                      OUTPUT_VARIABLE log OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(log AND EXISTS "${log}")
        set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${log}")
      endif()
    endif()
    if(NOT epoch MATCHES "^[0-9]+$")
      set(epoch 315532800)
    endif()
  endif()
  # For build steps that date their output: a file that changes only with
  # the epoch.
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/source_date_epoch CONTENT "${epoch}\n")
  set(${out} ${epoch} PARENT_SCOPE)
endfunction()

# Sets out to the year (UTC) of an epoch.
function(morvex_epoch_year out epoch)
  set(saved "$ENV{SOURCE_DATE_EPOCH}")
  # string(TIMESTAMP) takes its time from there.
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})
  string(TIMESTAMP year "%Y" UTC)
  set(ENV{SOURCE_DATE_EPOCH} "${saved}")
  set(${out} ${year} PARENT_SCOPE)
endfunction()
