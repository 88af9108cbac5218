# GoogleTest, built once per build tree from the system's sources, and the
# helper that every test folder uses to declare its test programs.
include(GoogleTest)

set(GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
if(EXISTS "${GTEST_SOURCE_DIR}/CMakeLists.txt")
  set(ZYP_BUILD_TESTS ON)
  enable_testing()
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory("${GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/_googletest" EXCLUDE_FROM_ALL SYSTEM)
else()
  set(ZYP_BUILD_TESTS OFF)
  message(STATUS "GoogleTest not found at ${GTEST_SOURCE_DIR}: tests are not built")
endif()

# Adds every folder below the current one that has a CMakeLists.txt: each
# holds the tests, benchmarks or fuzz targets of one area.
function(zyp_add_area_folders)
  file(GLOB areas LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT areas)
  foreach(area IN LISTS areas)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${area}/CMakeLists.txt)
      add_subdirectory(${area})
    endif()
  endforeach()
endfunction()

# zyp_add_test(<name> SOURCES <files...> [LIBRARIES <libs...>]
#              [LOCK <resource> | PREFIX <name>] [LABELS <labels...>]
#              [TIMEOUT <seconds>] [COST <seconds>])
# LOCK e2e serialises every test that reaches beyond its own process: the
# queue manager's window class and pipe, the cookie folder, the registry key,
# broadcasts, visible or activated windows on the shared desktop, the
# notification area and system settings. Tests under Wine share one prefix,
# except those given a PREFIX of their own: they run in
# <build>/prefixes/<name>/wineprefix (scripts/test starts it as a copy of the
# shared one), with everything above to themselves, beside the others, and
# one at a time among themselves (the lock prefix:<name>).
# COST, about how long the program's tests take, lets ctest start the long
# ones first. Tests that hold a lock come before those that hold none
# (ZYP_LOCKED_TEST_COST), so that the chain they form never waits for a free
# slot while the others run.
set(ZYP_LOCKED_TEST_COST 10)
function(zyp_add_test name)
  cmake_parse_arguments(T "" "LOCK;PREFIX;TIMEOUT;COST" "SOURCES;LIBRARIES;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  # A test program's files are compiled as one: each would otherwise
  # instantiate GoogleTest's and the JSON library's templates again, which
  # took more than a third of the test code's compile time. So names in a
  # test file's unnamed namespace must differ from those of the program's
  # other files.
  set_target_properties(${name} PROPERTIES UNITY_BUILD ON)
  target_link_libraries(${name} PRIVATE ${T_LIBRARIES} GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  zyp_use_test_headers(${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(props TIMEOUT ${T_TIMEOUT})
  if(T_PREFIX)
    set(folder ${CMAKE_BINARY_DIR}/prefixes/${T_PREFIX})
    file(MAKE_DIRECTORY ${folder})
    list(APPEND props ENVIRONMENT ZYP_BUILD_DIR=${folder})
    set(T_LOCK prefix:${T_PREFIX})
  endif()
  if(T_LOCK)
    list(APPEND props RESOURCE_LOCK ${T_LOCK})
  endif()
  if(T_LOCK AND NOT T_COST)
    set(T_COST ${ZYP_LOCKED_TEST_COST})
  endif()
  if(T_COST)
    list(APPEND props COST ${T_COST})
  endif()
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  if(CMAKE_CROSSCOMPILING AND NOT T_LOCK)
    # Under Wine each program start costs a good part of a second, more than
    # most of these tests take: a program whose tests stay inside their own
    # process runs them all in one go, as one ctest test named after it.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ${props})
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                         PROPERTIES ${props})
  endif()
endfunction()

# zyp_use_test_headers(<target>): test code that links GoogleTest compiles
# with the test code's precompiled header, where there is one (see
# tests/CMakeLists.txt).
function(zyp_use_test_headers target)
  if(TARGET zyp_test_headers)
    target_precompile_headers(${target} REUSE_FROM zyp_test_headers)
  endif()
endfunction()

# zyp_add_fuzzer(<name> SOURCES <files...> [LIBRARIES <libs...>]
#                [CORPUS <seed folder>] [SECONDS <n>])
# A libFuzzer target; ctest runs it for a short, bounded time from its seeds.
function(zyp_add_fuzzer name)
  cmake_parse_arguments(F "" "CORPUS;SECONDS" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${F_LIBRARIES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  if(NOT F_SECONDS)
    set(F_SECONDS 5)
  endif()
  # New inputs go to a scratch folder; the seeds in the source tree stay as they are.
  set(scratch ${CMAKE_CURRENT_BINARY_DIR}/${name}.corpus)
  file(MAKE_DIRECTORY ${scratch})
  set(corpora ${scratch})
  if(F_CORPUS)
    list(APPEND corpora ${F_CORPUS})
  endif()
  add_test(NAME fuzz.${name}
           COMMAND ${name} -max_total_time=${F_SECONDS} -rss_limit_mb=2048 -print_final_stats=1 ${corpora})
  set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 300 LABELS fuzz)
endfunction()
