# What `cmake --install` puts where, and the packages CPack makes from it. Only what a user
# runs or reads is installed: the programs, the manual page and the texts; never the tests,
# the benchmarks or the demo's data maker.
#
#   Linux and the like:  bin/convoluzione-cli, share/man/man1/convoluzione-cli.1.gz,
#                        share/doc/convoluzione/{README.md,LICENSE,CHANGELOG.md,copyright};
#                        packages: a .deb and a .tar.gz.
#   Windows:             one folder holding convoluzione.exe, convoluzione-cli.exe,
#                        README.txt and LICENSE.txt; package: a .zip of that folder.
include(GNUInstallDirs)

if(WIN32)
  # Windows opens .txt files with a double click; the contents are the same texts.
  install(TARGETS convoluzione convoluzione-cli RUNTIME DESTINATION .)
  install(FILES README.md DESTINATION . RENAME README.txt)
  install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
else()
  install(TARGETS convoluzione-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Manual pages are kept compressed, as every distribution ships them and man reads them;
  # -n leaves out the name and time, so the same page always gives the same bytes.
  set(manualPage ${PROJECT_BINARY_DIR}/convoluzione-cli.1.gz)
  add_custom_command(
    OUTPUT ${manualPage}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/convoluzione-cli.1
            ${PROJECT_BINARY_DIR}/convoluzione-cli.1
    COMMAND gzip -9 -n -f ${PROJECT_BINARY_DIR}/convoluzione-cli.1
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/convoluzione-cli.1
    VERBATIM)
  add_custom_target(convoluzione-manual-page ALL DEPENDS ${manualPage})
  install(FILES ${manualPage} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # The licence as Debian's tools read it (a `copyright` file in the package's doc folder,
  # machine-readable), made from LICENSE so that the two cannot differ.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE licenseText)
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" ignored "${licenseText}")
  set(copyrightHolders "${CMAKE_MATCH_1}")
  string(REGEX REPLACE "^MIT License\n+Copyright[^\n]*\n+" "" licenseTerms "${licenseText}")
  string(STRIP "${licenseTerms}" licenseTerms)
  string(REGEX REPLACE "\n\n+" "\n.\n" licenseTerms "${licenseTerms}")
  string(REPLACE "\n" "\n " licenseTerms "${licenseTerms}")
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/copyright
       CONTENT "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: convoluzione

Files: *
Copyright: ${copyrightHolders}
License: Expat
 ${licenseTerms}
")
  # Named after the package, not the project, as Debian and most distributions do.
  install(FILES README.md LICENSE CHANGELOG.md ${PROJECT_BINARY_DIR}/copyright
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/convoluzione)
endif()

set(CPACK_PACKAGE_NAME convoluzione)
set(CPACK_PACKAGE_VENDOR "the Convoluzione authors")
set(CPACK_PACKAGE_CONTACT "the Convoluzione authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convolves WAV recordings with impulse responses")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# The programs lose their symbol tables and debugging sections: a third of the size.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME convoluzione-${PROJECT_VERSION}-windows-x64)
else()
  set(CPACK_GENERATOR DEB TGZ)
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" platform)
  set(CPACK_PACKAGE_FILE_NAME convoluzione-${PROJECT_VERSION}-${platform})
  # The .deb: named as Debian names packages (convoluzione_0.2.0_amd64.deb), depending on the libraries the program really links (dpkg-shlibdeps).
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "the Convoluzione authors")
  # Below the summary line (CPACK_PACKAGE_DESCRIPTION_SUMMARY), the long description.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "convoluzione-cli takes a dry recording and the impulse response of a room, a
speaker, a plate or a telephone (16-bit PCM WAV files, mono or stereo) and
writes the recording as heard there, as a 16-bit PCM WAV file.

The convolution is computed directly, sample by sample, with every output
sample defined to the bit: every build on every CPU writes identical files.
It uses every processor it may run on, shows its progress on a terminal,
and when stopped (Ctrl-C, a closed terminal) leaves a valid, shorter file.
Its messages are in Italian.")
  # Only the .deb installs under /usr; the .tar.gz holds bin/ and share/ at its top, to
  # be run where it is unpacked or copied under /usr/local.
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/PackagePrefix.cmake)
endif()

include(CPack)
