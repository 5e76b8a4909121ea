# The Debian package: ./build.sh package, or cpack -G DEB in the build folder.
# Installed under /usr; the libraries it links are found by dpkg-shlibdeps,
# what it loads at run time is listed: FluidSynth (loaded at the first
# tune), the X11 platform plugin of Qt, Qt's Japanese translations, the
# Japanese font, the icon theme of the toolbars, the sound font of the
# shop's music, the certificate store of every TLS login and libsecret,
# through which QtKeychain reaches the desktop keyring.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tomoshibi)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "tomoshibi developers <tomoshibi@example.jp>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "mail client with a Japanese interface, kept as a small shop")
set(CPACK_PACKAGE_DESCRIPTION
    "灯火亭 (tomoshibi) checks one POP3 mailbox, keeps every mail in local files, shows it in a list-and-reader window and writes and sends mail over SMTP with attachments, with an address book and face marks. Its main window is a small shop with background music and scenery pages. mailto: links open its compose window.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "${TOMOSHIBI_FLUIDSYNTH_PACKAGE}, qt6-qpa-plugins, qt6-translations-l10n, fonts-ipafont-gothic, adwaita-icon-theme, timgm6mb-soundfont, ca-certificates, libsecret-1-0")
# The author's page and links in mail open in the desktop's browser.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
