# Fails when a public header includes another header of the package in the quoted
# form: the headers include one another as <zelvane/...>, so that a consumer's own
# header of the same relative path (its own core/state.h) never stands in for one of
# them.
#   cmake -DROOT=<source tree> -P check_header_includes.cmake
file(GLOB_RECURSE headers ${ROOT}/include/*.h ${ROOT}/platform/include/*.h)
set(offending)
foreach(header IN LISTS headers)
  file(STRINGS ${header} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS lines)
    file(RELATIVE_PATH name ${ROOT} ${header})
    list(APPEND offending "  ${name}: ${line}")
  endforeach()
endforeach()
if(offending)
  list(JOIN offending "\n" text)
  message(FATAL_ERROR "public headers must include the package's headers as <zelvane/...>:\n${text}")
endif()
list(LENGTH headers count)
message(STATUS "${count} public headers include the package's headers as <zelvane/...>")
