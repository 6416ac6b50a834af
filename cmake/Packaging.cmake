# Debian packages built by "cpack -G DEB" (scripts/package): "varnix" from the install component
# "main", "varnix-sim" from "sim", "varnix-ansible" from "ansible" (when ansible-galaxy was found).
# Included after cmake/Install.cmake.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varnix)
set(CPACK_PACKAGE_VENDOR "${VARNIX_MAINTAINER_NAME}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${VARNIX_PACKAGE_PREFIX})
set(CPACK_OUTPUT_FILE_PREFIX packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_THREADS 1)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL main sim)
if(VARNIX_ANSIBLE_COLLECTION_DIR)
  list(APPEND CPACK_COMPONENTS_ALL ansible)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VARNIX_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the shared libraries the programs link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_MAIN_PACKAGE_NAME varnix)
set(CPACK_DEBIAN_MAIN_PACKAGE_RECOMMENDS libcap2-bin)
# The SQLite driver of Qt Sql is a plugin, loaded at run time: dpkg-shlibdeps cannot see it.
set(CPACK_DEBIAN_MAIN_PACKAGE_DEPENDS "libqt6sql6-sqlite")
set(CPACK_DEBIAN_MAIN_PACKAGE_SUGGESTS "varnix-sim, wireshark | tshark")
# Description: a synopsis line, then the long text (lines of at most 80 characters).
set(CPACK_DEBIAN_MAIN_DESCRIPTION "configure serial-to-Ethernet device servers (VOR-Z modules)
Varnix finds VOR-Z serial-to-Ethernet modules on the local network, even
ones whose address lies in another subnet, or on a serial cable to their
configuration port. It shows and changes their network and serial settings
(address, ports, baud rate, work mode, heartbeat and more), restarts them,
restores factory settings, loads new firmware and tests the data path with
a small UDP and TCP tool.
.
The package holds the window (varnix, listed as Varnix in the desktop menu) and
the command-line tool varnix-cli for scripts and for setting up many modules
from a spreadsheet. Both may serve firmware upgrades on the low ports 9, 67
and 69 without root: installing gives them the capability
cap_net_bind_service (with setcap from libcap2-bin).
.
A Wireshark dissector for the module protocol comes with it, so captures the
programs write for support open decoded in Wireshark and tshark, and so do a
firewalld service and ufw application profiles (varnix, varnix-modules) that
let the modules' replies and a firmware upgrade through a host firewall.")

set(CPACK_DEBIAN_SIM_PACKAGE_NAME varnix-sim)
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SIM_DESCRIPTION "simulated VOR-Z modules for Varnix demonstrations and training
varnix-sim answers Varnix and varnix-cli like a set of real serial-to-Ethernet
modules: searches, reads, saves, restarts and factory resets. It binds
127.0.0.1 by default, so the program can be shown and tried without a module
and without touching the network.")

# The collection runs on the Ansible control node; varnix-cli runs on the segment hosts (which
# need the varnix package), so varnix is only suggested here.
set(CPACK_DEBIAN_ANSIBLE_PACKAGE_NAME varnix-ansible)
set(CPACK_DEBIAN_ANSIBLE_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_ANSIBLE_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_ANSIBLE_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_ANSIBLE_PACKAGE_DEPENDS "ansible-core (>= 2.14)")
set(CPACK_DEBIAN_ANSIBLE_PACKAGE_SUGGESTS varnix)
set(CPACK_DEBIAN_ANSIBLE_DESCRIPTION "Ansible collection varnix.vorz for VOR-Z modules on many sites
The collection lets Ansible configure VOR-Z serial-to-Ethernet modules on many
segments and sites. Its modules run varnix-cli on a host in each segment and
take its JSON output: vorz_facts finds the modules of a segment with their
fields and health findings, vorz_config gives them the fields they should have
(reading first, writing only what differs, verifying every save; check and
diff mode), vorz_firmware brings them to a firmware number, vorz_backup
snapshots them into a file, and an inventory plugin makes each module a host.
.
The segment hosts need the varnix package (varnix-cli).")

get_property(_low_port_programs GLOBAL PROPERTY VARNIX_LOW_PORT_PROGRAMS)
list(JOIN _low_port_programs " " VARNIX_CAP_PATHS)
configure_file(${PROJECT_SOURCE_DIR}/data/debian/postinst.in ${PROJECT_BINARY_DIR}/debian/main/postinst @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                                WORLD_EXECUTE)
# Files under /etc are the administrator's once installed (dpkg asks before replacing an edited one).
list(JOIN VARNIX_CONFFILES "\n" _conffiles)
file(WRITE ${PROJECT_BINARY_DIR}/debian/main/conffiles "${_conffiles}\n")
set(CPACK_DEBIAN_MAIN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/main/postinst
    ${PROJECT_BINARY_DIR}/debian/main/conffiles)

include(CPack)
