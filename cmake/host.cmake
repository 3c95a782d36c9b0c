# host.cmake -- the portable code, natively, under AddressSanitizer and UndefinedBehaviorSanitizer
find_package(ZLIB REQUIRED)
set(SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
target_compile_options(portable PUBLIC ${SANITIZERS})
target_link_options(portable PUBLIC ${SANITIZERS})
target_link_libraries(portable PUBLIC ZLIB::ZLIB)
