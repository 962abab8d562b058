# The Debian package, built by CPack (scripts/package.sh runs `cpack -G DEB`).
set(CPACK_PACKAGE_NAME frelvanta)
set(CPACK_PACKAGE_VENDOR "Frelvanta developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "screen recorder for the X11 desktop")
set(CPACK_PACKAGE_DESCRIPTION
"Frelvanta records a monitor, a window or a rectangle chosen on screen into
an MP4 file (H.264, H.265 or AV1), with the system's sound, or only the
recorded application's sound, and a microphone mixed into one AAC or FLAC
track. It waits in the notification area with global keyboard shortcuts, or
makes one recording from the command line and exits with a status code.
Interrupted H.264 recordings stay playable and are recovered at the next
start.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Frelvanta developers <frelvanta@example.org>" CACHE STRING
    "Maintainer field of the Debian package")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries' own packages, found by dpkg-shlibdeps from the executable.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
