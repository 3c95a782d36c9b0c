# windows.cmake -- the updater, the packer and the demo game's stubs for 32- or 64-bit Windows
enable_language(RC)

# Static runtime and zlib: the programs need nothing but system DLLs.
find_library(ZLIB_STATIC NAMES libz.a REQUIRED)
target_link_libraries(portable PUBLIC ${ZLIB_STATIC})
add_link_options(-static -static-libgcc -static-libstdc++ -s -Wl,--no-insert-timestamp)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    # The dialog geometry uses single-precision arithmetic: compute it in SSE as the tests do.
    add_compile_options(-msse2 -mfpmath=sse)
endif()
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_SOURCE_DIR}/res -I${CMAKE_BINARY_DIR}/res")

# The application icon is drawn by a script at build time.
add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/res/updater.ico
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/res
    COMMAND python3 ${CMAKE_SOURCE_DIR}/res/make_icon.py ${CMAKE_BINARY_DIR}/res/updater.ico
    DEPENDS ${CMAKE_SOURCE_DIR}/res/make_icon.py
    VERBATIM)
add_custom_target(updater_icon DEPENDS ${CMAKE_BINARY_DIR}/res/updater.ico)

# Everything of the updater but its entry point, so that tests link the same code.
set(UPDATER_CORE_SOURCES
    ${CMAKE_SOURCE_DIR}/app/discovery.cpp
    ${CMAKE_SOURCE_DIR}/app/update_run.cpp
    ${CMAKE_SOURCE_DIR}/app/commit.cpp
    ${CMAKE_SOURCE_DIR}/app/busy_wait.cpp
    ${CMAKE_SOURCE_DIR}/app/file_holders.cpp
    ${CMAKE_SOURCE_DIR}/app/file_io.cpp
    ${CMAKE_SOURCE_DIR}/app/launch_game.cpp
    ${CMAKE_SOURCE_DIR}/app/single_instance.cpp
    ${CMAKE_SOURCE_DIR}/payload/extract.cpp
    ${CMAKE_SOURCE_DIR}/ui/progress_window.cpp
    ${CMAKE_SOURCE_DIR}/ui/result_dialog.cpp
    ${CMAKE_SOURCE_DIR}/ui/window_text.cpp)
add_library(updater_core STATIC ${UPDATER_CORE_SOURCES})
target_link_libraries(updater_core PUBLIC portable comctl32 shell32 advapi32 ole32 oleaut32 uuid)

# The updater without payloads; the package step writes them into a copy.
# It imports kernel32 and msvcrt alone: app/system_dlls.cpp stands in for the other import libraries.
add_executable(updater WIN32 app/main.cpp app/system_dlls.cpp res/updater.rc)
target_link_libraries(updater PRIVATE updater_core)
add_dependencies(updater updater_icon)
set_source_files_properties(res/updater.rc PROPERTIES
    OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/res/dialogs.rc;${CMAKE_SOURCE_DIR}/res/resource.h;${CMAKE_SOURCE_DIR}/res/updater.manifest;${CMAKE_BINARY_DIR}/res/updater.ico")

# The package builder, a program of its own: the updater never reaches it.
add_library(package_builder STATIC payload/pack.cpp)
target_link_libraries(package_builder PUBLIC portable)
add_executable(packer payload/packer_main.cpp)
target_link_libraries(packer PRIVATE package_builder)

# The demo game's programs, each in the installed version 1.01 and the update's 1.02.
foreach(version 1.01 1.02)
    string(REPLACE "." "" tag ${version})
    add_executable(game_stub_${tag} WIN32 sample/game_stub.cpp)
    target_compile_definitions(game_stub_${tag} PRIVATE GAME_VERSION="${version}")
    add_executable(config_stub_${tag} WIN32 sample/config_stub.cpp)
    target_compile_definitions(config_stub_${tag} PRIVATE GAME_VERSION="${version}")
endforeach()

# The driver of the demo and the screenshots, and the benchmarks, each in a file of its own.
include(${CMAKE_SOURCE_DIR}/tools/screenshots.cmake OPTIONAL)
include(${CMAKE_SOURCE_DIR}/bench/bench.cmake OPTIONAL)
