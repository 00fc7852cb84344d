# Installs the build into a scratch prefix and checks that the program, its desktop entry
# and its icon land where a Linux desktop looks for them.
#   cmake -DBUILD=<build folder> -DPREFIX=<scratch prefix> -P install_check.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
foreach(file IN ITEMS bin/trelvo share/applications/trelvo.desktop
                      share/icons/hicolor/scalable/apps/trelvo.svg)
    if(NOT EXISTS "${PREFIX}/${file}")
        message(FATAL_ERROR "${file} was not installed")
    endif()
endforeach()
file(STRINGS "${PREFIX}/share/applications/trelvo.desktop" entry)
foreach(line IN ITEMS "[Desktop Entry]" "Type=Application" "Exec=trelvo" "Icon=trelvo")
    list(FIND entry "${line}" found)
    if(found EQUAL -1)
        message(FATAL_ERROR "trelvo.desktop lacks \"${line}\"")
    endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
