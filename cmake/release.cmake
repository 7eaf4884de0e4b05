# What an install holds: the builder, the shipped applier where the builder
# finds it by default, the README and the licences of the code compiled into
# the builder. Folders below the prefix: SELFPATCH_INSTALL_* in CMakeLists.txt.
install(TARGETS mkpatch RUNTIME DESTINATION ${SELFPATCH_INSTALL_BINDIR})
if(WIN32)
  install(TARGETS applier RUNTIME DESTINATION ${SELFPATCH_INSTALL_STUBDIR})
else()
  # The applier is a 32-bit Windows program that only the windows preset
  # builds; a native install copies that build (SELFPATCH_WINDOWS_APPLIER).
  install(CODE "
    if(NOT EXISTS \"${SELFPATCH_WINDOWS_APPLIER}\")
      message(FATAL_ERROR \"no applier at ${SELFPATCH_WINDOWS_APPLIER}: build the windows preset \"
                          \"first, or configure with -DSELFPATCH_WINDOWS_APPLIER=FILE\")
    endif()")
  install(FILES ${SELFPATCH_WINDOWS_APPLIER} DESTINATION ${SELFPATCH_INSTALL_STUBDIR})
endif()
install(FILES README.md DESTINATION ${SELFPATCH_INSTALL_DOCDIR})
# libdeflate's and Zopfli's licences ask that copies of their code carry them.
foreach(library libdeflate zopfli)
  install(FILES third_party/${library}/COPYING
          DESTINATION ${SELFPATCH_INSTALL_DOCDIR}/third_party/${library})
endforeach()
