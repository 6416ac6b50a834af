#pragma once
// varnix-sim --help: every option of the LAN, upgrade and serial sides (README.md has the detail).

namespace varnix::sim {

// Whether argv asks for the help (-h or --help anywhere).
bool wantsHelp(int argc, char** argv);
// The help text, ending with a newline.
const char* helpText();

} // namespace varnix::sim
