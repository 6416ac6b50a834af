# What an installed Varnix consists of, in the GNU layout (/usr/bin, /usr/share/...), split into
# two install components: "main" (the window, the command-line tool and their desktop files) and
# "sim" (the module simulator). Included from the top level after every target exists.
#
# A new program joins with one line at the end of this file:
#   varnix_install_program(TARGET COMPONENT main|sim [LOW_PORTS])
# LOW_PORTS: the package gives it cap_net_bind_service (binding ports below 1024).
# A man page data/man/TARGET.1.in, when present, is installed with it. tests/package/check-deb
# lists every file of each package; add the new program's files there too.
include(GNUInstallDirs)

# The desktop id: names the .desktop file, the metainfo file and the icon, and is the program's
# desktop file name (src/main.cpp) so that docks find the icon of the running window.
set(VARNIX_APP_ID org.varnix.Varnix)
set(VARNIX_MAINTAINER_NAME "Varnix developers" CACHE STRING "Package maintainer's name")
set(VARNIX_MAINTAINER_EMAIL "varnix@example.org" CACHE STRING "Package maintainer's address")
set(VARNIX_MAINTAINER "${VARNIX_MAINTAINER_NAME} <${VARNIX_MAINTAINER_EMAIL}>")
# Dates in the metainfo, man pages and changelog: SOURCE_DATE_EPOCH when set (scripts/package
# sets the last commit's time, so a package rebuilt from the same commit is the same), else now.
string(TIMESTAMP VARNIX_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP VARNIX_COPYRIGHT_YEAR "%Y" UTC)
string(TIMESTAMP VARNIX_RELEASE_RFC2822 "%a, %d %b %Y %H:%M:%S +0000" UTC)
# Programs are packaged under /usr whatever CMAKE_INSTALL_PREFIX a plain "cmake --install" uses.
set(VARNIX_PACKAGE_PREFIX /usr)

set(_data ${PROJECT_SOURCE_DIR}/data)
set(_gen ${PROJECT_BINARY_DIR}/data)
# Everything a package needs built; scripts/package builds this target only.
add_custom_target(varnix_package_files)

# Per component: the Debian package's own /usr/share/doc directory with copyright and changelog.
# An optional third argument is the changelog's summary of what the release brings.
function(varnix_install_docs component package)
  set(VARNIX_CHANGELOG_PACKAGE ${package})
  set(VARNIX_CHANGELOG_TEXT "the Varnix window, varnix-cli and the module simulator")
  if(ARGC GREATER 2)
    set(VARNIX_CHANGELOG_TEXT "${ARGV2}")
  endif()
  configure_file(${_data}/debian/changelog.in ${_gen}/${package}/changelog @ONLY)
  configure_file(${_data}/debian/copyright.in ${_gen}/${package}/copyright @ONLY)
  add_custom_command(OUTPUT ${_gen}/${package}/changelog.gz
    COMMAND gzip -9nc ${_gen}/${package}/changelog > ${_gen}/${package}/changelog.gz
    DEPENDS ${_gen}/${package}/changelog VERBATIM)
  add_custom_target(varnix_docs_${component} DEPENDS ${_gen}/${package}/changelog.gz)
  add_dependencies(varnix_package_files varnix_docs_${component})
  install(FILES ${_gen}/${package}/changelog.gz ${_gen}/${package}/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endfunction()

function(varnix_install_program target)
  cmake_parse_arguments(P "LOW_PORTS" "COMPONENT" "" ${ARGN})
  if(NOT TARGET ${target})
    message(STATUS "install: ${target} is not part of this build; not installed")
    return()
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${P_COMPONENT})
  add_dependencies(varnix_package_files ${target})
  if(P_LOW_PORTS)
    set_property(GLOBAL APPEND PROPERTY VARNIX_LOW_PORT_PROGRAMS
                 ${VARNIX_PACKAGE_PREFIX}/${CMAKE_INSTALL_BINDIR}/${target})
  endif()
  if(EXISTS ${_data}/man/${target}.1.in)
    configure_file(${_data}/man/${target}.1.in ${_gen}/man/${target}.1 @ONLY)
    add_custom_command(OUTPUT ${_gen}/man/${target}.1.gz
      COMMAND gzip -9nc ${_gen}/man/${target}.1 > ${_gen}/man/${target}.1.gz
      DEPENDS ${_gen}/man/${target}.1 VERBATIM)
    add_custom_target(varnix_man_${target} DEPENDS ${_gen}/man/${target}.1.gz)
    add_dependencies(varnix_package_files varnix_man_${target})
    install(FILES ${_gen}/man/${target}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${P_COMPONENT})
  endif()
endfunction()

# Desktop entry, AppStream metainfo and the icon: scalable SVG plus PNGs rendered from it.
function(varnix_install_desktop_files component)
  install(FILES ${_data}/${VARNIX_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
          COMPONENT ${component})
  configure_file(${_data}/${VARNIX_APP_ID}.metainfo.xml.in ${_gen}/${VARNIX_APP_ID}.metainfo.xml @ONLY)
  install(FILES ${_gen}/${VARNIX_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
          COMPONENT ${component})
  set(svg ${_data}/icons/${VARNIX_APP_ID}.svg)
  install(FILES ${svg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT ${component})
  find_program(VARNIX_RSVG_CONVERT rsvg-convert)
  if(NOT VARNIX_RSVG_CONVERT)
    message(WARNING "rsvg-convert (package librsvg2-bin) not found: the PNG icons are not built")
    return()
  endif()
  set(pngs "")
  foreach(size 16 22 24 32 48 64 128 256)
    set(png ${_gen}/icons/${size}x${size}/${VARNIX_APP_ID}.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_gen}/icons/${size}x${size}
      COMMAND ${VARNIX_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${svg}
      DEPENDS ${svg} VERBATIM)
    list(APPEND pngs ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            COMPONENT ${component})
  endforeach()
  add_custom_target(varnix_icons DEPENDS ${pngs})
  add_dependencies(varnix_package_files varnix_icons)
endfunction()

# The Wireshark dissector of the module protocol (data/wireshark/vorz.lua), in the folder where
# Debian's Wireshark loads Lua plugins: the "Global Lua Plugins" line of `tshark -G folders`, or,
# without tshark at configure time, Debian's multiarch folder that line names.
function(varnix_install_dissector component)
  if(CMAKE_LIBRARY_ARCHITECTURE)
    set(folder lib/${CMAKE_LIBRARY_ARCHITECTURE}/wireshark/plugins)
  else()
    set(folder lib/wireshark/plugins)
  endif()
  find_program(VARNIX_TSHARK tshark)
  if(VARNIX_TSHARK)
    execute_process(COMMAND ${VARNIX_TSHARK} -G folders OUTPUT_VARIABLE folders ERROR_QUIET
                    RESULT_VARIABLE status)
    if(status EQUAL 0 AND folders MATCHES "Global Lua Plugins:[ \t]*${VARNIX_PACKAGE_PREFIX}/([^\n]+)")
      string(STRIP "${CMAKE_MATCH_1}" folder)
    endif()
  endif()
  install(FILES ${_data}/wireshark/vorz.lua DESTINATION ${folder} COMPONENT ${component})
endfunction()

# The Ansible collection varnix.vorz (ansible/), built by ansible-galaxy and installed as
# ansible-galaxy installs it (with its MANIFEST.json and FILES.json) into Ansible's system
# collection path: the entry under the package prefix of the default COLLECTIONS_PATHS that
# `ansible-config dump` names. Without ansible-galaxy at configure time there is no collection
# and no varnix-ansible package. Sets VARNIX_ANSIBLE_COLLECTION_DIR in the caller's scope.
function(varnix_install_ansible_collection component)
  set(VARNIX_ANSIBLE_COLLECTION_DIR "" PARENT_SCOPE)
  find_program(VARNIX_ANSIBLE_GALAXY ansible-galaxy)
  find_program(VARNIX_ANSIBLE_CONFIG ansible-config)
  if(NOT VARNIX_ANSIBLE_GALAXY OR NOT VARNIX_ANSIBLE_CONFIG)
    message(STATUS "install: ansible-galaxy not found (package ansible-core); no varnix-ansible package")
    return()
  endif()
  set(src ${PROJECT_SOURCE_DIR}/ansible)
  # The collection's version is the program's, in the three numbers Galaxy allows.
  file(STRINGS ${src}/galaxy.yml galaxy_version REGEX "^version:")
  string(REGEX REPLACE "^version:[ \t]*" "" galaxy_version "${galaxy_version}")
  set(wanted ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
  if(NOT galaxy_version STREQUAL wanted)
    message(FATAL_ERROR "ansible/galaxy.yml has version ${galaxy_version}; the program is ${PROJECT_VERSION}, "
                        "so the collection must be ${wanted}")
  endif()
  # Ansible's defaults, not this machine's ansible.cfg or environment.
  set(work ${_gen}/ansible)
  file(MAKE_DIRECTORY ${work}/home)
  file(WRITE ${work}/empty.cfg "")
  set(ansible_env ${CMAKE_COMMAND} -E env --unset=ANSIBLE_COLLECTIONS_PATH --unset=ANSIBLE_COLLECTIONS_PATHS
                  HOME=${work}/home ANSIBLE_CONFIG=${work}/empty.cfg ANSIBLE_NOCOLOR=1)
  execute_process(COMMAND ${ansible_env} ${VARNIX_ANSIBLE_CONFIG} dump OUTPUT_VARIABLE dump ERROR_QUIET
                  RESULT_VARIABLE status)
  set(folder share/ansible/collections)
  if(status EQUAL 0 AND dump MATCHES "COLLECTIONS_PATHS[^\n]*'${VARNIX_PACKAGE_PREFIX}/([^']+)'")
    set(folder ${CMAKE_MATCH_1})
  endif()
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${src}/*)
  set(tarball ${work}/varnix-vorz-${wanted}.tar.gz)
  set(tree ${work}/tree/ansible_collections/varnix/vorz)
  add_custom_command(OUTPUT ${tree}/MANIFEST.json
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${work}/tree ${tarball}
    COMMAND ${ansible_env} ${VARNIX_ANSIBLE_GALAXY} collection build --output-path ${work} ${src}
    COMMAND ${ansible_env} ${VARNIX_ANSIBLE_GALAXY} collection install --offline -p ${work}/tree ${tarball}
    DEPENDS ${sources} VERBATIM)
  add_custom_target(varnix_ansible_collection DEPENDS ${tree}/MANIFEST.json)
  add_dependencies(varnix_package_files varnix_ansible_collection)
  install(DIRECTORY ${tree} DESTINATION ${folder}/ansible_collections/varnix COMPONENT ${component})
  install(FILES ${_data}/debian/varnix-ansible.lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
          RENAME varnix-ansible COMPONENT ${component})
  set(VARNIX_ANSIBLE_COLLECTION_DIR ${folder} PARENT_SCOPE)
endfunction()

# Firewall rules for the modules' replies (UDP from their ports 1500 and 1901) and a firmware
# upgrade's ports (67, 69, 40300): the firewalld service "varnix" where packages put theirs, and the
# ufw application profiles "varnix" and "varnix-modules" where ufw reads them (/etc only, so the
# file is a conffile: cmake/Packaging.cmake lists it).
function(varnix_install_firewall component)
  install(FILES ${_data}/firewall/varnix.xml DESTINATION lib/firewalld/services COMPONENT ${component})
  install(FILES ${_data}/firewall/varnix.ufw DESTINATION /etc/ufw/applications.d RENAME varnix
          COMPONENT ${component})
  set(VARNIX_CONFFILES /etc/ufw/applications.d/varnix PARENT_SCOPE)
endfunction()

varnix_install_docs(main varnix)
varnix_install_firewall(main)
varnix_install_docs(sim varnix-sim)
varnix_install_ansible_collection(ansible)
if(VARNIX_ANSIBLE_COLLECTION_DIR)
  varnix_install_docs(ansible varnix-ansible "the Ansible collection varnix.vorz")
endif()
varnix_install_desktop_files(main)
varnix_install_dissector(main)
varnix_install_program(varnix COMPONENT main LOW_PORTS)
varnix_install_program(varnix-cli COMPONENT main LOW_PORTS)
# The simulator answers module searches; it is for demonstrations and training, so it comes in
# its own package that a technician's machine need not have.
varnix_install_program(varnix-sim COMPONENT sim)
