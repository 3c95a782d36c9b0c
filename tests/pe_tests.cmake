# pe_tests.cmake -- the shipped 32-bit program by inspection: its headers, imports and resources, and the package rebuilt
set(PACKAGE_DIR ${CMAKE_SOURCE_DIR}/build/package/win32 CACHE PATH "The packed 32-bit updater and its sources")
add_test(NAME win32_program COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/check_win32_program.sh ${CMAKE_BINARY_DIR}
                                    ${PACKAGE_DIR})
# Packing the same sources again gives the same bytes.
add_test(NAME win32_package_reproducible
         COMMAND bash -c "out=$(mktemp -d) && trap 'rm -rf $out' EXIT && bash scripts/make-package.sh $out >/dev/null && cmp $out/win32/Ostrevan_Patch102.exe ${PACKAGE_DIR}/Ostrevan_Patch102.exe"
         WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
set_tests_properties(win32_package_reproducible PROPERTIES TIMEOUT 300)
