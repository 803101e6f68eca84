# Installation and packages.
#
# `cmake --install` puts the programs in bin/, and README, the licence, the JSON schemas and the manual
# page into the usual share/ places. CPack makes, on Linux, one Debian package per part: the console
# program (talvane-quillet), and the windowed program and the many-clients program as packages of
# their own that depend on it; on Windows (the cross build) a zip with quillet.exe, README and the
# licence.
#
# The programs keep no path of their own installation: the script log is written beside the running
# program when that folder can be written, and otherwise in the user's state folder, so an installed
# program run by a user who cannot write /usr/bin logs to ~/.local/state/talvane-quillet/.
include(GNUInstallDirs)

set(quillet_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/talvane-quillet)
if(WIN32)
  install(TARGETS quillet RUNTIME DESTINATION . COMPONENT console)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . COMPONENT console)
else()
  install(TARGETS quillet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT console)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
                ${PROJECT_SOURCE_DIR}/docs/report.schema.json ${PROJECT_SOURCE_DIR}/docs/progress.schema.json
          DESTINATION ${quillet_doc_dir} COMPONENT console)
  configure_file(${PROJECT_SOURCE_DIR}/docs/quillet.1.in ${PROJECT_BINARY_DIR}/quillet.1 @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/quillet.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT console)
  if(TARGET quillet-windows)
    install(TARGETS quillet-windows RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT windows)
  endif()
  if(TARGET quillet-mpi)
    install(TARGETS quillet-mpi RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT mpi)
  endif()
endif()

set(CPACK_PACKAGE_NAME talvane-quillet)
set(CPACK_PACKAGE_VENDOR "Talvane Software")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Test-data generator for storage testing")
set(CPACK_PACKAGE_DESCRIPTION
    "Fills a folder with generated files (random, self-identifying content or allocation only) until a total "
    "size is written, the volume is full, or every folder holds a random number of files, and verifies "
    "them block by block afterwards.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_CHECKSUM SHA256)
if(WIN32)
  # The zip holds the program alone: cpack need not build every test suite first.
  set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME talvane-quillet-${PROJECT_VERSION}-windows-x86_64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
  set(CPACK_COMPONENTS_ALL console)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Talvane Software <quillet@talvane.invalid>")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # The libraries each program links (Qt, Open MPI, zstd, lz4, the C++ runtime) become its package's
  # dependencies.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
  set(CPACK_DEBIAN_CONSOLE_PACKAGE_NAME talvane-quillet)
  set(CPACK_DEBIAN_WINDOWS_PACKAGE_NAME talvane-quillet-windows)
  set(CPACK_DEBIAN_MPI_PACKAGE_NAME talvane-quillet-mpi)
  set(CPACK_DEBIAN_WINDOWS_PACKAGE_SECTION x11)
  # Loaded at run time, so the library scan cannot see them: Qt's X11 platform plugin, and the
  # launcher the many-client program is normally started by.
  set(CPACK_DEBIAN_WINDOWS_PACKAGE_DEPENDS "qt6-qpa-plugins")
  set(CPACK_DEBIAN_WINDOWS_PACKAGE_RECOMMENDS "fonts-dejavu-core")
  set(CPACK_DEBIAN_MPI_PACKAGE_RECOMMENDS "openmpi-bin")
  set(CPACK_COMPONENT_CONSOLE_DESCRIPTION "Talvane Quillet: the console program, its manual page and schemas")
  set(CPACK_COMPONENT_WINDOWS_DESCRIPTION "Talvane Quillet: the windows (options and progress dialogs)")
  set(CPACK_COMPONENT_MPI_DESCRIPTION "Talvane Quillet: quillet-mpi, many clients on one shared file system")
  set(CPACK_COMPONENT_WINDOWS_DEPENDS console)
  set(CPACK_COMPONENT_MPI_DEPENDS console)
  set(CPACK_COMPONENTS_ALL console)
  if(TARGET quillet-windows)
    list(APPEND CPACK_COMPONENTS_ALL windows)
  endif()
  if(TARGET quillet-mpi)
    list(APPEND CPACK_COMPONENTS_ALL mpi)
  endif()
endif()
include(CPack)
