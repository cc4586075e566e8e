# Debian packages, made by CPack (./build.sh package): the library, its
# development files, and the tools, each with its debug information in a
# package of its own. Configure with CMAKE_INSTALL_PREFIX=/usr (the package
# preset does). A Windows build makes one ZIP instead, with what the programs
# run on beside them (CoagulationWindowsDeploy.cmake).
#
#   libcoagulation-core1       the library and its translations
#   libcoagulation-core-dev    headers, CMake package, pkg-config file, schema,
#                              API reference
#   coagulation-tools          coagulation-setup, the curve viewer and the
#                              settings editor, their translations and menu entries
#
# The Qt 6 build names them libcoagulation-qt6-core1 and so on, so that both
# install side by side.
set(CPACK_PACKAGE_NAME ${COAGULATION_INSTALL_NAME})
set(CPACK_PACKAGE_VENDOR "Coagulation project")
set(CPACK_PACKAGE_CONTACT "Coagulation maintainers <maintainers@coagulation.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(WIN32)
    include(${CMAKE_CURRENT_LIST_DIR}/CoagulationWindowsDeploy.cmake)
    include(CPack)
    return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# The packages' dependencies on Qt and the C++ runtime, found by
# dpkg-shlibdeps from what the binaries link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tools link the library of the runtime package, which dpkg-shlibdeps
# finds in the build tree (the dependency on that package is stated below).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/coagulation/core)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# Stripped binaries; their debug information goes to -dbgsym packages.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
# The development and tools packages need the library's own package.
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(library lib${COAGULATION_INSTALL_NAME}-core)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${library}${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${library}-dev)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${COAGULATION_INSTALL_NAME}-tools)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "core library of the coagulation analyser's application: results, curves, settings store")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "development files of the coagulation analyser's core library")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "site set-up tool, curve viewer and settings editor of the coagulation analyser")
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)
# The headers include Qt's, and the CMake package finds Qt's; the library
# opens its databases through Qt's SQLite driver, a plug-in nothing links.
if(COAGULATION_QT_MAJOR EQUAL 5)
    set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "qtbase5-dev")
    set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libqt5sql5-sqlite")
else()
    set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "qt6-base-dev")
    set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libqt6sql6-sqlite")
endif()
include(CPack)
