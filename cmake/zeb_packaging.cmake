# What the vorn program brings besides itself, and the Debian packages.
# Included by the top-level CMakeLists.txt when install rules are made.
#
# `cpack -G DEB` in a build tree configured for packages (.ci/packages.sh
# shows the configuration: prefix /usr, BUILD_SHARED_LIBS, ZEB_STATIC_ARCHIVE,
# ZEB_INSTALL_MAN_GZIP) makes one package of each install component:
#
#   vorn        component vorn: the program, vorn(1), the systemd units and
#               the Prometheus rules
#   libzeb0     component runtime: the shared library libzeb.so.0
#   libzeb-dev  component dev: the public headers, libzeb.so, libzeb.a, the
#               CMake package, zeb.pc, and lconf and sim6530 with their
#               manual pages
#
# lconf and sim6530 go with libzeb-dev: they serve those who build programs
# on the library (sim6530 runs a terminal program on a simulated 6530, lconf
# builds the configuration files such programs read). libzeb0 holds the
# shared library alone, so that a later libzeb1 can be installed beside it,
# and the vorn package is the survey a fleet installs without the library's
# development files. Both programs link the library's static parts, as vorn
# does, so they need no libzeb0.

# vorn's units, as contrib/systemd has them but with ExecStart naming the
# program where this build installs it (the file in contrib/ names
# /usr/local/bin/vorn, where the README's manual steps put it). The path is
# the configured prefix's: `cmake --install --prefix` elsewhere keeps it.
if(ZEB_BUILD_PROGRAMS AND TARGET vorn)
  # Relative to the prefix by default: /usr/lib/systemd/system for the
  # packages, /usr/local/lib/systemd/system for a local install; systemd
  # reads both.
  set(ZEB_SYSTEMD_UNIT_DIR lib/systemd/system CACHE STRING
    "Where vorn's systemd units are installed (relative: under the prefix)")
  set(source ${PROJECT_SOURCE_DIR}/contrib/systemd/vorn.service)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(READ ${source} unit)
  string(FIND "${unit}" "/usr/local/bin/vorn " at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${source} no longer runs /usr/local/bin/vorn: "
      "change cmake/zeb_packaging.cmake to match")
  endif()
  string(REPLACE "/usr/local/bin/vorn " "${CMAKE_INSTALL_FULL_BINDIR}/vorn " unit "${unit}")
  file(WRITE ${PROJECT_BINARY_DIR}/contrib/vorn.service "${unit}")
  install(FILES ${PROJECT_BINARY_DIR}/contrib/vorn.service ${PROJECT_SOURCE_DIR}/contrib/systemd/vorn.timer
    DESTINATION ${ZEB_SYSTEMD_UNIT_DIR} COMPONENT vorn)

  # Every file under contrib/prometheus (alerting rules and whatever goes
  # with them), in share/vorn/prometheus: the operator names it in the
  # server's rule_files, and a package upgrade updates it in place.
  file(GLOB_RECURSE rules CONFIGURE_DEPENDS LIST_DIRECTORIES false
    ${PROJECT_SOURCE_DIR}/contrib/prometheus/*)
  foreach(file ${rules})
    file(RELATIVE_PATH name ${PROJECT_SOURCE_DIR}/contrib/prometheus ${file})
    get_filename_component(folder ${name} DIRECTORY)
    # The rules' test is a script an operator runs: it stays executable.
    set(kind FILES)
    if(name MATCHES "-test$")
      set(kind PROGRAMS)
    endif()
    install(${kind} ${file} DESTINATION ${CMAKE_INSTALL_DATADIR}/vorn/prometheus/${folder}
      COMPONENT vorn)
  endforeach()
endif()

# Which files each component, and so each package, holds.
if(ZEB_BUILD_TESTS AND ZEB_BUILD_PROGRAMS AND PROJECT_IS_TOP_LEVEL
    AND NOT IS_ABSOLUTE "${ZEB_SYSTEMD_UNIT_DIR}")
  add_test(NAME install_components_test
    COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/install_components_test.sh
      ${PROJECT_BINARY_DIR} ${CMAKE_INSTALL_FULL_BINDIR}/vorn)
endif()

# The packages are made from our own builds only: an embedding project keeps
# CPack's settings for itself.
if(NOT PROJECT_IS_TOP_LEVEL)
  return()
endif()

# Left open by the project until it is published from somewhere: a
# publisher sets its own address.
set(ZEB_DEB_MAINTAINER "zeb project developers <zeb@example.org>" CACHE STRING
  "Maintainer field of the Debian packages")

# What every Debian package carries in /usr/share/doc/<package>: the
# copyright file and, for a package whose version has no Debian revision,
# changelog.gz. Installed only into the packages (EXCLUDE_FROM_ALL: a
# component's own installation, as CPack makes it, includes them; a plain
# `cmake --install` does not).
set(deb_dir ${PROJECT_BINARY_DIR}/debian)
execute_process(COMMAND date -u -R -d "${ZEB_RELEASE_DATE} 00:00:00"
  OUTPUT_VARIABLE deb_date OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
file(WRITE ${deb_dir}/changelog
  "zeb (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
  "  * Version ${PROJECT_VERSION}.\n\n"
  " -- ${ZEB_DEB_MAINTAINER}  ${deb_date}\n")
execute_process(COMMAND gzip -9 -n -c ${deb_dir}/changelog OUTPUT_FILE ${deb_dir}/changelog.gz
  COMMAND_ERROR_IS_FATAL ANY)
# No licence is stated in the tree; the file says who holds the copyright
# and that, until a licence is chosen, no rights are granted.
file(WRITE ${deb_dir}/copyright
  "zeb and vorn\n\n"
  "Copyright (c) 2026 the zeb project developers.\n\n"
  "No licence has been stated for this software yet; until one is, all\n"
  "rights are reserved by the copyright holders.\n")
set(deb_packages vorn vorn runtime libzeb${PROJECT_VERSION_MAJOR} dev libzeb-dev)
while(deb_packages)
  list(POP_FRONT deb_packages component package)
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
  install(FILES ${deb_dir}/copyright ${deb_dir}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
endwhile()

set(CPACK_PACKAGE_NAME zeb)
set(CPACK_PACKAGE_VENDOR "the zeb project developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL vorn runtime dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${ZEB_DEB_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_VORN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_VORN_PACKAGE_RECOMMENDS prometheus-node-exporter)
set(CPACK_COMPONENT_VORN_DESCRIPTION "disk rotation survey
vorn rewrites one block of a scratch file on every disk volume sixty
times, each write durable, and reports the effective rotational speed
of each disk, with the spread of the pass times, as text, JSON or
metrics for the Prometheus node exporter's textfile collector.
The package carries the systemd units (a service and an hourly timer,
not enabled on installation) and Prometheus alerting rules in
/usr/share/vorn/prometheus.")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The loader's cache is rebuilt by dpkg's trigger, as Debian asks of a
# shared library package. CPack's maintainer scripts call ldconfig as well
# (lintian warns of it); scripts of our own that did nothing instead would
# draw a warning of their own.
file(WRITE ${deb_dir}/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${deb_dir}/triggers)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "runtime library for command-line programs (shared library)
zeb is a runtime library for command-line programs: start-up, a log
path driven by a small format language, a memory pool with queues and
timers, processor load figures, checksums, segmented messages and more,
over a small platform layer for Linux.
This package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# zeb.pc requires sqlite3 for static links, which pkg-config resolves
# whenever zeb is asked for.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
  "libzeb${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION}), libsqlite3-dev")
set(CPACK_COMPONENT_DEV_DESCRIPTION "runtime library for command-line programs (development files)
zeb is a runtime library for command-line programs: start-up, a log
path driven by a small format language, a memory pool with queues and
timers, processor load figures, checksums, segmented messages and more,
over a small platform layer for Linux.
This package holds the headers, the static library, the CMake package
(find_package(zeb)) and zeb.pc for pkg-config, and the programs lconf
(builds configuration files) and sim6530 (runs a program on a simulated
6530 terminal).")

include(CPack)
