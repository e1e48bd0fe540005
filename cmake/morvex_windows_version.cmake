# The one rule for a Windows version: which versions the release outputs
# can carry, and their four numbers.
#
#   morvex_windows_version(OUT VERSION VARIABLE)
#       sets OUT to the four numbers of VERSION ("1.1.0" gives "1;1;0;0"),
#       or stops, naming VARIABLE (where the version came from), when
#       VERSION is not one to four numbers each within its limit
#
# Every version lands in three places: the programs' version information and
# the setup program's (four numbers of at most 65535 each) and a Windows
# Installer package's ProductVersion (major and minor at most 255, the third
# number at most 65535). A version must fit all three, so the first two
# numbers are at most 255. Text after the numbers ("1.2.0-rc1") has no place
# in any of them and is refused, not dropped.
#
# Runs at configure (the project's version, morvex_add_installer's VERSION)
# and at cpack (a version given with -D CPACK_PACKAGE_VERSION=), so that a
# version is refused before anything is made with it.
include_guard(GLOBAL)

function(morvex_windows_version out version variable)
  set(refusal "${variable}=${version}: a Windows version is one to four numbers (such as 1.2.0)")
  if(NOT version MATCHES "^[0-9]+(\\.[0-9]+)?(\\.[0-9]+)?(\\.[0-9]+)?$")
    message(FATAL_ERROR "${refusal}")
  endif()
  string(REPLACE "." ";" numbers "${version}")
  list(LENGTH numbers count)
  while(count LESS 4)
    list(APPEND numbers 0)
    math(EXPR count "${count} + 1")
  endwhile()
  set(limits 255 255 65535 65535)
  foreach(index RANGE 3)
    list(GET numbers ${index} number)
    list(GET limits ${index} limit)
    # Compared by length first: CMake's numbers stop at 64 bits.
    string(LENGTH "${number}" digits)
    if(digits GREATER 5 OR number GREATER limit)
      message(FATAL_ERROR "${refusal}, the first two at most 255 and the others at most 65535")
    endif()
  endforeach()
  set(${out} "${numbers}" PARENT_SCOPE)
endfunction()
