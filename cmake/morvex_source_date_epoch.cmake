# The build's time: the one time that the release outputs carry (the
# copyright year of the programs' and the setup program's version
# information, the dates of python27.zip's entries, of the ZIP's and of the
# installer's files), so that two builds of one commit give the same bytes.
#
#   morvex_source_date_epoch(OUT)
#       configure: sets OUT to SOURCE_DATE_EPOCH when it is set, else to the
#       time of the commit the sources are at, else to 1980-01-01 00:00 UTC;
#       never earlier than that, the earliest time a ZIP entry can hold.
#       Writes it to BUILD/source_date_epoch, for build steps to depend on
#       and for scripts to read (scripts/check-reproducible.sh). Git's log of
#       HEAD becomes a configure dependency, so a new commit or checkout
#       configures again.
#   morvex_epoch_year(OUT EPOCH)
#       configure or cpack: sets OUT to the year (UTC) of EPOCH; an empty
#       EPOCH is SOURCE_DATE_EPOCH when set, else now
#
# Scripts take the value as an argument; none has a rule of its own.
include_guard(GLOBAL)

# 1980-01-01 00:00 UTC.
set(_MORVEX_EARLIEST_EPOCH 315532800)

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
      set(epoch ${_MORVEX_EARLIEST_EPOCH})
    endif()
  endif()
  string(LENGTH "${epoch}" digits)
  if(digits LESS 9 OR (digits EQUAL 9 AND epoch LESS _MORVEX_EARLIEST_EPOCH))
    set(epoch ${_MORVEX_EARLIEST_EPOCH})
  endif()
  # Written only when it changes: build steps that date their output depend
  # on it.
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/source_date_epoch CONTENT "${epoch}\n")
  set(${out} ${epoch} PARENT_SCOPE)
endfunction()

function(morvex_epoch_year out epoch)
  set(saved "$ENV{SOURCE_DATE_EPOCH}")
  # string(TIMESTAMP) takes its time from there.
  if(NOT epoch STREQUAL "")
    set(ENV{SOURCE_DATE_EPOCH} ${epoch})
  endif()
  string(TIMESTAMP year "%Y" UTC)
  set(ENV{SOURCE_DATE_EPOCH} "${saved}")
  set(${out} ${year} PARENT_SCOPE)
endfunction()
