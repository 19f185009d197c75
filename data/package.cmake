# The Debian package: `cpack --preset release` (or `cpack -G DEB` in a build folder) writes
# strata_<version>_amd64.deb with what `cmake --install` puts in place under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME strata)
set(CPACK_PACKAGE_VENDOR Korvel)
set(CPACK_PACKAGE_CONTACT "Strata maintainers <maintainers@users.noreply.c-seed-0402e3c6.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "mutes and unmutes a DAW's tracks section by section on stage")
set(CPACK_PACKAGE_DESCRIPTION
    "Strata keeps a set of songs, each a list of sections, and for every section the DAW tracks
(layers) that play in it. As the performer moves through the set with the arrow keys, a
footswitch, program changes or the Cadenzo cue player, Strata mutes and unmutes those tracks,
as a Mackie Control surface and extender or with one MIDI control change per layer.
It runs on JACK, on PipeWire's JACK or on the ALSA sequencer.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program links (Qt, libjack, libasound, the C++ runtime) come from the binary
# itself (dpkg-shlibdeps). What it loads at run time is named here: the QML modules and Qt's
# platform plugins the window needs, the Mesa drivers Qt Quick draws with under X11 and Wayland,
# and the display face. The same list as tools/dev's run_packages, which a test compares.
set(STRATA_RUNTIME_PACKAGES
    qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
    qml6-module-qtquick-window qml6-module-qtquick-templates qml6-module-qtqml-workerscript
    qml6-module-qtquick-dialogs qml6-module-qt-labs-folderlistmodel qml6-module-qtqml
    qt6-qpa-plugins libgl1-mesa-dri fonts-league-spartan)
list(JOIN STRATA_RUNTIME_PACKAGES ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# MIDI: the JACK library is linked (so it is a dependency); a desktop's PipeWire serves it through
# pipewire-jack, a studio machine runs jackd. Wayland sessions want Qt's Wayland plugin.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire-jack | jackd2, qt6-wayland")
include(CPack)
