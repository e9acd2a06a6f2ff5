#pragma once
// Exit codes of voltrix-cli: one per kind of failure, so a factory script can
// tell what went wrong without reading the text.

namespace voltrix {

inline constexpr int kExitOk = 0;               // every segment verified
inline constexpr int kExitInternal = 1;         // the worker could not be started
inline constexpr int kExitUsage = 2;            // bad command line
inline constexpr int kExitImageMissing = 3;     // sysbin.bin missing or unreadable
inline constexpr int kExitImageInvalid = 4;     // no segment, too many, or a damaged segment
inline constexpr int kExitNoDevice = 5;         // no device attached / device map unreadable
inline constexpr int kExitPortUnavailable = 6;  // port cannot be opened (permission, busy, gone)
inline constexpr int kExitDeviceRefused = 7;    // the device refused a header or a block
inline constexpr int kExitDeviceSilent = 8;     // silent, gone away, or --timeout ran out
inline constexpr int kExitVerifyFailed = 9;     // read-back differs from the image
inline constexpr int kExitFileError = 10;       // a temporary file could not be made or read
inline constexpr int kExitCancelled = 11;       // Ctrl+C (or SIGTERM)

}  // namespace voltrix
