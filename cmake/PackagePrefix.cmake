# Read by CPack once per generator (CPACK_PROJECT_CONFIG_FILE): a Debian package installs
# under /usr, an archive keeps its paths relative to its own top folder.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
else()
  set(CPACK_PACKAGING_INSTALL_PREFIX "")
endif()
