# Win32 tests run through Wine in a prefix of this build tree, made afresh by the first test
# of each run (fixture "wine") and shut down by the last.
set(QEL_WINE_DIR ${CMAKE_BINARY_DIR}/wine)
set(QEL_WINE_PREFIX ${QEL_WINE_DIR}/prefix)
# The native tree's tools (qelpack) make the packages the scenarios install.
set(QEL_NATIVE_BUILD_DIR ${CMAKE_SOURCE_DIR}/build/native CACHE PATH "native build tree with the tools")
set(QEL_WINE_ENV
  "WINEPREFIX=${QEL_WINE_PREFIX}"
  "WINEARCH=${QEL_WINE_ARCH}"
  "QEL_WINE=${QEL_WINE_LOADER}"
  "WINEDEBUG=-all"
  "TZ=UTC"
  "WINEDLLOVERRIDES=mscoree,mshtml="
  "QEL_WINE_DIR=${QEL_WINE_DIR}"
  "QEL_BUILD_DIR=${CMAKE_BINARY_DIR}"
  "QEL_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
  "QEL_NATIVE_DIR=${QEL_NATIVE_BUILD_DIR}")

add_test(NAME wine_prefix
  COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh create ${QEL_WINE_DIR} ${CMAKE_BINARY_DIR})
add_test(NAME wine_shutdown
  COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh stop ${QEL_WINE_DIR})
# The test run's prefix also gets drive F:, a small tmpfs for the disk-full tests.
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${QEL_WINE_ENV};QEL_SMALL_DRIVE=1" TIMEOUT 600)
set_tests_properties(wine_shutdown PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT "${QEL_WINE_ENV}")

# A test under Wine. Target executables given as COMMAND get the tree's Wine loader in front
# (the emulator); scenario scripts are run by bash and call it as $QEL_WINE (scripts/wine-env.sh).
function(add_wine_test name)
  add_test(NAME ${name} COMMAND ${ARGN})
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED wine
    RESOURCE_LOCK wine_desktop
    ENVIRONMENT "${QEL_WINE_ENV}"
    TIMEOUT 300)
endfunction()
