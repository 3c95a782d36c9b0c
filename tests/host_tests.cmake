# host_tests.cmake -- the portable code natively, under AddressSanitizer and UndefinedBehaviorSanitizer
add_executable(portable_tests portable_test.cpp)
target_link_libraries(portable_tests PRIVATE portable gtest_main z)
add_test(NAME portable COMMAND portable_tests)

# The payload decoder under libFuzzer (clang), seeded with the crafted payloads: a short run, `make fuzz` a long one.
find_program(CLANGXX clang++)
if(CLANGXX)
    set(FUZZER ${CMAKE_CURRENT_BINARY_DIR}/payload_fuzzer)
    set(SEEDS ${CMAKE_CURRENT_BINARY_DIR}/fuzz_seeds)
    add_custom_command(
        OUTPUT ${FUZZER} ${SEEDS}/crafted_payloads.rc
        COMMAND ${CLANGXX} -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
                -I${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/fuzz/payload_fuzzer.cpp
                ${CMAKE_SOURCE_DIR}/payload/payload_format.cpp -lz -o ${FUZZER}
        COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/make_crafted_payloads.py ${SEEDS}
        DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/payload_fuzzer.cpp ${CMAKE_SOURCE_DIR}/payload/payload_format.cpp
                ${CMAKE_SOURCE_DIR}/payload/payload_format.h ${CMAKE_CURRENT_SOURCE_DIR}/make_crafted_payloads.py
        VERBATIM)
    add_custom_target(payload_fuzzer ALL DEPENDS ${FUZZER})
    add_test(NAME payload_fuzz_short
             COMMAND ${FUZZER} -runs=200000 -seed=1 -max_len=65536 -rss_limit_mb=1024 ${SEEDS})
else()
    message(WARNING "clang++ not found: the payload fuzzer is not built")
endif()
