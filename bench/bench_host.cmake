# bench_host.cmake -- the native benchmarks: the package builder's encoder, the reference tools, the heap peak
# They compile their own copy of the payload code, optimized and without the sanitizers that portable carries.
find_package(ZLIB REQUIRED)
set(BENCH_PAYLOAD_SOURCES payload/manifest.cpp payload/payload_format.cpp)
add_executable(bench_host bench/bench_host.cpp bench/bench_stats.cpp ${BENCH_PAYLOAD_SOURCES})
# bench_heap replaces malloc and free for its whole process, so it is a program of its own.
add_executable(bench_heap bench/bench_heap.cpp ${BENCH_PAYLOAD_SOURCES})
foreach(target bench_host bench_heap)
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_options(${target} PRIVATE -O2)
    target_link_libraries(${target} PRIVATE ZLIB::ZLIB)
endforeach()
