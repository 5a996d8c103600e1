# Builds and runs the package consumer with nothing but the flags that pkg-config
# reads from the installed zelvane_core.pc, as a build without CMake would.
#   cmake -DPREFIX=<install prefix> -DLIBDIR=<library directory below it>
#         -DCXX=<compiler> -DSOURCE=<consumer.cpp> -DBINARY=<scratch directory>
#         -P pkg_config_consumer.cmake
find_program(PKG_CONFIG pkg-config)
if(NOT PKG_CONFIG)
  message(FATAL_ERROR "pkg-config is not installed (scripts/install-deps installs it)")
endif()
set(ENV{PKG_CONFIG_PATH} "${PREFIX}/${LIBDIR}/pkgconfig")

function(pkg_config output)
  execute_process(COMMAND ${PKG_CONFIG} ${ARGN} zelvane_core
    OUTPUT_VARIABLE text ERROR_VARIABLE error RESULT_VARIABLE status
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "pkg-config ${ARGN} zelvane_core failed: ${error}")
  endif()
  set(${output} "${text}" PARENT_SCOPE)
endfunction()

# The file must name the prefix it was installed to, not the configured one.
pkg_config(prefix --variable=prefix)
get_filename_component(prefix "${prefix}" REALPATH)
get_filename_component(expected "${PREFIX}" REALPATH)
if(NOT prefix STREQUAL expected)
  message(FATAL_ERROR "zelvane_core.pc gives the prefix '${prefix}', installed to '${expected}'")
endif()

pkg_config(flags --cflags --libs)
separate_arguments(flags UNIX_COMMAND "${flags}")
file(MAKE_DIRECTORY "${BINARY}")
execute_process(
  COMMAND ${CXX} -std=c++17 ${SOURCE} ${flags} -Wl,-rpath,${PREFIX}/${LIBDIR}
          -o ${BINARY}/consumer
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "compiling the consumer with the flags of pkg-config failed")
endif()
execute_process(COMMAND ${BINARY}/consumer RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the consumer built through pkg-config failed")
endif()
