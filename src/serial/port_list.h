#pragma once
// The PC's serial ports, from the kernel's tty class directory: USB adapters (ttyUSB, ttyACM),
// on-board UARTs (ttyS with a real UART behind it, ttyAMA) and Bluetooth serial links (rfcomm).
// Names come back as full device paths, sorted naturally (ttyUSB2 before ttyUSB10).

#include <string>
#include <vector>

namespace varnix {

// sysClassTty is "/sys/class/tty" outside tests; devDir is where the device nodes live.
std::vector<std::string> GetComPortList(const std::string& sysClassTty = "/sys/class/tty",
                                        const std::string& devDir = "/dev");

} // namespace varnix
