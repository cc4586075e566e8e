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
