# Win32 tests run through Wine in worlds of this build tree (wine/tests/NAME), each copied
# from a template prefix that the first test of each run (fixture "wine") makes afresh.
set(QEL_WINE_DIR ${CMAKE_BINARY_DIR}/wine)
# The native tree's tools (qelpack) make the packages the scenarios install.
set(QEL_NATIVE_BUILD_DIR ${CMAKE_SOURCE_DIR}/build/native CACHE PATH "native build tree with the tools")
set(QEL_WINE_ENV
  "WINEARCH=${QEL_WINE_ARCH}"
  "QEL_WINE=${QEL_WINE_LOADER}"
  "WINEDEBUG=-all"
  "TZ=UTC"
  "WINEDLLOVERRIDES=mscoree,mshtml="
  "QEL_WINE_DIR=${QEL_WINE_DIR}"
  "QEL_BUILD_DIR=${CMAKE_BINARY_DIR}"
  "QEL_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
  "QEL_NATIVE_DIR=${QEL_NATIVE_BUILD_DIR}")

# The template every test's world is copied from: booted once per run, by the first test.
add_test(NAME wine_template
  COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/with-display.sh
    bash ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh template ${QEL_WINE_DIR}/template ${CMAKE_BINARY_DIR})
set_tests_properties(wine_template PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${QEL_WINE_ENV}" TIMEOUT 600)

# A test under Wine, in a world of its own (scripts/wine-test.sh): a copy of the template with
# its own drives, wineserver and display, so that tests run side by side (ctest -j). Target
# executables are given with the tree's Wine loader in front; scenario scripts are run by bash
# and call it as $QEL_WINE (scripts/wine-env.sh).
#   add_wine_test(NAME [BEFORE SCRIPT] COMMAND...)
function(add_wine_test name)
  set(before)
  if(ARGV1 STREQUAL "BEFORE")
    set(before --before ${ARGV2})
    list(REMOVE_AT ARGN 0 1)
  endif()
  add_test(NAME ${name} COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/wine-test.sh ${name} ${before} -- ${ARGN})
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED wine
    ENVIRONMENT "${QEL_WINE_ENV}"
    TIMEOUT 300)
endfunction()

# wine_test_costs(NAME SECONDS ...): the tests' rough seconds. ctest -j starts the longest first
# (until a run has recorded times of its own), so that a run ends soon after its longest test.
# Called in the folder that adds the tests.
function(wine_test_costs)
  set(pairs ${ARGN})
  while(pairs)
    list(POP_FRONT pairs test cost)
    set_tests_properties(${test} PROPERTIES COST ${cost})
  endwhile()
endfunction()
