# The serial port's system layer, without Qt: serialport_p.h and one
# implementation per system. Built once, as objects, for the library and for
# the layer's own cases (tests/serialport), which run it without Qt and, for
# Windows, under Wine.
find_package(Threads REQUIRED)
if(WIN32)
    add_library(serialportlayer OBJECT
        ${CMAKE_CURRENT_LIST_DIR}/serialport_win.cpp
        ${CMAKE_CURRENT_LIST_DIR}/serialportlist_win.cpp
        ${CMAKE_CURRENT_LIST_DIR}/serialtext_win_p.h)
    target_link_libraries(serialportlayer PUBLIC advapi32)
else()
    add_library(serialportlayer OBJECT
        ${CMAKE_CURRENT_LIST_DIR}/serialport_unix.cpp
        ${CMAKE_CURRENT_LIST_DIR}/serialportlist_unix.cpp
        ${CMAKE_CURRENT_LIST_DIR}/serialline_unix.cpp
        ${CMAKE_CURRENT_LIST_DIR}/serialline_unix_p.h)
endif()
target_sources(serialportlayer PRIVATE ${CMAKE_CURRENT_LIST_DIR}/serialport_p.h)
target_include_directories(serialportlayer PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(serialportlayer PUBLIC Threads::Threads)
# Part of the library: position-independent, and nothing of it exported.
set_target_properties(serialportlayer PROPERTIES
    AUTOMOC OFF
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
