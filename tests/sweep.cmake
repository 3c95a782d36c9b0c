# sweep.cmake -- the updater built with the counting shim (tests only), and the sweep that fails or ends
# it at every file operation of a run: a sample in the 32-bit tests, all of it with `make sweep` (wine64)
add_library(fault_shim STATIC fault_shim.cpp)
target_include_directories(fault_shim PRIVATE ${CMAKE_SOURCE_DIR})
add_executable(updater_sweep WIN32 ${UPDATER_CORE_SOURCES} ${CMAKE_SOURCE_DIR}/app/main.cpp
                                   ${CMAKE_SOURCE_DIR}/app/system_dlls.cpp
                                   ${CMAKE_SOURCE_DIR}/res/updater.rc)
target_compile_options(updater_sweep PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-include ${CMAKE_CURRENT_SOURCE_DIR}/fault_shim.h>)
target_link_libraries(updater_sweep PRIVATE portable fault_shim comctl32 shell32 advapi32 ole32 oleaut32 uuid)
add_dependencies(updater_sweep updater_icon)

wine_test_program(sweep_tests sweep_test.cpp)
add_dependencies(sweep_tests updater_sweep)
