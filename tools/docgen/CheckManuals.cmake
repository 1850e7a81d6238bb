# Renders the manuals with GENERATOR (zport-docgen --strict) from DOCS_DIR into OUTPUT_DIR, so
# that every picture must be found and every reference resolved, then checks that the committed
# PDF files in REFERENCE_DIR were made from DOCS_DIR as it is now (zport-docgen --check).
file(REMOVE_RECURSE "${OUTPUT_DIR}")
execute_process(COMMAND "${GENERATOR}" --strict "${DOCS_DIR}" "${OUTPUT_DIR}"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${GENERATOR} --strict failed: ${result}")
endif()
execute_process(COMMAND "${GENERATOR}" --check "${DOCS_DIR}" "${REFERENCE_DIR}"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "the committed manuals are older than docs/ "
                        "(cmake --build <build> --target zport-regenerate-manuals)")
endif()
