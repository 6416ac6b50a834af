#include "help.h"

#include <cstring>

namespace varnix::sim {

bool wantsHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return true;
    return false;
}

const char* helpText() {
    return "usage: varnix-sim [options]            simulated modules on the LAN\n"
           "       varnix-sim --serial FAMILY [serial options]   one module on a pseudo-terminal\n"
           "\n"
           "LAN options:\n"
           "  --bind ADDR               address of the module sockets (default 127.0.0.1)\n"
           "  --iface NAME[,NAME]       with --bind 0.0.0.0: answer only what arrived on these interfaces\n"
           "  --reply broadcast|unicast how to answer a datagram from a served interface (default "
           "broadcast)\n"
           "  --port-z2 PORT            the Z2 port instead of 1500\n"
           "  --port-z3 PORT            the Z3 port instead of 1901\n"
           "  --module FAMILY:MAC:IP:NAME:FIRMWARE\n"
           "                            one module (repeatable); FAMILY z2, z3, other193, other256\n"
           "  --generate N              N more Z2 modules (up to 60000)\n"
           "  --config FILE.json        modules and options from a JSON file\n"
           "  --drop SHARE              drop this share (0..1) of datagrams at random\n"
           "  --seed N                  seed of the drop generator (default 1)\n"
           "  --vary-seed N             seed of the bytes the program must not interpret\n"
           "  --state FILE              write the state as JSON after every change\n"
           "  --journal FILE            append one JSON line per datagram received\n"
           "  --restart-ms MS           silence after a restart (default 300)\n"
           "  --reset-to factory|started what a factory reset restores (default started)\n"
           "  --duration SECONDS        stop by itself after this time\n"
           "\n"
           "Firmware upgrade (module side):\n"
           "  --upgrade-mac MAC         play the upgrade side of one module of that MAC\n"
           "  --upgrade-fleet           every module of the fleet can be upgraded\n"
           "  --upgrade-out FILE        where the --upgrade-mac module's image is written\n"
           "  --upgrade-out-dir DIR     each module's image as DIR/<MAC>.bin\n"
           "  --upgrade-iface NAME      upgrade datagrams only on this interface\n"
           "  --upgrade-firmware N      firmware number after an upgrade (default: +1)\n"
           "  --upgrade-loader-ms MS    silence after which a loader gives up (default 30000)\n"
           "  --upgrade-signature HEX   the boot request's 4-byte signature (default 5A321007)\n"
           "  --upgrade-byte26 N        the boot request's byte 26\n"
           "  --upgrade-drop-blocks SHARE, --upgrade-drop-acks SHARE, --upgrade-seed N\n"
           "                            ignore a share of blocks, leave a share of acknowledgements unsent\n"
           "  --upgrade-drop-last-acks N  lose the first N acknowledgements of the last block\n"
           "  --upgrade-stop-after N    answer nothing after N blocks\n"
           "\n"
           "Serial options (with --serial z1|z2|z3):\n"
           "  --link PATH               a symbolic link to the pseudo-terminal (removed at exit)\n"
           "  --split-ms MS             send every reply in two halves MS ms apart\n"
           "  --bad-checksum            the read reply carries a wrong checksum\n"
           "  --silent                  record frames, answer nothing\n"
           "  --z1-body HEX, --base HEX, --port HEX, --cloud HEX, --heart HEX\n"
           "                            start values of the blocks\n"
           "  --state FILE, --vary-seed N, --duration SECONDS   as on the LAN\n"
           "\n"
           "  -h, --help                this help\n"
           "\n"
           "Prints \"varnix-sim: ready\" once its sockets are bound and runs until SIGTERM or SIGINT.\n"
           "Exit status: 0 when stopped, 2 for a bad option or a socket it could not bind.\n";
}

} // namespace varnix::sim
