cmake_minimum_required(VERSION 3.16)
# Turns every ```cpp block of a markdown file into one GoogleTest case, so that the
# examples of the guide are compiled and run exactly as they are written there.
#   cmake -DINPUT=docs/guide.md -DOUTPUT=guide_examples_test.cpp -P ExtractGuideExamples.cmake
# Lines of a block that start with #include go to the top of the generated file; the
# rest becomes the body of a test inside namespace zelvane.
if(NOT INPUT OR NOT OUTPUT)
  message(FATAL_ERROR "INPUT and OUTPUT must be set")
endif()

file(READ "${INPUT}" text)
set(includes "#include <gtest/gtest.h>\n")
set(bodies "")
set(count 0)
cmake_policy(SET CMP0130 NEW)
set(done FALSE)
while(NOT done)
  string(FIND "${text}" "```cpp\n" start)
  if(start EQUAL -1)
    set(done TRUE)
    break()
  endif()
  math(EXPR start "${start} + 7")
  string(SUBSTRING "${text}" ${start} -1 text)
  string(FIND "${text}" "\n```" stop)
  if(stop EQUAL -1)
    message(FATAL_ERROR "${INPUT}: code block ${count} is not closed")
  endif()
  string(SUBSTRING "${text}" 0 ${stop} block)
  math(EXPR stop "${stop} + 4")
  string(SUBSTRING "${text}" ${stop} -1 text)

  string(REGEX MATCHALL "#include [^\n]*" block_includes "${block}")
  foreach(line IN LISTS block_includes)
    string(FIND "${includes}" "${line}\n" seen)
    if(seen EQUAL -1)
      string(APPEND includes "${line}\n")
    endif()
  endforeach()
  string(REGEX REPLACE "#include [^\n]*\n" "" block "${block}\n")
  math(EXPR count "${count} + 1")
  string(APPEND bodies "\nTEST(GuideExample, Block${count}) {\n${block}}\n")
endwhile()

if(count EQUAL 0)
  message(FATAL_ERROR "${INPUT}: no ```cpp code block found")
endif()
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT}; edit the guide, not this file.\n${includes}\n"
  "namespace zelvane {\nnamespace {\n${bodies}\n}  // namespace\n}  // namespace zelvane\n")
configure_file("${OUTPUT}.tmp" "${OUTPUT}" COPYONLY)
file(REMOVE "${OUTPUT}.tmp")
