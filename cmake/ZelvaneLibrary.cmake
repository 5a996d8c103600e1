# The build tree's include directory in which zelvane/ stands for the public header
# folders of the source tree, so that consumers of the build tree write
# <zelvane/geometry/pose.h> as consumers of the installed package do.
set(ZELVANE_MAPPED_INCLUDE_DIR ${PROJECT_BINARY_DIR}/include)

# Links every file and folder at the top of <dir> into ${ZELVANE_MAPPED_INCLUDE_DIR}/zelvane
# (symbolic links: headers added later are seen at once, and the source tree keeps
# its layout).
function(zelvane_map_headers dir)
  file(MAKE_DIRECTORY ${ZELVANE_MAPPED_INCLUDE_DIR}/zelvane)
  file(GLOB entries RELATIVE ${dir} ${dir}/*)
  foreach(entry IN LISTS entries)
    set(link ${ZELVANE_MAPPED_INCLUDE_DIR}/zelvane/${entry})
    if(NOT EXISTS ${link})
      file(CREATE_LINK ${dir}/${entry} ${link} SYMBOLIC)
    endif()
  endforeach()
endfunction()

# One shared library of the project, as every one of them is made:
#   zelvane_add_library(<target> EXPORT_NAME <name> INCLUDE_DIR <dir> SOURCES <source>...)
# gives <target> and its alias zelvane::<name>, C++17 for its consumers, the public
# headers of <dir> (installed under include/zelvane) both as "geometry/pose.h" and as
# <zelvane/geometry/pose.h> (zelvane_map_headers), the project's version as
# VERSION and its major version as SOVERSION, an RPATH that finds its sibling
# libraries once installed, the project's warnings, and the sanitizer and fuzzing
# instrumentation of this build (zelvane_instrumentation), which passes on to every
# target that links the library in this build tree but not to installed consumers.
function(zelvane_add_library target)
  cmake_parse_arguments(ARG "" "EXPORT_NAME;INCLUDE_DIR" "SOURCES" ${ARGN})
  add_library(${target} SHARED ${ARG_SOURCES})
  add_library(zelvane::${ARG_EXPORT_NAME} ALIAS ${target})
  target_compile_features(${target} PUBLIC cxx_std_17)
  zelvane_map_headers(${ARG_INCLUDE_DIR})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${ARG_INCLUDE_DIR}>
    $<BUILD_INTERFACE:${ZELVANE_MAPPED_INCLUDE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/zelvane>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_link_libraries(${target} PUBLIC $<BUILD_INTERFACE:zelvane_instrumentation>)
  set_target_properties(${target} PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${ZELVANE_VERSION_MAJOR}
    EXPORT_NAME ${ARG_EXPORT_NAME}
    INSTALL_RPATH "$ORIGIN")
  zelvane_set_warnings(${target})
endfunction()
