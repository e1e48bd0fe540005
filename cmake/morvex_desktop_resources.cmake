# The resources of the Windows morvex_desktop: its icon, manifest and
# resource script.
#
#   morvex_desktop_resources(SCRIPT_OUT ICON_OUT)
#       sets SCRIPT_OUT to the resource script to compile and ICON_OUT to the
#       icon it carries; call it from the program's folder
#
# Input: the cache variable MORVEX_ICON, another icon than
# bootstrapper/morvex_desktop.ico. That file is checked by
# scripts/check_icon.py at configure, and again whenever it changes (it is a
# configure dependency), so a bad icon stops the build with the checker's
# reason. The resource script then is a copy of morvex_desktop.rc in the
# build folder that names the icon by its full path. Runs at configure.
set(MORVEX_ICON "" CACHE FILEPATH
    "Icon of the Windows morvex_desktop: a .ico with 16x16 and 32x32 images of 32 bpp (empty: bootstrapper/morvex_desktop.ico)")

function(morvex_desktop_resources out icon_out)
  set(folder ${CMAKE_CURRENT_SOURCE_DIR})
  set(script ${folder}/morvex_desktop.rc)
  set(icon ${folder}/morvex_desktop.ico)
  if(MORVEX_ICON)
    get_filename_component(icon "${MORVEX_ICON}" ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
    if(icon MATCHES "[\"\\\\]")
      message(FATAL_ERROR "MORVEX_ICON=${MORVEX_ICON}: the path may not hold a double quote or a backslash")
    endif()
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    execute_process(COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/check_icon.py ${icon}
                    RESULT_VARIABLE failed ERROR_VARIABLE reason ERROR_STRIP_TRAILING_WHITESPACE)
    if(failed)
      message(FATAL_ERROR "MORVEX_ICON cannot be the icon of morvex_desktop: ${reason}")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${icon} ${script})

    file(READ ${script} text)
    string(REPLACE "\"morvex_desktop.ico\"" "\"${icon}\"" own_text "${text}")
    if(own_text STREQUAL text)
      message(FATAL_ERROR "${script} no longer names \"morvex_desktop.ico\" for MORVEX_ICON to replace")
    endif()
    # A name of its own: the object of the shipped script keeps its icon.
    set(script ${CMAKE_CURRENT_BINARY_DIR}/morvex_desktop_icon.rc)
    # Written only when it changes, so a new configure compiles nothing anew.
    file(WRITE ${script}.new "${own_text}")
    file(COPY_FILE ${script}.new ${script} ONLY_IF_DIFFERENT)
    file(REMOVE ${script}.new)
  endif()
  # windres runs in the build folder: the manifest is found through -I.
  set_source_files_properties(${script} PROPERTIES
    COMPILE_FLAGS "-I${folder}"
    OBJECT_DEPENDS "${folder}/morvex_desktop.manifest;${icon}")
  set(${out} ${script} PARENT_SCOPE)
  set(${icon_out} ${icon} PARENT_SCOPE)
endfunction()
