# cmake -DCOMMAND=<program and arguments, separated by |> -DEXPECT=<file> -P run_demo.cmake
# Runs a demo, shows its transcript, and fails unless it exited with 0 and printed, in order,
# a line matching each regular expression of EXPECT (one a line).
string(REPLACE "|" ";" command "${COMMAND}")
execute_process(COMMAND ${command} OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE result)
message("${output}${errors}")
if(NOT result EQUAL 0)
    message(FATAL_ERROR "the demo ended with ${result}")
endif()

file(STRINGS "${EXPECT}" expected)
set(rest "${output}")
foreach(line IN LISTS expected)
    string(REGEX MATCH "${line}[^\n]*\n" found "${rest}")
    if(NOT found)
        message(FATAL_ERROR "missing in the demo's output, after what came before it: ${line}")
    endif()
    string(FIND "${rest}" "${found}" at)
    string(LENGTH "${found}" length)
    math(EXPR at "${at} + ${length}")
    string(SUBSTRING "${rest}" ${at} -1 rest)
endforeach()
