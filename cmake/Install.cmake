# What `cmake --install` puts under its prefix, and the packages `cpack` makes of it:
#
#   bin/launcher                       the executable; applications get copies of it
#   share/launcher/launcher.jar        the product's Java classes the launcher serves
#   share/man/man1/launcher.1          the manual page
#   share/doc/launcher/                README, the manual in Markdown, the examples

install(TARGETS launcher RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PRODUCT_JAR} DESTINATION ${CMAKE_INSTALL_DATADIR}/launcher)
install(FILES docs/launcher.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md docs/configuration.md docs/troubleshooting.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY examples/systemd DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES examples/hello/bin/hello.config DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/hello/bin)
install(FILES examples/hello/src/Hello.java DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/hello/src)
install(FILES examples/server/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/server)
install(FILES examples/server/bin/server.config DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/server/bin)
install(DIRECTORY examples/server/src DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/server)

set(CPACK_PACKAGE_NAME launcher)
set(CPACK_PACKAGE_VENDOR "The launcher's developers")
set(CPACK_PACKAGE_CONTACT "The launcher's developers <launcher@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Native launcher that starts a Java server application inside its own process")
set(CPACK_PACKAGE_DESCRIPTION
    "One executable that starts a Java application inside its own process. Its file name selects the\n"
    "configuration beside it, which says which class to run, with which Java VM, class path, VM options\n"
    "and exit-code conventions.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_GENERATOR TGZ DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

# The executable links only the C and C++ runtimes. It loads a Java VM at run time, found
# through its configuration, JAVA_HOME or PATH, which need not come from a package.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 11), libgcc-s1")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "default-jre-headless | java-runtime-headless")
set(CPACK_DEBIAN_PACKAGE_SECTION java)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
include(CPack)
