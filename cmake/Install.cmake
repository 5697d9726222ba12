# Where an installed program's pieces go. The program finds them again from its own folder, so
# an install moved with `cmake --install --prefix` or staged under DESTDIR still runs: the
# library folder and a configuration folder inside the prefix are compiled in relative to the
# bindir; a configuration folder outside it (/etc for the prefix /usr) is compiled in whole.
include(GNUInstallDirs)

set(LUMIPAGE_INSTALL_LIBRARY_DIR ${CMAKE_INSTALL_LIBDIR}/lumipage)
file(RELATIVE_PATH LUMIPAGE_LIBRARY_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR}/lumipage)

string(FIND "${CMAKE_INSTALL_FULL_SYSCONFDIR}/" "${CMAKE_INSTALL_PREFIX}/" LUMIPAGE_SYSCONF_AT)
if(LUMIPAGE_SYSCONF_AT EQUAL 0 AND NOT IS_ABSOLUTE "${CMAKE_INSTALL_SYSCONFDIR}")
  set(LUMIPAGE_INSTALL_CONFIG_DIR ${CMAKE_INSTALL_SYSCONFDIR}/lumipage)
  file(RELATIVE_PATH LUMIPAGE_CONFIG_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_SYSCONFDIR}/lumipage)
else()
  set(LUMIPAGE_INSTALL_CONFIG_DIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/lumipage)
  set(LUMIPAGE_CONFIG_FROM_BIN ${CMAKE_INSTALL_FULL_SYSCONFDIR}/lumipage)
endif()
set(LUMIPAGE_INSTALL_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/lumipage)
