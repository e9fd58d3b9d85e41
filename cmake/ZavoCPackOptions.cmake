# Read by cpack for each generator. A Debian package is for the prefix
# /usr only: the program looks for the system's settings in the folder
# compiled in (/etc for /usr), and a package never installs into /usr/local.
if(CPACK_GENERATOR STREQUAL "DEB" AND
   NOT CPACK_PACKAGING_INSTALL_PREFIX STREQUAL "/usr")
  message(FATAL_ERROR
    "the Debian package needs a build configured with"
    " -DCMAKE_INSTALL_PREFIX=/usr (this one is for"
    " ${CPACK_PACKAGING_INSTALL_PREFIX})")
endif()
