# The Windows SDK: one ZIP (cpack --preset mingw-sdk) with the library, its
# development files and the set-up tool, and beside them what they run on, as
# windeployqt gathers it: Qt's DLLs and plug-ins and the MinGW runtime.
#
#   bin/                      libcoagulation-core.dll, coagulation-setup.exe,
#                             Qt5*.dll, the MinGW runtime, qt.conf
#   plugins/                  platforms/ and sqldrivers/qsqlite.dll
#   include/coagulation/      the headers
#   lib/                      the import library, cmake/Coagulation/, pkgconfig/
#   share/coagulation/        translations/ and schema/
#   README.txt
#
# Nothing installed names a path of the build machine: the CMake package and
# the pkg-config file find everything from their own place.
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME ${COAGULATION_INSTALL_NAME}-${PROJECT_VERSION}-windows-x86_64)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_STRIP_FILES ON)

# The Qt modules the library links, from the imported targets' locations.
set(COAGULATION_SDK_QT_DLLS)
foreach(module IN ITEMS Core Gui Widgets Sql ${CORE_PRIVATE_QT_COMPONENTS})
    install(FILES $<TARGET_FILE:${QT}::${module}>
        DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
    list(APPEND COAGULATION_SDK_QT_DLLS ${QT}${module})
endforeach()

# Plug-ins nothing links: the store opens its databases through Qt's SQLite
# driver, and a QGuiApplication needs a platform, whichever this Qt has.
get_target_property(platforms ${QT}::Gui QT_ALL_PLUGINS_platforms)
if(NOT platforms)
    message(FATAL_ERROR "${QT}::Gui names no platform plug-in")
endif()
set(COAGULATION_SDK_PLATFORMS)
foreach(plugin IN LISTS platforms ITEMS ${QT}::QSQLiteDriverPlugin)
    get_target_property(type ${plugin} QT_PLUGIN_TYPE)
    get_target_property(location ${plugin} LOCATION)
    install(FILES ${location} DESTINATION plugins/${type} COMPONENT runtime)
    if(type STREQUAL "platforms")
        get_filename_component(name ${location} NAME)
        list(APPEND COAGULATION_SDK_PLATFORMS ${name})
    endif()
endforeach()
# Qt looks for its plug-ins in its prefix, which it takes from qt.conf beside
# the program; without one, a relocated Qt takes the program's own directory.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/qt.conf "[Paths]\nPrefix = ..\n")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/qt.conf
    DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)

# The compiler's runtime, where the compiler itself finds it. Debian's copies
# carry debug information, which a stripped install leaves out.
foreach(dll IN ITEMS libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
        OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
        message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not find ${dll}")
    endif()
    get_filename_component(path "${path}" REALPATH)
    install(FILES ${path} DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME ${dll} COMPONENT runtime)
    install(CODE "
        if(CMAKE_INSTALL_DO_STRIP)
            execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded
                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${dll}\")
        endif()" COMPONENT runtime)
endforeach()

set(COAGULATION_SDK_QT_VERSION ${${QT}Core_VERSION})
string(REPLACE ";" ", " COAGULATION_SDK_QT_DLLS "${COAGULATION_SDK_QT_DLLS}")
string(REPLACE ";" ", " COAGULATION_SDK_PLATFORMS "${COAGULATION_SDK_PLATFORMS}")
string(REGEX MATCH "^[0-9]+" COAGULATION_SDK_GCC ${CMAKE_CXX_COMPILER_VERSION})
set(COAGULATION_SDK_LIBRARY lib${COAGULATION_INSTALL_NAME}-core.dll)
set(COAGULATION_SDK_IMPLIB ${COAGULATION_SDK_LIBRARY}.a)
configure_file(${CMAKE_CURRENT_LIST_DIR}/windows-sdk-README.txt.in
    ${CMAKE_CURRENT_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION . COMPONENT development)
