# targets.cmake - libFuzzer targets, one program per fuzz_*.cpp. Built by `make fuzz` only:
# the whole project compiled with clang under the fuzzer's coverage,
# AddressSanitizer and UndefinedBehaviorSanitizer (see fuzz.cmake).
set(QVAR_FUZZ_TARGETS receive parafile uir portscan simopts eeprom)
foreach(t ${QVAR_FUZZ_TARGETS})
  add_executable(fuzz_${t} ${CMAKE_CURRENT_LIST_DIR}/fuzz_${t}.cpp)
  target_link_libraries(fuzz_${t} PRIVATE qvar_app util)
  target_link_options(fuzz_${t} PRIVATE -fsanitize=fuzzer)
  set_target_properties(fuzz_${t} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
endforeach()
# qvar-sim's command line and EEPROM file live beside its pty server.
target_sources(fuzz_simopts PRIVATE ${CMAKE_SOURCE_DIR}/sim/ptyserve.cpp)
target_sources(fuzz_eeprom PRIVATE ${CMAKE_SOURCE_DIR}/sim/ptyserve.cpp)
add_custom_target(fuzz_all)
foreach(t ${QVAR_FUZZ_TARGETS})
  add_dependencies(fuzz_all fuzz_${t})
endforeach()
