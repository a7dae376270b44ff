# Runs one fuzzer for CTest:
#   cmake -D FUZZER=<program> -D CORPUS=<seed folder> -D WORK=<scratch folder>
#         -P RunFuzzer.cmake -- [libFuzzer options...]
# New inputs and crash reproducers go to the scratch folder, emptied first, so that the committed
# corpus never changes and a run with a fixed seed starts from the same inputs every time.

set(options)
set(index 0)
while(index LESS CMAKE_ARGC AND NOT "${CMAKE_ARGV${index}}" STREQUAL "--")
    math(EXPR index "${index} + 1")
endwhile()
math(EXPR index "${index} + 1")
while(index LESS CMAKE_ARGC)
    list(APPEND options "${CMAKE_ARGV${index}}")
    math(EXPR index "${index} + 1")
endwhile()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/new" "${WORK}/crashes")
execute_process(
    COMMAND "${FUZZER}" ${options} "-artifact_prefix=${WORK}/crashes/" "${WORK}/new" "${CORPUS}"
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${FUZZER} failed (${result}); the failing input is in ${WORK}/crashes")
endif()
