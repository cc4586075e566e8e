# coagulation_install_program(<target> <name> [DESKTOP <template>])
#
# Installs an example program as <install name>-<name> (so that the Qt 5 and
# Qt 6 builds install side by side), finding the library in any prefix it is
# installed to, and, with DESKTOP, its desktop entry made from the template
# (@PROGRAM@ stands for the installed program's name). Component "tools".
function(coagulation_install_program target name)
    cmake_parse_arguments(ARG "" "DESKTOP" "" ${ARGN})
    set(program ${COAGULATION_INSTALL_NAME}-${name})
    set_target_properties(${target} PROPERTIES
        OUTPUT_NAME ${program}
        INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
    if(ARG_DESKTOP AND NOT WIN32)
        set(PROGRAM ${program})
        configure_file(${ARG_DESKTOP} ${CMAKE_CURRENT_BINARY_DIR}/${program}.desktop @ONLY)
        install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${program}.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT tools)
    endif()
endfunction()
