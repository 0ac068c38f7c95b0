# Runs the case of cases.txt whose arguments are CASE: PROGRAM
# (pitchime-render) --check with those arguments, in this directory. Its
# standard output must be the case's lines, its exit status the case's, and
# standard error empty.
#   cmake -DPROGRAM=path/to/pitchime-render "-DCASE=ARGUMENTS" -P check.cmake
file(READ ${CMAKE_CURRENT_LIST_DIR}/cases.txt text)
# A semicolon would split CMake's lists: it is carried as a placeholder.
string(REPLACE ";" "<semicolon>" text "${text}")
string(REGEX MATCHALL "[^\n]*\n" lines "${text}")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "\n$" "" line "${line}")
  if(line MATCHES "^> (.*)")
    set(this_case "${CMAKE_MATCH_1}")
    separate_arguments(args UNIX_COMMAND "${CMAKE_MATCH_1}")
    set(want "")
  elseif(line MATCHES "^exit ([0-9]+)$" AND this_case STREQUAL CASE)
    set(found TRUE)
    set(want_status ${CMAKE_MATCH_1})
    execute_process(COMMAND ${PROGRAM} --check ${args} WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR}
                    OUTPUT_VARIABLE got ERROR_VARIABLE err RESULT_VARIABLE status)
    string(REPLACE ";" "<semicolon>" got "${got}")
    if(NOT got STREQUAL want OR NOT status STREQUAL want_status OR NOT err STREQUAL "")
      message(SEND_ERROR "--check ${args}: exit ${status}, printed\n${got}${err}"
                         "expected exit ${want_status} after\n${want}")
    endif()
  elseif(NOT line MATCHES "^(#.*)?$")
    string(APPEND want "${line}\n")
  endif()
endforeach()
if(NOT found)
  message(FATAL_ERROR "no case '${CASE}' in cases.txt")
endif()
