# What the components server and builder install. Prefix /usr gives the
# layout of the Debian packages:
#
#   /usr/bin/Morvane, morvanec, morvane-demo          (server)
#   /usr/bin/MorvaneBuilder                            (builder)
#   /usr/lib/<triplet>/morvane/libquillog.so, libprintdata.so
#   /usr/share/morvane/examples/{Schemas,XML_Data}     the example archive
#   /etc/morvane/Morvane.ini                           conffile
#   /etc/logrotate.d/morvane                           conffile
#   /lib/systemd/system/morvane.service
#   /usr/share/man/man1/*.1.gz, /usr/share/bash-completion/completions/morvanec
#
# The home /var/lib/morvane is made by the package's postinst, owned by the
# morvane user.
set(_dir ${CMAKE_SOURCE_DIR}/packaging)

install(TARGETS Morvane morvanec morvane-demo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  COMPONENT server)
# Loaded with dlopen() only: no execute bit, as for any shared object.
install(TARGETS quillog printdata LIBRARY DESTINATION ${MORVANE_INSTALL_PKGLIBDIR}
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ COMPONENT server)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/Schemas ${CMAKE_SOURCE_DIR}/examples/XML_Data
  DESTINATION ${CMAKE_INSTALL_DATADIR}/morvane/examples COMPONENT server)
install(FILES ${CMAKE_SOURCE_DIR}/Morvane.ini.example DESTINATION ${MORVANE_INSTALL_CONFDIR}
  RENAME Morvane.ini COMPONENT server)
install(FILES ${_dir}/morvane.logrotate DESTINATION ${MORVANE_INSTALL_LOGROTATEDIR}
  RENAME morvane COMPONENT server)
install(FILES ${_dir}/morvane.service DESTINATION ${MORVANE_INSTALL_UNITDIR} COMPONENT server)
install(FILES ${_dir}/morvanec.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME morvanec
  COMPONENT server)
install(FILES ${CMAKE_BINARY_DIR}/man/Morvane.1.gz ${CMAKE_BINARY_DIR}/man/morvanec.1.gz
  ${CMAKE_BINARY_DIR}/man/morvane-demo.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT server)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/Morvane.ini.example
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/morvane COMPONENT server)

if(TARGET MorvaneBuilder)
  install(TARGETS MorvaneBuilder RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT builder)
  install(FILES ${CMAKE_BINARY_DIR}/man/MorvaneBuilder.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT builder)
endif()
