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

// The port the serial tab uses, given the name in its box (saved or typed) and the ports found:
// that name while it is one of them or a path that exists (a pty, a link to an adapter); else
// the first port found; else nothing. A saved name of a port that is gone (or a "COM1" carried
// over from another system) is never kept, so a read never starts on a port that cannot exist.
std::string ChooseComPort(const std::string& current, const std::vector<std::string>& found);

} // namespace varnix
