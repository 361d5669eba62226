// Finding the DID-Uzorari cable among the serial devices that are present.
//
// The cable is recognised by its friendly name: the maker's name "Varnok",
// the words "DID-Uzorari" and the COM port it was given, closed by ")",
// as in "Varnok Nissan DID-Uzorari Cable (COM7)". On Linux the friendly
// name of a USB serial device is built from the USB manufacturer and
// product strings in sysfs, followed by the COM slot of the port map that
// names its device node. Nothing here opens a device or changes state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class SerialPort;

// No more friendly names than this are looked at.
constexpr size_t kMaxFriendlyNames = 1024;

// The COM number named by the first friendly name that holds "Varnok" and
// "DID-Uzorari" (both case-sensitive), read from the text between the
// first "COM" and the next ")" (or the end). 0 when that text is not a
// plain decimal number, when the name has no "COM", or when no name
// matches. Names after the first match are not looked at.
int32_t PickCable(const std::vector<std::string>& friendlyNames);

// Where the device tree lives; tests point these at a fake tree.
struct DeviceTree {
  std::string sysRoot = "/sys";
  std::string devRoot = "/dev";
};

struct SerialDevice {
  std::string ttyName;     // "ttyUSB0"
  std::string deviceNode;  // devRoot + "/" + ttyName
  bool usb = false;        // a USB device with manufacturer and product strings above it
  std::string manufacturer, product;  // the USB strings, trimmed
  int32_t comNumber = 0;   // the port-map slot (1..10) whose device path is this node; 0 none
  std::string friendlyName;  // usb only: manufacturer + " " + product [+ " (COMn)"]
};

// Every tty in <sysRoot>/class/tty that has a device behind it, in
// natural order of the names (ttyUSB2 before ttyUSB10). An unreadable tree
// gives an empty list.
std::vector<SerialDevice> ListSerialDevices(const DeviceTree& tree, const SerialPort& portMap);

// PickCable over the friendly names of the USB devices, in list order.
int32_t FindCable(const DeviceTree& tree, const SerialPort& portMap);
