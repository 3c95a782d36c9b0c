# screenshots.cmake -- demo_driver, for scripts/demo.sh and scripts/screenshots.sh: run under the Wine of the package
# it shows, it starts the packed updater and holds its windows still for their pictures.
add_executable(demo_driver tools/demo_driver.cpp)
target_include_directories(demo_driver PRIVATE ${CMAKE_SOURCE_DIR})
