# The Debian packages, one per install component, made by CPack:
#
#   cd build && cpack -G DEB     (or scripts/build-packages.sh)
#
# Every component any module installs becomes a package; the known ones get
# their Debian names, any other morvane-<component>. Each package carries
# its copyright file and changelog; shlibdeps gives the libraries' versions.
set(MORVANE_MAINTAINER "Morvane developers <maintainers@users.noreply.c-seed-b173b2de.example>"
  CACHE STRING "Maintainer of the Debian packages")

set(_pkg_server morvane)
set(_pkg_builder morvane-builder)
set(_pkg_client libmorvane-client1)
set(_pkg_client-dev libmorvane-client-dev)
set(_pkg_python python3-morvane)
set(_section_server net)
set(_section_builder devel)
set(_section_client libs)
set(_section_client-dev libdevel)
set(_section_python python)
set(_description_server "packed binary record layouts from XML schemas: compiler and server
Morvane turns a small XML schema dialect into packed binary record layouts
for C programs: it writes a C header per schema and an empty XML data file,
converts records between the binary form and XML data files, and serves
them to clients over TCP.
.
This package holds the server Morvane with its systemd unit (running as the
morvane user on /var/lib/morvane), the command-line compiler morvanec, the
reference client morvane-demo, the logger library and the sample print-data
plug-in.")
set(_description_builder "packed binary record layouts from XML schemas: schema editor
MorvaneBuilder edits Morvane's schema files (the schema, its templates and
enumerations) and writes their C headers and empty XML data files as the
Morvane server does.")

set(_description_client "packed binary record layouts from XML schemas: C client library
The C client library of Morvane: connects to a Morvane server, asks for the
record size and layout of a schema, reads records filled from its data files
and writes records into session files.")
set(_description_client-dev "packed binary record layouts from XML schemas: C client development files
The header, the static library, the pkg-config file and the CMake package
of Morvane's C client library, for building programs that talk to a
Morvane server.")
set(_description_python "packed binary record layouts from XML schemas: Python client
The Python client of Morvane: connects to a Morvane server, reads schema
layouts and records, and writes records into session files, with the
standard library only.")

set(_doc ${CMAKE_SOURCE_DIR}/packaging/debian)
set(_out ${CMAKE_BINARY_DIR}/packaging)
configure_file(${_doc}/changelog.in ${_out}/changelog @ONLY)
add_custom_command(OUTPUT ${_out}/changelog.gz
  COMMAND ${MORVANE_GZIP} -9nkf ${_out}/changelog
  DEPENDS ${_out}/changelog
  COMMENT "Compressing the package changelog")
add_custom_target(package_changelog ALL DEPENDS ${_out}/changelog.gz)
foreach(_script postinst prerm postrm conffiles)
  configure_file(${_doc}/server.${_script} ${_out}/server/${_script} COPYONLY)
endforeach()

get_cmake_property(_components COMPONENTS)
list(REMOVE_ITEM _components Unspecified)
set(CPACK_COMPONENTS_ALL ${_components})
foreach(_c ${_components})
  if(DEFINED _pkg_${_c})
    set(_name ${_pkg_${_c}})
  else()
    set(_name morvane-${_c})
  endif()
  string(TOUPPER ${_c} _C)
  set(CPACK_DEBIAN_${_C}_PACKAGE_NAME ${_name})
  set(CPACK_DEBIAN_${_C}_FILE_NAME DEB-DEFAULT)
  if(DEFINED _section_${_c})
    set(CPACK_DEBIAN_${_C}_PACKAGE_SECTION ${_section_${_c}})
  endif()
  if(DEFINED _description_${_c})
    set(CPACK_DEBIAN_${_C}_DESCRIPTION "${_description_${_c}}")
  endif()
  install(FILES ${_doc}/copyright ${_out}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${_name} COMPONENT ${_c})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGE_NAME morvane)
set(CPACK_PACKAGE_VENDOR "Morvane")
set(CPACK_PACKAGE_CONTACT "${MORVANE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${MORVANE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "packed binary record layouts from XML schemas")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The build keeps its debugging information; the packages do not.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
  ${_out}/server/postinst ${_out}/server/prerm ${_out}/server/postrm ${_out}/server/conffiles)
# The client libraries' packages, once their components exist: the shared
# library's shlibs and ldconfig trigger, the development files beside the
# library of the same version, the Python package for every architecture.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/packaging/ldconfig-trigger.cmake)
set(CPACK_DEBIAN_CLIENT-DEV_PACKAGE_DEPENDS "libmorvane-client1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3")
# The editor draws its text with this font when the system offers no other,
# and uses the logger library of the server package.
set(CPACK_DEBIAN_BUILDER_PACKAGE_DEPENDS "morvane (= ${PROJECT_VERSION}), fonts-dejavu-core")
include(CPack)
