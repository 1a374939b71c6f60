# `make package` (cpack in the release build): a Debian package of what
# `cmake --install` installs, under /usr. Its library dependencies come from
# dpkg-shlibdeps; the Qt plugins the program loads at run time (the X11
# platform, the SVG icon) are named by hand, as no linker sees them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME wallpapers)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "downloads a numbered range of wallpapers from a wallpaper site")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A desktop program that downloads a numbered range of wallpaper pictures
from one wallpaper site over HTTP or HTTPS, saves each as a numbered JPEG
file, shows it, and keeps a log of the numbers done. A picture on screen
can be made the desktop's wallpaper through the desktop portal.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Wallpapers maintainers <maintainers@wallpapers.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-desktop-portal")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
include(CPack)
