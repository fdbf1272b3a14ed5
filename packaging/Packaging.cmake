# Installation (cmake --install) and the Debian package (cpack): the
# programs, a manual page for each (made from its --help text), the desktop
# entry and the MIME type of an application's index.mcb.
include(GNUInstallDirs)

set(MCB_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(MCB_MAN_SUMMARY_mcbrun "run an application of the mcb runtime")
set(MCB_MAN_SUMMARY_mcb-as "assemble program text into an mcb bytecode file")
set(MCB_MAN_SUMMARY_mcb-dis "print an mcb bytecode file as program text")
set(MCB_MAN_SUMMARY_mcb-trace "print an mcb trace log")

foreach(tool mcbrun mcb-as mcb-dis mcb-trace)
  if(TARGET ${tool})
    set(page ${CMAKE_BINARY_DIR}/man/${tool}.1.gz)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${MCB_PACKAGING_DIR}/make-man.sh $<TARGET_FILE:${tool}> ${tool} ${PROJECT_VERSION}
              "${MCB_MAN_SUMMARY_${tool}}" ${page}
      DEPENDS ${tool} ${MCB_PACKAGING_DIR}/make-man.sh ${MCB_PACKAGING_DIR}/help-to-man.awk
      VERBATIM)
    add_custom_target(${tool}-man ALL DEPENDS ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()
install(FILES ${MCB_PACKAGING_DIR}/mcbrun.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${MCB_PACKAGING_DIR}/mcb-application.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mcb)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "mcb maintainers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "runtime for small graphical bytecode applications")
set(CPACK_PACKAGE_DESCRIPTION
  "mcbrun runs applications compiled to mcb bytecode in a window (800 x 480 or 480 x 800, scaled on a desktop) or headless; mcb-as and mcb-dis assemble and disassemble bytecode; mcb-trace prints the traces that mcbrun --trace records.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
# Shared libraries from the binaries (dpkg-shlibdeps); the font Qt draws
# text with is no library.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
include(CPack)
