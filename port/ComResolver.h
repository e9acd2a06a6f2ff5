#pragma once
// Turns a COM port number into the device node that stands for it.
//
// With VOLTRIX_DOSDEVICES set, that directory is the only source: COM<n>
// (any case) in it is a symbolic link to the device node; an empty value
// counts as unset. Without it, the platform numbers the machine's own ports:
// on Linux in a fixed order (see the README), COM1..COM4 the on-board UARTs
// /dev/ttyS0..3, COM5 and up the USB virtual COM ports (/dev/ttyACM*, then
// /dev/ttyUSB*, each in number order); on Windows COM<n> is the device
// \\.\COM<n>, and the USB ones are those of the registry's "\Device\VCP<n>".

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace voltrix {

struct ComResolution {
  std::string devicePath;  // empty when no device stands for the number
  std::string detail;      // why not, for the operator
};

class ComResolver {
 public:
  virtual ~ComResolver() = default;
  virtual ComResolution resolve(std::uint32_t portNumber) const = 0;
};

// The resolver of this machine: the override directory while
// VOLTRIX_DOSDEVICES names one, the platform's own numbering otherwise.
std::shared_ptr<const ComResolver> systemComResolver();

// Every port number resolves to the same device node (voltrix-cli --port),
// named as the operator names ports on this platform (platformPortDevice).
std::shared_ptr<const ComResolver> fixedDeviceResolver(std::string devicePath);

// The USB virtual COM ports of the default order, first one first, each with
// the COM number under which systemComResolver() finds it. Used by the
// device map so that "\Device\VCP0" names the first of them.
struct UsbComPort {
  std::uint32_t comNumber;
  std::string devicePath;
};
std::vector<UsbComPort> usbVirtualComPorts();

// What each platform's ComResolver_<platform>.cpp provides: its own
// numbering of the machine's ports, and the USB virtual COM ports under it.
std::shared_ptr<const ComResolver> platformComResolver();
std::vector<UsbComPort> platformUsbComPorts();
// The device to open for a port the operator named: a device node as given
// on Linux; on Windows "COM7" as well as "\\.\COM7" (the form that ports
// 10 and up need).
std::string platformPortDevice(const std::string& named);

}  // namespace voltrix
