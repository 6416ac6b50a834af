#pragma once
// Exit status of varnix-cli. When several modules are handled in one run, the status is the
// highest one any of them produced (a usage error is found before anything is sent).

namespace varnix {

enum class TExit : int {
    Ok = 0,          // done, and every datagram acknowledged (and verified, when verifying)
    NoAnswer = 1,    // a module did not answer, did not acknowledge, or could not be verified
    Usage = 2,       // unknown field, bad value, bad MAC, missing argument: nothing was sent
    Password = 3,    // a module answered 'P': user name or password wrong
    ModuleError = 4, // a module reported a checksum error or another error ('E')
    Local = 5,       // this PC could not do its part (a port could not be bound or used)
};

inline TExit Worse(TExit a, TExit b) {
    return static_cast<int>(a) >= static_cast<int>(b) ? a : b;
}
inline int ToInt(TExit e) {
    return static_cast<int>(e);
}

} // namespace varnix
