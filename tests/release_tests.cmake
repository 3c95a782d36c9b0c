# release_tests.cmake -- scripts/release.sh on the demo files, with a code-signing certificate made at test time
set(RELEASE_TEST ${CMAKE_CURRENT_SOURCE_DIR}/release_test.sh)
set(RELEASE_WORK ${CMAKE_CURRENT_BINARY_DIR}/release)

# The shipped 32-bit updater, packed, checked and signed as a release engineer does it.
foreach(case signed tampered)
    add_test(NAME release_${case} COMMAND bash ${RELEASE_TEST} ${case} ${PACKAGE_DIR} ${RELEASE_WORK}/${case})
    set_tests_properties(release_${case} PROPERTIES TIMEOUT 300)
endforeach()

# A signed release, run as a player runs it.
add_test(NAME release_signed_for_update_run
         COMMAND bash ${RELEASE_TEST} for-update-run ${PACKAGE_DIR} ${RELEASE_WORK} $<TARGET_FILE:updater>)
set_tests_properties(release_signed_for_update_run PROPERTIES
    FIXTURES_REQUIRED wine FIXTURES_SETUP signed_release TIMEOUT 300)
wine_test(update_run_signed_release update_run_tests en_US.UTF-8
          ENV "OSTREVAN_PACKAGE_DIR=Z:${RELEASE_WORK}/package" "OSTREVAN_INSTALL_101=Z:${INSTALL_101}" OSTREVAN_LANGUAGE=1
          ARGS --gtest_filter=UpdateRun.Ready*)
set_tests_properties(update_run_signed_release PROPERTIES FIXTURES_REQUIRED "wine;signed_release")
