# What `make install` puts beside the two programs: manual pages, shell completion and the
# desktop entries. Paths follow GNUInstallDirs so that PREFIX and DESTDIR both work.
include(GNUInstallDirs)
install(TARGETS borvan32 DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/man/borvan32.1 ${PROJECT_SOURCE_DIR}/man/vesk32.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/completion/borvan32.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME borvan32)
install(FILES ${PROJECT_SOURCE_DIR}/completion/vesk32.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME vesk32)
install(FILES ${PROJECT_SOURCE_DIR}/completion/_borvan32 ${PROJECT_SOURCE_DIR}/completion/_vesk32
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
install(FILES ${PROJECT_SOURCE_DIR}/desktop/borvan32.desktop
              ${PROJECT_SOURCE_DIR}/desktop/vesk32.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
