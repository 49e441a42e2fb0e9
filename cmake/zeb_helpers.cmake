# Helpers shared by every subsystem folder.

# Warnings on for every target of ours; errors only with ZEB_WERROR, which is
# on by default for our own top-level builds and off inside an embedding
# project, whose compiler may warn where ours does not.
function(zeb_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(ZEB_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# zeb_library(<name> SOURCES ... [HEADERS ...] [DEPS ...] [PRIVATE_DEPS ...])
# Builds the static library zeb_<name> for one subsystem folder and adds it
# to the umbrella target zeb. In a static build (BUILD_SHARED_LIBS off) it is
# exported and aliased as zeb::<name>; in a shared build its objects make up
# the shared libzeb, and zeb::<name> stands for that library (see the
# top-level CMakeLists.txt). Either way the library's own programs and tests
# link the static library, internal procedures included. HEADERS are the
# folder's public headers, the only ones installed; a header left out of the
# list stays internal to the build.
#
# Symbols are hidden unless a public header marks them ZEB_EXPORT
# (<zeb/platform/export.h>), so that the shared library exports the public
# procedures and nothing else.
function(zeb_library name)
  cmake_parse_arguments(L "" "" "SOURCES;HEADERS;DEPS;PRIVATE_DEPS" ${ARGN})
  set(target zeb_${name})
  add_library(${target} STATIC ${L_SOURCES})
  if(NOT BUILD_SHARED_LIBS)
    add_library(zeb::${name} ALIAS ${target})
  endif()
  # Users include the public headers as <zeb/FOLDER/NAME.h>, from the build
  # tree's include folder as from an installed copy; the source tree, where
  # the internal headers live, is on the library's own include path only.
  target_include_directories(${target}
    PUBLIC $<BUILD_INTERFACE:${ZEB_INCLUDE_DIR}> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>
    PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_features(${target} PUBLIC cxx_std_20)
  target_link_libraries(${target} PUBLIC ${L_DEPS} PRIVATE ${L_PRIVATE_DEPS})
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON EXPORT_NAME ${name}
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  zeb_warnings(${target})
  set_property(GLOBAL APPEND PROPERTY ZEB_COMPONENTS ${target})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  foreach(header ${L_HEADERS})
    set_property(GLOBAL APPEND PROPERTY ZEB_PUBLIC_HEADERS ${folder}/${header})
    zeb_public_header(${CMAKE_CURRENT_SOURCE_DIR}/${header} ${folder}/${header})
  endforeach()
endfunction()

# zeb_public_header(<source> <name>): makes the header at source reachable as
# <zeb/name> through the build tree's include folder, by a symbolic link, so
# that an edit of the source is seen at once.
function(zeb_public_header source name)
  get_filename_component(dir ${ZEB_INCLUDE_DIR}/zeb/${name} DIRECTORY)
  file(MAKE_DIRECTORY ${dir})
  file(CREATE_LINK ${source} ${ZEB_INCLUDE_DIR}/zeb/${name} SYMBOLIC)
endfunction()

# zeb_man_page(<page> [COMPONENT <part>] [NO_INSTALL]): the manual page
# <page> (say vorn.1) made from <page>.in in the current folder, with
# @PROJECT_VERSION@ and @ZEB_RELEASE_DATE@ filled in from the build, and
# installed in its section, in the install component <part> (the Debian
# package that carries it, see cmake/zeb_packaging.cmake). With
# ZEB_INSTALL_MAN_GZIP the page is installed compressed (gzip -9n, as
# Debian installs manual pages). The made page's path is left in
# ZEB_MAN_PAGE_<page> for tests to read.
function(zeb_man_page page)
  cmake_parse_arguments(M "NO_INSTALL" "COMPONENT" "" ${ARGN})
  set(made ${CMAKE_CURRENT_BINARY_DIR}/${page})
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/${page}.in ${made} @ONLY)
  set(ZEB_MAN_PAGE_${page} ${made} PARENT_SCOPE)
  if(NOT ZEB_INSTALL OR M_NO_INSTALL)
    return()
  endif()
  if(NOT M_COMPONENT)
    set(M_COMPONENT Unspecified)
  endif()
  if(ZEB_INSTALL_MAN_GZIP)
    # Made again at every configure, as the page itself is.
    execute_process(COMMAND gzip -9 -n -c ${made} OUTPUT_FILE ${made}.gz RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "gzip could not compress ${made}")
    endif()
    set(made ${made}.gz)
  endif()
  string(REGEX REPLACE "^.*\\.([0-9])$" "\\1" section ${page})
  install(FILES ${made} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${M_COMPONENT})
endfunction()

# zeb_program(<name> SOURCES ... [DEPS ...] COMPONENT <part>): one of the
# library's programs (vorn, lconf, sim6530). It is built when the programs,
# the tests or the benchmarks are (tests and benchmarks run it), as
# BUILD/<name>, compiled with <NAME>_VERSION (upper case) set to the
# project's version and with the source tree on its include path; its manual
# page <name>.1 is made from <name>.1.in beside the sources. Program and page
# are installed only with ZEB_BUILD_PROGRAMS (a build for the tests alone
# installs no programs), in the install component <part>. Tests and
# benchmarks that run the program say so with PROGRAMS (see zeb_test).
function(zeb_program name)
  if(NOT (ZEB_BUILD_PROGRAMS OR ZEB_BUILD_TESTS OR ZEB_BUILD_BENCH))
    return()
  endif()
  cmake_parse_arguments(P "" "COMPONENT" "SOURCES;DEPS" ${ARGN})
  if(NOT P_COMPONENT)
    message(FATAL_ERROR "zeb_program(${name}): say which COMPONENT installs it")
  endif()
  add_executable(${name} ${P_SOURCES})
  target_link_libraries(${name} PRIVATE ${P_DEPS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  string(TOUPPER ${name} upper)
  target_compile_definitions(${name} PRIVATE ${upper}_VERSION="${PROJECT_VERSION}")
  zeb_warnings(${name})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
  if(ZEB_BUILD_PROGRAMS)
    zeb_man_page(${name}.1 COMPONENT ${P_COMPONENT})
    if(ZEB_INSTALL)
      install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${P_COMPONENT})
    endif()
  else()
    zeb_man_page(${name}.1 NO_INSTALL)
  endif()
  set_target_properties(${name} PROPERTIES ZEB_MAN_PAGE ${ZEB_MAN_PAGE_${name}.1})
endfunction()

# zeb_uses_programs(<target> <program>...): the target (a test or a
# benchmark) runs these programs of zeb_program: they are built first, and
# for each the target is compiled with <NAME>_PATH (the built program),
# <NAME>_MAN_PAGE (its made manual page) and <NAME>_VERSION (the version it
# prints), NAME in upper case.
function(zeb_uses_programs target)
  foreach(program ${ARGN})
    string(TOUPPER ${program} upper)
    add_dependencies(${target} ${program})
    target_compile_definitions(${target} PRIVATE
      ${upper}_PATH="$<TARGET_FILE:${program}>"
      ${upper}_MAN_PAGE="$<TARGET_PROPERTY:${program},ZEB_MAN_PAGE>"
      ${upper}_VERSION="${PROJECT_VERSION}")
  endforeach()
endfunction()

# zeb_tool(<name> <source>... DEPS ...): an executable of our own tree that is
# not part of the library (a test, a benchmark, a fuzz target): it reaches
# the internal headers of the code it exercises.
function(zeb_tool name)
  cmake_parse_arguments(X "" "" "DEPS" ${ARGN})
  add_executable(${name} ${X_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${X_DEPS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  zeb_warnings(${name})
endfunction()

# zeb_harness(<name> <framework libraries> SOURCES ... [DEPS ...]
# [PROGRAMS ...]): what zeb_test and zeb_bench share, a tool linked with its
# framework that runs PROGRAMS as child processes (see zeb_uses_programs).
function(zeb_harness name framework)
  cmake_parse_arguments(H "" "" "SOURCES;DEPS;PROGRAMS" ${ARGN})
  zeb_tool(${name} ${H_SOURCES} DEPS ${H_DEPS} ${framework})
  zeb_uses_programs(${name} ${H_PROGRAMS})
endfunction()

# zeb_test(<name> SOURCES ... [DEPS ...] [PROGRAMS ...]): one GoogleTest
# binary, one CTest test. Every test is named in its folder's CMakeLists.txt;
# a listed source that is missing fails the configure step. PROGRAMS are the
# programs the test runs as child processes.
function(zeb_test name)
  if(ZEB_BUILD_TESTS)
    zeb_harness(${name} "GTest::gmock;GTest::gtest;GTest::gtest_main" ${ARGN})
    add_test(NAME ${name} COMMAND ${name})
  endif()
endfunction()

# zeb_bench(<name> SOURCES ... [DEPS ...] [PROGRAMS ...] [CUSTOM_MAIN]): one
# Google Benchmark binary; CUSTOM_MAIN when the sources bring their own
# main(), PROGRAMS as for zeb_test.
function(zeb_bench name)
  cmake_parse_arguments(B "CUSTOM_MAIN" "" "" ${ARGN})
  if(ZEB_BUILD_BENCH)
    set(framework benchmark::benchmark)
    if(NOT B_CUSTOM_MAIN)
      list(APPEND framework benchmark::benchmark_main)
    endif()
    zeb_harness(${name} "${framework}" ${B_UNPARSED_ARGUMENTS})
  endif()
endfunction()

# zeb_fuzz(<name> SOURCES ... [DEPS ...] CORPUS <dir>)
# With tests on, builds <name>_replay, which runs the target over each saved
# input of CORPUS, as a CTest test. With ZEB_FUZZ and clang, <name>_fuzzer is
# the libFuzzer binary.
function(zeb_fuzz name)
  cmake_parse_arguments(F "" "CORPUS" "SOURCES;DEPS" ${ARGN})
  if(ZEB_BUILD_TESTS)
    zeb_tool(${name}_replay ${F_SOURCES} ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp DEPS ${F_DEPS})
    add_test(NAME ${name}_replay COMMAND ${name}_replay ${F_CORPUS})
  endif()
  if(ZEB_FUZZ)
    zeb_tool(${name}_fuzzer ${F_SOURCES} DEPS ${F_DEPS})
    target_compile_options(${name}_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(${name}_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
  endif()
endfunction()
