# Install rules: the program, its manual page, the bash completion, an
# example defaults file and the JSON report's schema, in the places that the
# FHS and Debian's policy give them. Included from the top-level
# CMakeLists.txt after the zarvik target.
include(GNUInstallDirs)

install(TARGETS zarvik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/doc/zarvik.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# bash-completion loads a command's completion on first use from this folder,
# by the command's name.
install(FILES ${PROJECT_SOURCE_DIR}/contrib/bash-completion/zarvik
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
# The schema of the --json report, for consumers that validate it.
install(FILES ${PROJECT_SOURCE_DIR}/doc/zarvik-report.schema.json DESTINATION ${CMAKE_INSTALL_DATADIR}/zarvik)
install(FILES ${PROJECT_SOURCE_DIR}/doc/zarvik.def.example
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        RENAME zarvik.def)
