# bench.cmake -- the benchmark of extraction, the update run and the commit: a 64-bit program run under wine64
# scripts/bench.sh packs the payloads into a copy of it with the packer, as the package step does for the updater.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    add_executable(bench_update bench/bench_update.cpp bench/bench_stats.cpp)
    # Its own definitions of the windows' functions come before updater_core, so their objects stay out.
    target_link_libraries(bench_update PRIVATE updater_core psapi)
endif()
