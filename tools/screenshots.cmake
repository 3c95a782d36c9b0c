# screenshots.cmake -- ui_preview (one window of the updater in a given state, for scripts/screenshots.sh) and demo_driver (for scripts/demo.sh)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    # The success view shows the release notes of resource 1101: the demo notes in the payload format.
    set(PREVIEW_NOTES ${CMAKE_BINARY_DIR}/tools/preview_notes.bin)
    add_custom_command(
        OUTPUT ${PREVIEW_NOTES}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/tools
        COMMAND python3 -B -c "import struct, sys, zlib; sys.path.insert(0, sys.argv[1]); import make_sample; data = make_sample.notes(); open(sys.argv[2], 'wb').write(struct.pack('<I', len(data)) + zlib.compress(data, 6))" ${CMAKE_SOURCE_DIR}/sample ${PREVIEW_NOTES}
        DEPENDS ${CMAKE_SOURCE_DIR}/sample/make_sample.py
        VERBATIM)
    add_custom_target(ui_preview_notes DEPENDS ${PREVIEW_NOTES})

    add_executable(ui_preview tools/ui_preview.cpp tools/ui_preview.rc)
    target_link_libraries(ui_preview PRIVATE updater_core)
    target_include_directories(ui_preview PRIVATE ${CMAKE_BINARY_DIR}/tools)
    add_dependencies(ui_preview updater_icon ui_preview_notes)
    set_source_files_properties(tools/ui_preview.rc PROPERTIES
        OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/res/dialogs.rc;${CMAKE_SOURCE_DIR}/res/resource.h;${CMAKE_SOURCE_DIR}/res/updater.manifest;${CMAKE_BINARY_DIR}/res/updater.ico;${PREVIEW_NOTES}")
endif()

# The driver of scripts/demo.sh, run under the Wine of the package it shows: it holds the packed updater's
# windows still for their pictures.
add_executable(demo_driver tools/demo_driver.cpp)
target_include_directories(demo_driver PRIVATE ${CMAKE_SOURCE_DIR})
