# screenshots.cmake -- the driver that holds the packed updater's windows still for scripts/demo.sh's screenshots
add_executable(demo_driver tools/demo_driver.cpp)
target_include_directories(demo_driver PRIVATE ${CMAKE_SOURCE_DIR})
