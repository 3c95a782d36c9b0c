# bench.cmake -- the benchmark program, run under wine64 by scripts/bench.sh once the packer has filled it with payloads
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    add_executable(bench bench/bench.cpp)
    # Its own definitions of the windows' functions come before updater_core, so their objects stay out.
    target_link_libraries(bench PRIVATE updater_core psapi)
endif()
