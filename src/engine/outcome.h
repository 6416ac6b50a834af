#pragma once
// How a piece of module work ended, from best to worst. When several modules are handled at
// once, the outcome of the whole is the worst one any of them had. varnix-cli exits with the
// number of its outcome (its README lists them); the window words each in its own language.

namespace varnix {

enum class TOutcome : int {
    Ok = 0,          // done, every datagram acknowledged (and verified, when verifying)
    NoAnswer = 1,    // a module did not answer, did not acknowledge, or could not be verified
    Usage = 2,       // unknown field, bad value, bad MAC, missing argument: nothing was sent
    Password = 3,    // a module answered 'P': user name or password wrong
    ModuleError = 4, // a module reported a checksum error or another error ('E')
    Local = 5,       // this PC could not do its part (a port could not be bound or used)
};

inline TOutcome Worse(TOutcome a, TOutcome b) {
    return static_cast<int>(a) >= static_cast<int>(b) ? a : b;
}
inline int ToInt(TOutcome e) {
    return static_cast<int>(e);
}

} // namespace varnix
