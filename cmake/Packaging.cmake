# What `cmake --install` puts beside the program (installed by src/app), and the Debian package
# that CPack makes of it: `cpack -G DEB` in the build folder.
install(FILES ${PROJECT_SOURCE_DIR}/src/options/vorlix.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/options-pages.md ${PROJECT_SOURCE_DIR}/docs/speech.md
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vorlix)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorlix)
set(CPACK_PACKAGE_VENDOR "Vorlix")
set(CPACK_PACKAGE_CONTACT "Vorlix developers <vorlix@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Voice commands and hot keys from the system tray")
set(CPACK_PACKAGE_DESCRIPTION "A tray agent that runs commands on spoken phrases, key combinations and tray menu entries: it types keys, starts programs and shows or speaks messages.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Data that no library dependency brings: the speech model and the voices.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pocketsphinx-en-us, espeak-ng-data")
# Applies the uinput udev rule (installed by src/keys) at once.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Training the recogniser on the user's voice; without them the agent works with the shipped model.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "sphinxtrain, sphinxbase-utils, pocketsphinx")
include(CPack)
