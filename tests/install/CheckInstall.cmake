# Installs the build into a fresh prefix and checks that every file the program reads is where it
# reads it, and that the desktop entry and the metainfo are valid.
#   cmake -DBUILD_DIR=<build> -DPREFIX=<empty folder> -DAPP_ID=<id> -P CheckInstall.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${status}")
endif()

# On the PATH: a link to the program in its private folder.
if(NOT IS_SYMLINK "${PREFIX}/bin/parlorix")
    message(FATAL_ERROR "bin/parlorix is not a link")
endif()
file(REAL_PATH "${PREFIX}/bin/parlorix" program)
get_filename_component(programFolder "${program}" DIRECTORY)
file(REAL_PATH "${PREFIX}/lib/parlorix" privateFolder)
if(NOT programFolder STREQUAL privateFolder)
    message(FATAL_ERROR "bin/parlorix leads to ${program}, not into lib/parlorix")
endif()

# What the program reads below its own folder.
foreach(read "HAND-M.CUR" "Help Video/Skype Allow.avi")
    if(NOT EXISTS "${programFolder}/${read}")
        message(FATAL_ERROR "the program reads ${read} beside itself, and it is not there")
    endif()
endforeach()

set(desktop "${PREFIX}/share/applications/${APP_ID}.desktop")
set(metainfo "${PREFIX}/share/metainfo/${APP_ID}.metainfo.xml")
foreach(installed "${desktop}" "${metainfo}")
    if(NOT EXISTS "${installed}")
        message(FATAL_ERROR "${installed} is missing")
    endif()
endforeach()
foreach(size 32 48 128 256)
    if(NOT EXISTS "${PREFIX}/share/icons/hicolor/${size}x${size}/apps/${APP_ID}.png")
        message(FATAL_ERROR "the ${size} x ${size} icon is missing")
    endif()
endforeach()
file(STRINGS "${desktop}" icon REGEX "^Icon=")
if(NOT icon STREQUAL "Icon=${APP_ID}")
    message(FATAL_ERROR "the desktop entry names the icon ${icon}")
endif()

execute_process(COMMAND desktop-file-validate "${desktop}" RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0 OR out MATCHES "error")
    message(FATAL_ERROR "desktop-file-validate: ${out}")
endif()
execute_process(COMMAND appstreamcli validate --no-net "${metainfo}" RESULT_VARIABLE status OUTPUT_VARIABLE out
                ERROR_VARIABLE out)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "appstreamcli validate: ${out}")
endif()
message(STATUS "installed layout checked in ${PREFIX}")
