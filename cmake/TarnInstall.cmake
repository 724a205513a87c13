# Installation and packaging: `cmake --install <build> --prefix P` puts the two tools and their
# manual pages under P, and the policy-script library (tarn::lang with the libraries it is built
# from) with its headers and a CMake package, so that another project can write
#
#   find_package(Tarn 0.1 REQUIRED)
#   target_link_libraries(app PRIVATE tarn::lang)
#
# The libraries are static, so their private dependencies (the sibling libraries that tarn::lang
# uses internally) travel with the export as link-only entries; TarnConfig.cmake finds the system
# package of the public headers (nlohmann-json) again. The test helper library and the
# verifier's internal libraries are not part of the package.
#
# Included at the end of the top-level CMakeLists.txt, after every target exists.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TARN_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tarn)

# Installed names: tarn::lang, tarn::json, tarn::memory, tarn::evolution, the same names as the
# aliases used inside this build, so that code links alike in-tree and against the package.
set(tarn_packaged_libraries tarn-lang tarn-json tarn-memory tarn-evolution)
foreach(library IN LISTS tarn_packaged_libraries)
  string(REGEX REPLACE "^tarn-" "" export_name ${library})
  set_target_properties(${library} PROPERTIES EXPORT_NAME ${export_name})
endforeach()

install(TARGETS ${tarn_packaged_libraries}
  EXPORT TarnTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)

# Public headers live in <library>/include/tarn/<library>/ and are included as "tarn/<library>/x.hpp".
foreach(dir IN ITEMS json memory evolution lang)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${dir}/include/
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development
    FILES_MATCHING PATTERN "*.hpp")
endforeach()

if(TARN_BUILD_TOOLS)
  install(TARGETS qrv-verifier tarn RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  install(FILES ${PROJECT_SOURCE_DIR}/man/qrv-verifier.1 ${PROJECT_SOURCE_DIR}/man/tarn.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
endif()
# The language reference links to the examples relatively, so both keep their places in the tree.
install(FILES ${PROJECT_SOURCE_DIR}/docs/language.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs COMPONENT tools)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/policies ${PROJECT_SOURCE_DIR}/examples/consumer
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT tools)

install(EXPORT TarnTargets
  NAMESPACE tarn::
  FILE TarnTargets.cmake
  DESTINATION ${TARN_INSTALL_CMAKEDIR} COMPONENT development)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/TarnConfig.cmake.in
  ${PROJECT_BINARY_DIR}/TarnConfig.cmake
  INSTALL_DESTINATION ${TARN_INSTALL_CMAKEDIR})
# Before 1.0 a new minor version may change the library's interface, so only 0.1.x satisfies a
# request for 0.1.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TarnConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TarnConfig.cmake ${PROJECT_BINARY_DIR}/TarnConfigVersion.cmake
  DESTINATION ${TARN_INSTALL_CMAKEDIR} COMPONENT development)

# Checks that keep the package, the manual pages and the example policies honest. Each script
# takes the build directory and exits non-zero on any difference or warning.
if(TARN_BUILD_TESTS)
  add_test(NAME tarn-example-policies
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-examples.sh ${PROJECT_BINARY_DIR})
  add_test(NAME tarn-example-tests
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-example-tests.sh ${PROJECT_BINARY_DIR})
  add_test(NAME tarn-install
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-install.sh ${PROJECT_BINARY_DIR})
  add_test(NAME tarn-man-pages
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-man.sh ${PROJECT_BINARY_DIR})
  # The install check configures and builds a whole project of its own.
  set_tests_properties(tarn-install PROPERTIES TIMEOUT 600)
endif()
