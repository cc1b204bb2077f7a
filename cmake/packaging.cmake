# `make package`: a Debian package of the installed files (CPack DEB). Built from a tree
# configured with CMAKE_INSTALL_PREFIX=/usr (the `package` preset).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orrin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Orrin developers <orrin-dev@users.noreply.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "screen-cast receiver for the desktop")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "screen-cast receiver for the desktop
 Orrin shows the screen a phone's cast app streams over the local network: the
 sender finds the receiver through a discovery probe, connects over WebSocket and
 sends JPEG pictures and 16 kHz mono sound, which Orrin shows in one window,
 windowed or full screen, and plays.
 .
 The package also holds orrin-cast, a command-line sender for tests and
 demonstrations, a desktop launcher, a systemd user service, and firewalld and
 ufw profiles for the three ports (9959/tcp, 8888/udp, 8889/tcp).")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ufw | firewalld")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# The ufw profile lives under /etc: the administrator's copy wins on upgrades.
file(WRITE ${PROJECT_BINARY_DIR}/deb/conffiles "${ORRIN_UFW_DIR}/orrin-receiver\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/deb/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
