# What an install holds, and the Debian package made from it: the builder,
# the shipped applier where the builder finds it by default, the README and
# the licences of the code compiled into the builder. Folders below the
# prefix: SELFPATCH_INSTALL_* in CMakeLists.txt. tools/dist.sh makes the
# release archives from these rules.
if(WIN32)
  install(TARGETS applier RUNTIME DESTINATION ${SELFPATCH_INSTALL_STUBDIR})
else()
  # The applier is a 32-bit Windows program that only the windows preset
  # builds; a native install copies that build (SELFPATCH_WINDOWS_APPLIER),
  # and says so before it copies anything.
  install(CODE "
    if(NOT EXISTS \"${SELFPATCH_WINDOWS_APPLIER}\")
      message(FATAL_ERROR \"no applier at ${SELFPATCH_WINDOWS_APPLIER}: build the windows preset \"
                          \"first, or configure with -DSELFPATCH_WINDOWS_APPLIER=FILE\")
    endif()")
  install(FILES ${SELFPATCH_WINDOWS_APPLIER} DESTINATION ${SELFPATCH_INSTALL_STUBDIR})
endif()
install(TARGETS mkpatch RUNTIME DESTINATION ${SELFPATCH_INSTALL_BINDIR})
install(FILES README.md DESTINATION ${SELFPATCH_INSTALL_DOCDIR})
# libdeflate's and Zopfli's licences ask that copies of their code carry them.
foreach(library libdeflate zopfli)
  install(FILES third_party/${library}/COPYING
          DESTINATION ${SELFPATCH_INSTALL_DOCDIR}/third_party/${library})
endforeach()

if(WIN32)
  return()  # the Windows archive is a zip of the install (tools/dist.sh)
endif()

# The Debian package: selfpatch_VERSION_ARCH.deb. Its time stamps come from
# SOURCE_DATE_EPOCH (set by tools/dist.sh), so that the same tree gives the
# same bytes; xz, unlike gzip, stores no time of its own.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "builder of self-applying patches for Windows programs")
set(CPACK_PACKAGE_DESCRIPTION
    "mkpatch builds one Windows executable that upgrades an installed program's\n"
    "files from any of its known old versions to the new one, and inspects and\n"
    "verifies such patches. The package holds the applier, the 32-bit Windows\n"
    "program every patch is built around.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
# A placeholder in a reserved domain, like the applier's web links, until a
# real address exists.
set(CPACK_PACKAGE_CONTACT "selfpatch maintainers <maintainers@selfpatch.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)  # mkpatch only: install(FILES) copies stay as they are
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The libraries mkpatch is linked against, with versions, from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
