# Runs GENERATOR into OUTPUT_DIR and checks that each of FILES (paths relative to both
# OUTPUT_DIR and REFERENCE_DIR) is byte for byte the committed copy in REFERENCE_DIR.
file(REMOVE_RECURSE "${OUTPUT_DIR}")
execute_process(COMMAND "${GENERATOR}" "${OUTPUT_DIR}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${GENERATOR} failed: ${result}")
endif()
set(stale)
foreach(name IN LISTS FILES)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${OUTPUT_DIR}/${name}"
                            "${REFERENCE_DIR}/${name}"
                    RESULT_VARIABLE differs)
    if(NOT differs EQUAL 0)
        list(APPEND stale "${name}")
    endif()
endforeach()
if(stale)
    message(FATAL_ERROR "committed files differ from the generator's output: ${stale}")
endif()
message(STATUS "all ${FILES} match")
