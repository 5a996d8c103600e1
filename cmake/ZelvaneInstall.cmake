# Installation: headers under <prefix>/include/zelvane, the three libraries, an
# exported CMake package (find_package(zelvane_core 15)) and a pkg-config file.
include(CMakePackageConfigHelpers)

set(ZELVANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zelvane_core)

install(TARGETS zelvane_core zelvane_settings_manager zelvane_logging_manager
  EXPORT zelvane_core-targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zelvane)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ ${PROJECT_SOURCE_DIR}/platform/include/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zelvane
  FILES_MATCHING PATTERN "*.h")

install(EXPORT zelvane_core-targets
  NAMESPACE zelvane::
  DESTINATION ${ZELVANE_CMAKE_DIR})

configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/zelvane_core-config.cmake.in
  ${PROJECT_BINARY_DIR}/zelvane_core-config.cmake
  INSTALL_DESTINATION ${ZELVANE_CMAKE_DIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/zelvane_core-config-version.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/zelvane_core-config.cmake
  ${PROJECT_BINARY_DIR}/zelvane_core-config-version.cmake
  DESTINATION ${ZELVANE_CMAKE_DIR})

# The pkg-config file finds the prefix from its own location, so that it stays right
# for `cmake --install --prefix <other>` and for a moved installation. Directories
# given as absolute paths stay absolute.
set(ZELVANE_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${ZELVANE_PC_DIR}")
  set(ZELVANE_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH ZELVANE_PC_UP ${CMAKE_INSTALL_PREFIX}/${ZELVANE_PC_DIR} ${CMAKE_INSTALL_PREFIX})
  string(REGEX REPLACE "/$" "" ZELVANE_PC_UP "${ZELVANE_PC_UP}")
  set(ZELVANE_PC_PREFIX "\${pcfiledir}/${ZELVANE_PC_UP}")
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(ZELVANE_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(ZELVANE_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/zelvane_core.pc.in
  ${PROJECT_BINARY_DIR}/zelvane_core.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zelvane_core.pc DESTINATION ${ZELVANE_PC_DIR})
