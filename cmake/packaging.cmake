# SPDX-License-Identifier: GPL-3.0-or-later
# Installing the catalogue program and packing everything installed as a Debian package
# (cpack -G DEB). Included at the end of the top-level file, after app/ has made orb.
include(GNUInstallDirs)
if(TARGET orb)
  install(TARGETS orb)
endif()

set(CPACK_PACKAGE_NAME kelvane-orb)
set(CPACK_PACKAGE_VENDOR "Kelvane软件")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kelvane软件 <support@kelvane.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Kelvane光盘助手: catalogue manager for optical discs")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://kelvane.example.org/")
# Qt and the C++ run time come from the binaries' own links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The desktop's databases of MIME types, menu entries and icons are refreshed by these
# packages' dpkg triggers, so the package needs no scripts of its own. The window is in
# Chinese (a CJK font), and the manual opens through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "shared-mime-info, desktop-file-utils, hicolor-icon-theme, fonts-noto-cjk | fonts-wqy-zenhei, xdg-utils")
# CPack puts the summary in front and indents the lines below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Scans a disc (or any folder) into a disc index (.orb) filed into a disc
library, so the disc can be browsed, annotated and searched without it.
When a catalogued disc is inserted, its index is found and opened.

Includes orbtool, the command-line front end, and orb22to30, which
upgrades a library written by release 2.2.")

include(CPack)
