# coagulation_add_test(<name> [SOURCE <file>] [SOURCES ...] [LIBRARIES ...] [LABELS ...])
#
# Builds tst_<name> from tst_<name>.cpp (or SOURCE) and SOURCES, links
# LIBRARIES, and registers it with CTest as <name>: on the offscreen platform,
# under a time limit, with its LABELS so that `ctest -L <label>` selects it:
#
#   unit     value types and helpers, no files
#   store    the settings store and the databases
#   process  runs programs of its own (children, other programs on the files)
#   gui      windows, message boxes, cursors
#   serial   serial lines
#   threads  several threads at once; also run under ThreadSanitizer
function(coagulation_add_test name)
    cmake_parse_arguments(ARG "" "SOURCE" "SOURCES;LIBRARIES;LABELS" ${ARGN})
    if(NOT ARG_SOURCE)
        set(ARG_SOURCE tst_${name}.cpp)
    endif()
    add_executable(tst_${name} ${ARG_SOURCE} ${ARG_SOURCES})
    target_link_libraries(tst_${name} PRIVATE ${ARG_LIBRARIES})
    add_test(NAME ${name} COMMAND tst_${name})
    set(environment QT_QPA_PLATFORM=offscreen)
    if(WIN32 AND CMAKE_CROSSCOMPILING)
        # Under the emulator (Wine), the library's DLL is found on WINEPATH.
        list(APPEND environment "WINEPATH=$<TARGET_FILE_DIR:core>")
    endif()
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "${environment}"
        TIMEOUT 300
        LABELS "${ARG_LABELS}")
endfunction()

# coagulation_test_path(<variable> <path>)
#
# Sets <variable> to <path> as a test program sees it, for the paths built
# into the tests. A Windows program built on Linux runs under Wine, where the
# build machine's root is drive Z:; without the drive, the path would lead
# elsewhere once a test makes a folder on C: its working directory.
function(coagulation_test_path variable path)
    if(WIN32 AND CMAKE_HOST_UNIX)
        set(path "Z:${path}")
    endif()
    set(${variable} "${path}" PARENT_SCOPE)
endfunction()

# A Windows build made on Linux runs its tests of serial lines under Wine
# against pseudo-terminals, which serialport-peer holds and serves as COM ports
# of the Wine prefix. The peer is a Linux program, built natively from
# coagulation/core/tests/serialport (./build.sh windows builds it and passes
# its path on, also through the environment); without it those tests are not
# built.
if(WIN32 AND CMAKE_CROSSCOMPILING)
    set(peer_doc "serialport-peer built for the build machine, for the serial tests under Wine")
    if(NOT "$ENV{COAGULATION_SERIAL_PEER}" STREQUAL "")
        set(COAGULATION_SERIAL_PEER "$ENV{COAGULATION_SERIAL_PEER}" CACHE FILEPATH "${peer_doc}"
            FORCE)
    else()
        set(COAGULATION_SERIAL_PEER "" CACHE FILEPATH "${peer_doc}")
    endif()
    if(NOT COAGULATION_SERIAL_PEER)
        message(STATUS "No COAGULATION_SERIAL_PEER: the serial tests are left out")
    endif()
endif()

# coagulation_through_serial_peer(<name>)
#
# Runs the test <name> (the program tst_<name>) through serialport-peer. One
# such test at a time: each peer names its lines COM10, COM11, ... in the one
# Wine prefix of the build.
function(coagulation_through_serial_peer name)
    set_property(TARGET tst_${name} APPEND PROPERTY
        CROSSCOMPILING_EMULATOR --peer ${COAGULATION_SERIAL_PEER})
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK serialport-peer)
endfunction()
