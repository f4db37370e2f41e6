# The Debian package: `cpack -G DEB` in the build directory makes tokentest_<version>_<arch>.deb
# with what `cmake --install` installs, under /usr. The shared libraries the binaries link
# give their dependencies through dpkg-shlibdeps; the GOST engine is loaded by name at run
# time, so it is listed by hand.
set(CPACK_PACKAGE_NAME tokentest)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tests a cryptographic token through its PKCS#11 module")
set(CPACK_PACKAGE_DESCRIPTION "tokentest runs a fixed sequence of tests against the token behind a PKCS#11
module: it initialises the token, logs in, imports certificates and keys,
generates RSA and GOST R 34.10-2001 key pairs, signs and verifies, builds a
certificate request, checks a GOST 28147-89 MAC, changes the PINs and cleans
up. The package also holds the bundled software token module and the test
files.")
# The maintainer named in the package, its changelog and copyright file: whoever builds a
# package for others sets it (-DTOKENTEST_PACKAGE_CONTACT="Name <address>").
set(TOKENTEST_PACKAGE_CONTACT "tokentest packager <packager@tokentest.invalid>" CACHE STRING
  "Maintainer of the Debian package: Name <address>")
set(TOKENTEST_DEB_RELEASE 1 CACHE STRING "Debian revision of the package")
set(TOKENTEST_DEB_VERSION ${PROJECT_VERSION}-${TOKENTEST_DEB_RELEASE})
set(CPACK_PACKAGE_CONTACT "${TOKENTEST_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TOKENTEST_DEB_RELEASE})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libengine-gost-openssl")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The copyright file and the Debian changelog, compressed as Debian installs changelogs.
set(TOKENTEST_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/tokentest)
configure_file(packaging/copyright.in ${CMAKE_BINARY_DIR}/packaging/copyright @ONLY)
configure_file(packaging/changelog.Debian.in ${CMAKE_BINARY_DIR}/packaging/changelog.Debian @ONLY)
set(TOKENTEST_CHANGELOG ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_command(OUTPUT ${TOKENTEST_CHANGELOG}
  COMMAND ${GZIP} -9 -n -c ${CMAKE_BINARY_DIR}/packaging/changelog.Debian > ${TOKENTEST_CHANGELOG}
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.Debian
  VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${TOKENTEST_CHANGELOG})
install(FILES ${CMAKE_BINARY_DIR}/packaging/copyright ${TOKENTEST_CHANGELOG} DESTINATION ${TOKENTEST_DOC_DIR})
install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME tokentest)

include(CPack)
