# host_tests.cmake -- the portable code natively, under AddressSanitizer and UndefinedBehaviorSanitizer
add_executable(portable_tests
    catalogue_test.cpp
    text_buffer_test.cpp
    payload_format_test.cpp
    dialog_geometry_test.cpp)
target_link_libraries(portable_tests PRIVATE portable GTest::gtest_main)
add_test(NAME portable COMMAND portable_tests)
