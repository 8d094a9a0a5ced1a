# The Debian package, made by CPack: `cpack -G DEB` in a build folder gives
# velmora_<version>_amd64.deb. Its dependencies are read off the linked libraries (shlibdeps).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Velmora developers")
set(CPACK_PACKAGE_CONTACT "${VELMORA_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Beside the libraries: xdg-open opens the capture file when the operator chose no viewer, and
# without Qt's translations the standard dialogs and context menus would speak English. CPack
# puts the libraries' dependencies after these.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PROJECT_HOMEPAGE_URL}")
# The extended description; CPack puts the summary line above it and indents it.
set(CPACK_PACKAGE_DESCRIPTION "\
Velmora is a desktop console for modems that give a transparent end-to-end
data channel: leased-line modems and half-duplex radio modems. Each key typed
goes out of the serial port at once; what arrives is shown as text, as
hexadecimal bytes or as binary digits, with marks for line errors.

For radio modems it keys the transmitter with RTS, per burst or with a fixed
delay. Received data can be recorded to a file and a file sent out of the
port. Simulated devices (a loopback plug, a radio link) need no hardware.")

include(CPack)
