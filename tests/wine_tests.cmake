# wine_tests.cmake -- the Windows code on the real Win32 API under Wine, with an Xvfb display of its own
# The i686 build, what the player runs, under the 32-bit Wine; the x86_64 build tests the packer, which stays a
# 64-bit program, and runs its own package beside planted DLLs.
set(CMAKE_CROSSCOMPILING_EMULATOR bash;${CMAKE_SOURCE_DIR}/scripts/wine-run.sh;${CMAKE_BINARY_DIR})
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    set(ARCH win32)
else()
    set(ARCH win64)
endif()
set(PACKAGE_DIR ${CMAKE_SOURCE_DIR}/build/package/${ARCH} CACHE PATH "The packed updater and its sources")

# Payload resources made with zlib alone: the release notes of the dialog tests.
set(CRAFTED ${CMAKE_CURRENT_BINARY_DIR}/crafted)
add_custom_command(
    OUTPUT ${CRAFTED}/crafted_payloads.rc
    COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/make_crafted_payloads.py ${CRAFTED}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/make_crafted_payloads.py
    VERBATIM)
set_source_files_properties(${CRAFTED}/crafted_payloads.rc PROPERTIES GENERATED TRUE)

# The demo game as installed at version 1.01, without language marker.
set(INSTALL_101 ${CMAKE_CURRENT_BINARY_DIR}/install101)
add_custom_command(
    OUTPUT ${INSTALL_101}/Ostrevan.exe
    COMMAND python3 ${CMAKE_SOURCE_DIR}/sample/make_sample.py install ${INSTALL_101} none
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:config_stub_101> ${INSTALL_101}/Config.exe
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:game_stub_101> ${INSTALL_101}/Ostrevan.exe
    DEPENDS ${CMAKE_SOURCE_DIR}/sample/make_sample.py config_stub_101 game_stub_101
    VERBATIM)
add_custom_target(test_data ALL DEPENDS ${INSTALL_101}/Ostrevan.exe ${CRAFTED}/crafted_payloads.rc)

add_library(win_test_support STATIC win_test_support.cpp)
target_link_libraries(win_test_support PUBLIC portable gtest_main)
function(wine_test_program name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE updater_core win_test_support)
    add_dependencies(${name} test_data updater_icon)
endfunction()

# The packed updater run as a player runs it, beside a planted DLL (no runtime, kernel32 alone).
wine_test_program(update_run_tests update_run_test.cpp)
add_library(planted_dll SHARED planted_dll.cpp)
target_link_options(planted_dll PRIVATE -nostdlib)
target_link_libraries(planted_dll PRIVATE kernel32)
add_dependencies(update_run_tests planted_dll)
# A program that holds each fresh file of a folder for a while, as on-access virus scanners do.
add_executable(scanner scanner.cpp)
add_dependencies(update_run_tests scanner)
set(RUN_ENV "OSTREVAN_PACKAGE_DIR=Z:${PACKAGE_DIR};OSTREVAN_INSTALL_101=Z:${INSTALL_101}"
    OSTREVAN_SCANNER=Z:$<TARGET_FILE:scanner>)

# The updater's own sources built again with the shim of the fault sweep (tests only), for the sweep's scenarios.
add_executable(updater_sweep WIN32 ${UPDATER_CORE_SOURCES} ${CMAKE_SOURCE_DIR}/app/main.cpp
                                   ${CMAKE_SOURCE_DIR}/app/system_dlls.cpp ${CMAKE_SOURCE_DIR}/res/updater.rc
                                   win_test_support.cpp)
# Every call keeps its frame and its own place, so that the shim can tell where an operation is made.
target_compile_options(updater_sweep PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-include ${CMAKE_CURRENT_SOURCE_DIR}/fault_shim.h>
                       -O0 -fno-omit-frame-pointer)
target_link_libraries(updater_sweep PRIVATE portable comctl32 shell32 advapi32 ole32 oleaut32 uuid)
add_dependencies(updater_sweep updater_icon)
add_dependencies(update_run_tests updater_sweep)

# The session: prefix, Xvfb and a persistent wineserver, stopped whatever the tests did.
add_test(NAME wine_session_start COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/wine-session.sh start ${CMAKE_BINARY_DIR})
add_test(NAME wine_session_stop COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/wine-session.sh stop ${CMAKE_BINARY_DIR})
set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine)

# wine_test(NAME PROGRAM LOCALE [ENV...] [ARGS...]): one test process under a locale. A test program passes only
# with its closing line: one that Wine ends half way may exit with 0.
function(wine_test name program locale)
    cmake_parse_arguments(PARSE_ARGV 3 WT "" "" "ENV;ARGS")
    add_test(NAME ${name} COMMAND ${program} ${WT_ARGS})
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300 ENVIRONMENT "LC_ALL=${locale};${WT_ENV}")
    if(NOT program STREQUAL "bash")
        set_tests_properties(${name} PROPERTIES PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [0-9]+ tests?\\."
                                                FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")
    endif()
endfunction()

# A DLL under each of these names beside the updater, Wine told to prefer it: every DLL that a run loads but the
# known DLLs (kernel32, kernelbase, ntdll, msvcrt), and those that installers have been tricked with.
set(PLANTED actxprxy advapi32 combase comctl32 cryptbase dwmapi gdi32 ieframe imm32 mpr msimg32 ole32 oleaut32 propsys
    rpcrt4 rstrtmgr sechost shcore shell32 shlwapi textshaping ucrtbase urlmon user32 uxtheme version win32u wininet ws2_32 zlib1)
string(REPLACE ";" "," PLANTED "${PLANTED}")
list(APPEND RUN_ENV OSTREVAN_PLANTED_DLL=Z:$<TARGET_FILE:planted_dll> OSTREVAN_PLANTED_DLLS=${PLANTED}
     WINEDLLOVERRIDES=${PLANTED}=n,b)
# A system DLL that cannot be loaded (disabled) is a broken Windows: the updater ends at once, with the code of a
# failed run that changed nothing (app/exit_codes.h).
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/exit_codes.h)
file(STRINGS ${CMAKE_SOURCE_DIR}/app/exit_codes.h FAILED_LINE REGEX "EXIT_CODE_FAILED = [0-9]+")
string(REGEX MATCH "[0-9]+" EXIT_CODE_FAILED "${FAILED_LINE}")
wine_test(missing_system_dll_${ARCH} bash en_US.UTF-8 ENV WINEDLLOVERRIDES=oleaut32= WINE_TIMEOUT=60
          ARGS -c "bash \"$@\"; code=$?; echo \"exit code $code, expected ${EXIT_CODE_FAILED}\"; [ $code = ${EXIT_CODE_FAILED} ]"
               missing_system_dll ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh ${CMAKE_BINARY_DIR}
               ${PACKAGE_DIR}/Ostrevan_Patch102.exe)

# The sweep build's scenarios and a sample of the fault sweep by call (`make sweep` runs all of it); on the 64-bit
# twin (the other core's share), also the calls of a run after a crash that no first run makes.
list(APPEND RUN_ENV OSTREVAN_SWEEP_UPDATER=Z:$<TARGET_FILE:updater_sweep>)
set(NESTED $<$<STREQUAL:${ARCH},win64>:OSTREVAN_SWEEP_NESTED=call>)
wine_test(fault_sweep_sample_${ARCH} update_run_tests en_US.UTF-8 ENV ${RUN_ENV} OSTREVAN_SWEEP=call ${NESTED}
          WINE_TIMEOUT=1500 ARGS --gtest_filter=Sweep.*:-Sweep.PowerCut*)
set_tests_properties(fault_sweep_sample_${ARCH} PROPERTIES TIMEOUT 1600)

if(ARCH STREQUAL "win64")
    wine_test(update_run_win64 update_run_tests en_US.UTF-8 ENV ${RUN_ENV} ARGS --gtest_filter=UpdateRun.Ready*)
    wine_test(links_win64 update_run_tests en_US.UTF-8 ENV ${RUN_ENV} ARGS --gtest_filter=UpdateRun.Links*)
    wine_test_program(pack_tests pack_test.cpp)
    target_link_libraries(pack_tests PRIVATE package_builder)
    add_dependencies(pack_tests updater)
    wine_test(packing pack_tests en_US.UTF-8 ENV OSTREVAN_UPDATER=Z:$<TARGET_FILE:updater>)
    # Every state of a power cut after every third operation that changed the folder, in each configuration.
    wine_test(power_cut_sample update_run_tests en_US.UTF-8 ENV ${RUN_ENV} OSTREVAN_CUT_STEP=3 WINE_TIMEOUT=900
              ARGS --gtest_filter=Sweep.PowerCut*)
    set_tests_properties(power_cut_sample PROPERTIES TIMEOUT 1000)
    return()
endif()

wine_test_program(discovery_tests discovery_test.cpp)
wine_test_program(windows_tests windows_test.cpp windows_test.rc)
target_include_directories(windows_tests PRIVATE ${CRAFTED})
# windres does not report what an .rc includes: name it.
set_source_files_properties(windows_test.rc PROPERTIES OBJECT_DEPENDS
    "${CRAFTED}/crafted_payloads.rc;${CMAKE_SOURCE_DIR}/res/dialogs.rc;${CMAKE_SOURCE_DIR}/res/resource.h")

# The system language follows LC_ALL under Wine: one process per system language.
set(names english german russian french)
set(locales en_US.UTF-8 de_DE.UTF-8 ru_RU.UTF-8 fr_FR.UTF-8)
set(codes 1 2 3 1)
foreach(name locale code IN ZIP_LISTS names locales codes)
    wine_test(discovery_${name} discovery_tests ${locale} ENV EXPECTED_SYSTEM_LANGUAGE=${code})
    if(name STREQUAL "french")
        break()
    endif()
    wine_test(windows_${name} windows_tests ${locale} ENV OSTREVAN_LANGUAGE=${code})
    wine_test(update_run_${name} update_run_tests ${locale} ENV ${RUN_ENV} OSTREVAN_LANGUAGE=${code}
              ARGS --gtest_filter=UpdateRun.Ready*)
    # Every text's fit at 120, 144 and 192 DPI, which tests/run_at_dpi.sh gives the process.
    foreach(dpi 120 144 192)
        wine_test(windows_${name}_${dpi}dpi bash ${locale} ENV OSTREVAN_LANGUAGE=${code}
                  ARGS ${CMAKE_CURRENT_SOURCE_DIR}/run_at_dpi.sh ${CMAKE_BINARY_DIR} ${dpi} $<TARGET_FILE:windows_tests>)
    endforeach()
endforeach()
# Each edition on a system of another code page: Russian on a Western one, German on a Cyrillic one (1251).
wine_test(update_run_russian_on_western update_run_tests en_US.UTF-8 ENV ${RUN_ENV} OSTREVAN_LANGUAGE=3
          ARGS --gtest_filter=UpdateRun.Ready*)
wine_test(update_run_german_on_cyrillic update_run_tests ru_RU.CP1251 ENV ${RUN_ENV} OSTREVAN_LANGUAGE=2
          ARGS --gtest_filter=UpdateRun.Ready*)
wine_test(second_updater update_run_tests en_US.UTF-8 ENV ${RUN_ENV} ARGS --gtest_filter=UpdateRun.Second*)
wine_test(links update_run_tests en_US.UTF-8 ENV ${RUN_ENV} ARGS --gtest_filter=UpdateRun.Links*)

# The program by inspection: its headers, imports and resources; packing the same sources again gives the same bytes.
add_test(NAME win32_program COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/check_win32_program.sh ${CMAKE_BINARY_DIR}
                                    ${PACKAGE_DIR})
add_test(NAME win32_package_reproducible
         COMMAND bash -c "out=$(mktemp -d) && trap 'rm -rf $out' EXIT && bash scripts/make-package.sh $out >/dev/null && cmp $out/win32/Ostrevan_Patch102.exe ${PACKAGE_DIR}/Ostrevan_Patch102.exe"
         WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
set_tests_properties(win32_package_reproducible PROPERTIES TIMEOUT 300)

# The release pipeline (a code-signing certificate made at test time), and its signed package run by a player.
set(RELEASE_TEST ${CMAKE_CURRENT_SOURCE_DIR}/release_test.sh)
set(RELEASE_WORK ${CMAKE_CURRENT_BINARY_DIR}/release)
foreach(case signed tampered timestamped)
    add_test(NAME release_${case} COMMAND bash ${RELEASE_TEST} ${case} ${PACKAGE_DIR} ${RELEASE_WORK}/${case})
    set_tests_properties(release_${case} PROPERTIES TIMEOUT 300)
endforeach()
add_test(NAME release_signed_for_update_run
         COMMAND bash ${RELEASE_TEST} for-update-run ${PACKAGE_DIR} ${RELEASE_WORK} $<TARGET_FILE:updater>)
set_tests_properties(release_signed_for_update_run PROPERTIES
    FIXTURES_REQUIRED wine FIXTURES_SETUP signed_release TIMEOUT 300)
wine_test(update_run_signed_release update_run_tests en_US.UTF-8
          ENV "OSTREVAN_PACKAGE_DIR=Z:${RELEASE_WORK}/package" "OSTREVAN_INSTALL_101=Z:${INSTALL_101}" OSTREVAN_LANGUAGE=1
              OSTREVAN_SCANNER=Z:$<TARGET_FILE:scanner>
          ARGS --gtest_filter=UpdateRun.Ready*)
set_tests_properties(update_run_signed_release PROPERTIES FIXTURES_REQUIRED "wine;signed_release")

