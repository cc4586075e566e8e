# Cross-compiling for 64-bit Windows with Debian's MinGW-w64. The posix thread
# model: the win32 one has no std::thread or std::mutex.
#
# For any CMake project that uses Qt 5.15 (and, once installed, this library):
#
#   cmake -S <project> -B <build> -G Ninja \
#       -DCMAKE_TOOLCHAIN_FILE=<this file> \
#       -DCOAGULATION_MINGW_QT=<Qt prefix>       (or the same in the environment)
#       -DCMAKE_PREFIX_PATH=<installed library>  (optional, ';'-separated)
#
# The Qt prefix is one built for MinGW-w64 whose host tools (moc, rcc, uic) are
# Linux programs, as tools/windows/build-qt.sh makes. Qt's translation tools
# come from the host: Debian's qttools5-dev.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(qt_doc "Qt 5.15 built for MinGW-w64 (the prefix tools/windows/build-qt.sh prints)")
if(NOT COAGULATION_MINGW_QT AND NOT "$ENV{COAGULATION_MINGW_QT}" STREQUAL "")
    set(COAGULATION_MINGW_QT "$ENV{COAGULATION_MINGW_QT}" CACHE PATH "${qt_doc}" FORCE)
else()
    set(COAGULATION_MINGW_QT "${COAGULATION_MINGW_QT}" CACHE PATH "${qt_doc}")
endif()
# try_compile() projects read this file again, without the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES COAGULATION_MINGW_QT)

# With the package mode ONLY, a prefix is searched only inside a root: each
# prefix the project names becomes a root of its own, searched as it is.
if(COAGULATION_MINGW_QT)
    list(APPEND CMAKE_FIND_ROOT_PATH "${COAGULATION_MINGW_QT}")
    list(APPEND CMAKE_PREFIX_PATH "${COAGULATION_MINGW_QT}")
endif()
foreach(prefix IN LISTS CMAKE_PREFIX_PATH)
    list(APPEND CMAKE_FIND_ROOT_PATH "${prefix}")
endforeach()
list(REMOVE_DUPLICATES CMAKE_FIND_ROOT_PATH)

# lrelease runs on the build machine; an explicit <package>_DIR is taken as it is.
if(NOT Qt5LinguistTools_DIR AND EXISTS /usr/lib/x86_64-linux-gnu/cmake/Qt5LinguistTools)
    set(Qt5LinguistTools_DIR /usr/lib/x86_64-linux-gnu/cmake/Qt5LinguistTools CACHE PATH
        "Qt's translation tools for the build machine")
endif()

# ctest runs the programs under Wine; a program of the build finds Qt's DLLs,
# the MinGW runtime's and those of each prefix above. The Wine prefix is the
# build's own.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/windows/wine-run
    --prefix ${CMAKE_BINARY_DIR}/wine)
if(COAGULATION_MINGW_QT)
    list(APPEND CMAKE_CROSSCOMPILING_EMULATOR --qt ${COAGULATION_MINGW_QT})
endif()
foreach(prefix IN LISTS CMAKE_PREFIX_PATH)
    if(NOT prefix STREQUAL COAGULATION_MINGW_QT)
        list(APPEND CMAKE_CROSSCOMPILING_EMULATOR --path ${prefix}/bin)
    endif()
endforeach()
