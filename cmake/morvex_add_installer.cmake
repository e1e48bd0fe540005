# morvex_add_installer(DISPLAY_NAME [PACKAGE_NAME NAME] [VERSION X.Y.Z]
#                      [PUBLISHER TEXT] [ICON FILE.ico] [PROGRAM FILE]
#                      [SHORTCUTS PROGRAM NAME [PROGRAM NAME...]]
#                      [UPGRADE_CODE GUID] [COMPONENT COMPONENT])
#
# Makes `cpack -G NSIS` write PACKAGE_NAME-VERSION-win64-setup.exe, a 64-bit
# Windows installer of the install component COMPONENT (default: runtime),
# from the template NSIS.template.in beside this file, and `cpack -G
# External` PACKAGE_NAME-VERSION-win64.msi, a Windows Installer package of
# the same component (morvex_msi_package.cmake). Both install the
# component's files directly into the install folder, register DISPLAY_NAME
# with VERSION and PUBLISHER in the installed programs (with PROGRAM's icon)
# and make a Start-menu shortcut NAME for each PROGRAM given (default:
# PROGRAM as DISPLAY_NAME); the setup program per machine or per user, with
# an uninstaller of its own, the MSI per machine. PROGRAM paths are relative
# to the install folder ("app.exe", "bin/app.exe"). ICON is the setup
# program's own icon. PACKAGE_NAME, VERSION and PUBLISHER default to
# CPACK_PACKAGE_NAME (else the project's name), CPACK_PACKAGE_VERSION (else
# PROJECT_VERSION) and CPACK_PACKAGE_VENDOR; the install folder is named
# DISPLAY_NAME, and PACKAGE_NAME names the registration, so later versions
# find and replace it. None of the four may hold a double quote or "$".
#
# UPGRADE_CODE is the MSI's upgrade code, by which every later version finds
# and replaces an earlier one: it must stay the same for the product's whole
# life. The default is derived from PUBLISHER and DISPLAY_NAME (configure
# prints it), so renaming either changes it unless it is given. The MSI's
# texts must be ASCII (msi_package.py says why); without a PUBLISHER its
# manufacturer is DISPLAY_NAME.
#
# The installer carries version information as the programs do: ProductName
# DISPLAY_NAME, CompanyName PUBLISHER, FileVersion and ProductVersion
# VERSION (the fixed part as four numbers: 0.1 is 0.1.0.0), a LegalCopyright
# of PUBLISHER with the year of MORVEX_SOURCE_DATE_EPOCH when the caller
# sets it (seconds since 1970), else of SOURCE_DATE_EPOCH, else of the day
# cpack runs; the MSI's times are that time.
#
# Call it before include(CPack): it sets the CPACK_* variables for that in
# the caller's scope (CPACK_VERBATIM_VARIABLES among them, as the shortcut
# commands hold backslashes and quotes). Other generators are unaffected;
# a CPACK_PROJECT_CONFIG_FILE set before is still read.
#
# makensis (Debian's nsis package) must be on the build machine to run
# `cpack -G NSIS`, and wixl (Debian's wixl package) and Python 3 to run
# `cpack -G External`; without one configure says so, and the rest of the
# build and the other generators go on.
#
# When MORVEX_SIGN_PKCS12 is set (cmake/morvex_signing.cmake), makensis signs
# the uninstaller and the setup program as it writes them, and the MSI is
# signed once made, with DISPLAY_NAME as the signatures' description.
#
# Inputs beyond the arguments: the caller's CPACK_PACKAGE_NAME,
# CPACK_PACKAGE_VERSION, CPACK_PACKAGE_VENDOR and CPACK_PROJECT_CONFIG_FILE,
# MORVEX_SOURCE_DATE_EPOCH, the cache variables MORVEX_MAKENSIS and
# MORVEX_WIXL, and the signing variables. VERSION must be a Windows version
# (morvex_windows_version.cmake): configure refuses any other, naming it.
#
# Runs at configure; cpack then reads morvex_installer_cpack.cmake, which
# works out the rest when `cpack -G NSIS` or `cpack -G External` runs. The
# settings handed from configure to cpack, all made at the end of the
# function:
#   CPACK_MORVEX_PROJECT_CONFIG_FILE   the caller's own CPACK_PROJECT_CONFIG_FILE,
#                                      read first
#   CPACK_MORVEX_INSTALLER_COMPONENT   the install component that is the package
#   CPACK_MORVEX_SOURCE_DATE_EPOCH     the build's time, for the copyright year
#                                      and the MSI's times (morvex_package.cmake
#                                      hands the same value to the ZIP's scripts)
#   CPACK_MORVEX_NSIS_SIGNING          makensis's signing commands (NSIS.template.in)
#   CPACK_MORVEX_DISPLAY_NAME          DISPLAY_NAME: the MSI's product name and folder
#   CPACK_MORVEX_MSI_UPGRADE_CODE      the MSI's upgrade code
#   CPACK_MORVEX_MSI_ICON              PROGRAM, whose icon the MSI's entry shows
#   CPACK_MORVEX_MSI_SHORTCUTS         the MSI's shortcuts: PROGRAM;NAME pairs
#   CPACK_MORVEX_WIXL                  wixl, empty when not found
#   CPACK_MORVEX_PYTHON                Python 3, which runs CPACK_MORVEX_MSI_SCRIPT
#                                      (the same as morvex_package.cmake's)
#   CPACK_MORVEX_MSI_SCRIPT            msi_package.py, which makes the MSI
#   CPACK_MORVEX_SIGNING_SETTINGS      the signing steps' settings file, empty
#                                      when the build does not sign
# and CPack's own CPACK_* settings of the package and NSIS.
set(_morvex_installer_dir ${CMAKE_CURRENT_LIST_DIR})
# The MSI's maker: installed beside this file, kept with the other scripts
# in the source tree.
set(_morvex_msi_script ${CMAKE_CURRENT_LIST_DIR}/msi_package.py)
if(NOT EXISTS ${_morvex_msi_script})
  set(_morvex_msi_script ${CMAKE_CURRENT_LIST_DIR}/../scripts/msi_package.py)
  cmake_path(NORMAL_PATH _morvex_msi_script)
endif()
# The namespace of the upgrade codes derived from a publisher and a product.
set(_MORVEX_UPGRADE_CODES 0f6b3c52-8d47-4e1a-b2f9-63a1c5d8e407)
include(${CMAKE_CURRENT_LIST_DIR}/morvex_signing.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/morvex_windows_version.cmake)

function(morvex_add_installer display_name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "PACKAGE_NAME;VERSION;PUBLISHER;ICON;PROGRAM;UPGRADE_CODE;COMPONENT"
                        "SHORTCUTS")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "morvex_add_installer: unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  list(LENGTH arg_SHORTCUTS count)
  math(EXPR odd "${count} % 2")
  if(odd)
    message(FATAL_ERROR "morvex_add_installer: SHORTCUTS takes pairs of PROGRAM NAME")
  endif()
  if(display_name MATCHES "[\\\\/:*?<>|]")
    message(FATAL_ERROR "morvex_add_installer: \"${display_name}\" cannot name a folder")
  endif()
  set(default_PACKAGE_NAME ${PROJECT_NAME})
  if(CPACK_PACKAGE_NAME)
    set(default_PACKAGE_NAME ${CPACK_PACKAGE_NAME})
  endif()
  set(default_VERSION ${PROJECT_VERSION})
  if(CPACK_PACKAGE_VERSION)
    set(default_VERSION ${CPACK_PACKAGE_VERSION})
  endif()
  set(default_PUBLISHER "${CPACK_PACKAGE_VENDOR}")
  set(default_COMPONENT runtime)
  foreach(name PACKAGE_NAME VERSION PUBLISHER COMPONENT)
    if(NOT DEFINED arg_${name})
      set(arg_${name} "${default_${name}}")
    endif()
  endforeach()
  # These go into the installer's script as they are.
  foreach(text display_name arg_PACKAGE_NAME arg_VERSION arg_PUBLISHER)
    if("${${text}}" MATCHES "[\"$]")
      message(FATAL_ERROR "morvex_add_installer: \"${${text}}\" may hold neither \" nor $")
    endif()
  endforeach()
  morvex_windows_version(numbers "${arg_VERSION}" "morvex_add_installer VERSION")
  if(NOT arg_SHORTCUTS AND arg_PROGRAM)
    set(arg_SHORTCUTS "${arg_PROGRAM}" "${display_name}")
  endif()
  string(REPLACE "\\" "/" msi_shortcuts "${arg_SHORTCUTS}")
  string(REPLACE "\\" "/" msi_icon "${arg_PROGRAM}")
  if(NOT DEFINED arg_UPGRADE_CODE OR arg_UPGRADE_CODE STREQUAL "")
    string(UUID arg_UPGRADE_CODE NAMESPACE ${_MORVEX_UPGRADE_CODES}
           NAME "${arg_PUBLISHER}\n${display_name}" TYPE SHA1 UPPER)
    message(STATUS "${display_name}: the MSI's upgrade code is {${arg_UPGRADE_CODE}}, derived from "
                   "its name and publisher; keep it for every later version")
  endif()
  string(REGEX REPLACE "^\\{(.*)\\}$" "\\1" upgrade_code "${arg_UPGRADE_CODE}")
  string(TOUPPER "${upgrade_code}" upgrade_code)
  # A GUID: hexadecimal digits, 8-4-4-4-12 (CMake's expressions have no {n}).
  string(REPEAT "[0-9A-F]" 4 four)
  if(NOT upgrade_code MATCHES "^${four}${four}-${four}-${four}-${four}-${four}${four}${four}$")
    message(FATAL_ERROR "morvex_add_installer: UPGRADE_CODE \"${arg_UPGRADE_CODE}\" is no GUID "
                        "(such as {${_MORVEX_UPGRADE_CODES}})")
  endif()

  # NSIS text: "$" doubled, double quotes escaped; Windows separators.
  set(create "")
  set(delete "")
  while(arg_SHORTCUTS)
    list(POP_FRONT arg_SHORTCUTS program name)
    string(REPLACE "/" "\\" program "${program}")
    foreach(text program name)
      string(REPLACE "$" "$$" ${text} "${${text}}")
      string(REPLACE "\"" "$\\\"" ${text} "${${text}}")
    endforeach()
    string(APPEND create "  CreateShortCut \"$SMPROGRAMS\\${name}.lnk\" \"$INSTDIR\\${program}\"\n")
    string(APPEND delete "  Delete \"$SMPROGRAMS\\${name}.lnk\"\n")
  endwhile()
  string(REPLACE "/" "\\" program_icon "${arg_PROGRAM}")
  set(icon "")
  if(arg_ICON)
    get_filename_component(icon "${arg_ICON}" ABSOLUTE)
    if(NOT EXISTS "${icon}")
      message(FATAL_ERROR "morvex_add_installer: no icon ${icon}")
    endif()
  endif()

  find_program(MORVEX_MAKENSIS makensis DOC "makensis of NSIS, for `cpack -G NSIS`")
  if(MORVEX_MAKENSIS AND EXISTS "${MORVEX_MAKENSIS}")
    set(CPACK_NSIS_EXECUTABLE ${MORVEX_MAKENSIS} PARENT_SCOPE)
  else()
    message(WARNING "makensis not found: `cpack -G NSIS` cannot make the ${display_name} installer. "
                    "Install NSIS (Debian: the nsis package, `apt-get install nsis`) or name it with "
                    "-DMORVEX_MAKENSIS=PATH.")
  endif()

  find_program(MORVEX_WIXL wixl DOC "wixl of msitools, for `cpack -G External` (the MSI)")
  find_package(Python3 QUIET COMPONENTS Interpreter)
  set(wixl "")
  if(MORVEX_WIXL AND EXISTS "${MORVEX_WIXL}" AND Python3_EXECUTABLE)
    set(wixl ${MORVEX_WIXL})
  else()
    message(WARNING "wixl or Python 3 not found: `cpack -G External` cannot make the ${display_name} "
                    "MSI package. Install wixl (Debian: the wixl package, `apt-get install wixl`) "
                    "and python3, or name wixl with -DMORVEX_WIXL=PATH.")
  endif()

  morvex_nsis_signing_commands(signing "${display_name}")
  get_property(signing_settings GLOBAL PROPERTY MORVEX_SIGNING_SETTINGS)
  # Handed to cpack (the header lists them).
  if(CPACK_PROJECT_CONFIG_FILE)
    set(CPACK_MORVEX_PROJECT_CONFIG_FILE "${CPACK_PROJECT_CONFIG_FILE}" PARENT_SCOPE)
  endif()
  set(CPACK_MORVEX_INSTALLER_COMPONENT ${arg_COMPONENT} PARENT_SCOPE)
  set(CPACK_MORVEX_SOURCE_DATE_EPOCH "${MORVEX_SOURCE_DATE_EPOCH}" PARENT_SCOPE)
  set(CPACK_MORVEX_NSIS_SIGNING "${signing}" PARENT_SCOPE)
  set(CPACK_MORVEX_DISPLAY_NAME "${display_name}" PARENT_SCOPE)
  set(CPACK_MORVEX_MSI_UPGRADE_CODE ${upgrade_code} PARENT_SCOPE)
  set(CPACK_MORVEX_MSI_ICON "${msi_icon}" PARENT_SCOPE)
  set(CPACK_MORVEX_MSI_SHORTCUTS "${msi_shortcuts}" PARENT_SCOPE)
  set(CPACK_MORVEX_WIXL "${wixl}" PARENT_SCOPE)
  set(CPACK_MORVEX_PYTHON "${Python3_EXECUTABLE}" PARENT_SCOPE)
  set(CPACK_MORVEX_MSI_SCRIPT ${_morvex_msi_script} PARENT_SCOPE)
  set(CPACK_MORVEX_SIGNING_SETTINGS "${signing_settings}" PARENT_SCOPE)

  set(CPACK_PROJECT_CONFIG_FILE ${_morvex_installer_dir}/morvex_installer_cpack.cmake PARENT_SCOPE)
  # CPack looks for the template in CPACK_MODULE_PATH first.
  set(CPACK_MODULE_PATH ${_morvex_installer_dir} ${CMAKE_MODULE_PATH} PARENT_SCOPE)
  set(CPACK_VERBATIM_VARIABLES ON PARENT_SCOPE)
  set(CPACK_PACKAGE_NAME "${arg_PACKAGE_NAME}" PARENT_SCOPE)
  set(CPACK_PACKAGE_VERSION "${arg_VERSION}" PARENT_SCOPE)
  set(CPACK_PACKAGE_VENDOR "${arg_PUBLISHER}" PARENT_SCOPE)
  set(CPACK_PACKAGE_INSTALL_DIRECTORY "${display_name}" PARENT_SCOPE)
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "${arg_PACKAGE_NAME}" PARENT_SCOPE)
  set(CPACK_NSIS_DISPLAY_NAME "${display_name}" PARENT_SCOPE)
  set(CPACK_NSIS_PACKAGE_NAME "${display_name}" PARENT_SCOPE)
  set(CPACK_NSIS_MUI_ICON "${icon}" PARENT_SCOPE)
  set(CPACK_NSIS_INSTALLED_ICON_NAME "${program_icon}" PARENT_SCOPE)
  set(CPACK_NSIS_CREATE_ICONS_EXTRA "${create}" PARENT_SCOPE)
  set(CPACK_NSIS_DELETE_ICONS_EXTRA "${delete}" PARENT_SCOPE)
endfunction()
