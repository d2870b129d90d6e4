# The Debian package: "cpack -G DEB" in the release build. Depends are computed by dpkg-shlibdeps from
# the programs themselves, so they follow what is really linked. The package changes no permissions:
# serial ports stay the dialout group's. Debian's own check, lintian, runs on it in the package test.
set(CPACK_PACKAGE_NAME tarvo)
set(CPACK_PACKAGE_VENDOR "Tarvo")
set(CPACK_PACKAGE_CONTACT "${TARVO_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Commission and monitor digital load-cell transmitters")
# Lines of the long description stay under 80 characters.
set(CPACK_PACKAGE_DESCRIPTION
    "Tarvo connects a PC to digital load-cell transmitters through a serial port
or a CAN adapter: it finds the device, shows, records and plots its weight
stream, sets its parameters, calibrates it and loads new firmware. tarvo-cli
does the same work from scripts; tarvo-devsim simulates transmitters.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the programs run rather than link: "ip" reads a CAN interface's bit rate (Qt's CAN plugins come
# with libqt6serialbus6, which the computed Depends already names).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "iproute2")
include(CPack)
