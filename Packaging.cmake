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
set(CPACK_PACKAGE_CONTACT "tokentest developers <tokentest@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libengine-gost-openssl")
set(CPACK_STRIP_FILES ON)
include(CPack)
