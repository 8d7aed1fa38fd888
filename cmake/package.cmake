# The Debian package (scripts/package builds it): the five commands in
# /usr/bin, their manual pages, the READMEs, and Depends from dpkg-shlibdeps
# plus what unattended runs and plots need at run time.
set(SUITE_PACKAGE_NAME graphics-benchmarks)
set(SUITE_PACKAGE_MAINTAINER "Graphics benchmark suite <benchmarks@example.org>"
    CACHE STRING "Maintainer field of the package: whoever ships it")
set(suite_doc_dir share/doc/${SUITE_PACKAGE_NAME})

# Debian wants manual pages and changelogs compressed to the maximum, without
# the name and time stamp gzip would otherwise store.
find_program(GZIP_EXECUTABLE gzip REQUIRED)
function(suite_gzip source output)
  add_custom_command(OUTPUT ${output}
                     COMMAND ${GZIP_EXECUTABLE} -9nc ${source} > ${output}
                     DEPENDS ${source} VERBATIM)
endfunction()

file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/doc/man)
set(suite_pages cube screens triangles suite-run suite-report)
set(suite_compressed)
foreach(page IN LISTS suite_pages)
  set(gz ${PROJECT_BINARY_DIR}/doc/man/${page}.1.gz)
  suite_gzip(${PROJECT_SOURCE_DIR}/doc/man/${page}.1 ${gz})
  list(APPEND suite_compressed ${gz})
endforeach()

# A package's changelog entry for this version, dated at configure time.
string(TIMESTAMP suite_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/doc/changelog.in
               ${PROJECT_BINARY_DIR}/doc/changelog.Debian @ONLY)
suite_gzip(${PROJECT_BINARY_DIR}/doc/changelog.Debian
           ${PROJECT_BINARY_DIR}/doc/changelog.Debian.gz)

add_custom_target(package_docs ALL
                  DEPENDS ${suite_compressed} ${PROJECT_BINARY_DIR}/doc/changelog.Debian.gz)
install(FILES ${suite_compressed} DESTINATION share/man/man1)
install(FILES ${PROJECT_SOURCE_DIR}/doc/copyright
              ${PROJECT_BINARY_DIR}/doc/changelog.Debian.gz DESTINATION ${suite_doc_dir})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${suite_doc_dir})
install(FILES ${PROJECT_SOURCE_DIR}/tools/report/README.md DESTINATION ${suite_doc_dir}
        RENAME README.report.md)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${SUITE_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${SUITE_VERSION})
# The revision lets the suite's version (which may hold "-dirty") stand as it is.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGE_CONTACT ${SUITE_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "OpenGL benchmarks with an unattended runner and reports")
set(CPACK_PACKAGE_DESCRIPTION
    "Three interactive OpenGL benchmarks (cube, screens, triangles) that render\n"
    "a fixed workload again and again, time every frame and write every figure\n"
    "to a results file. suite-run runs them one after another, unattended on a\n"
    "private X server when there is no display, and keeps beside each results\n"
    "file what is needed to understand it. suite-report gives per-run\n"
    "statistics, comparisons between runs, plots and an HTML page.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xvfb, gnuplot-nox, libjs-dygraphs")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
