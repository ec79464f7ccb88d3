# fuzz.cmake - brings the fuzz targets into a configure of the project without
# the project knowing: `make fuzz` passes it as CMAKE_PROJECT_INCLUDE, so it
# runs right after project(), compiles everything for libFuzzer with the
# sanitizers, and adds the targets of targets.cmake once the top folder's
# libraries exist.
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                    -fno-sanitize-recover=undefined)
add_link_options(-fsanitize=address,undefined)
# A deferred call reads its arguments when it runs: keep the folder in a variable.
set(QVAR_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL include ${QVAR_FUZZ_DIR}/targets.cmake)
