# Installed like a field tool: vimsor, vimsor-batch (and the nv tools where
# they are built, through their own install rules), the man pages, and a .deb
# made by `cpack -G DEB` with its dependencies declared. The mavlin stand-in
# has no install rule and is never installed.
install(FILES ${CMAKE_SOURCE_DIR}/man/vimsor.1 ${CMAKE_SOURCE_DIR}/man/vimsor-batch.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME vimsor)
set(CPACK_PACKAGE_VENDOR "the vimsor authors")
set(CPACK_PACKAGE_CONTACT "the vimsor authors <vimsor@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch processor for infrasound recordings, with archive runs on Slurm or GNU parallel")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# The shared libraries (libc, libstdc++, libmseed for the nv tools) come from
# dpkg-shlibdeps; the programs vimsor-batch runs are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "parallel")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "slurm-client")
include(CPack)
