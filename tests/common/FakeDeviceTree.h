// A small sysfs and /dev in a temporary folder, shaped like the kernel's:
// sys/class/tty/<tty>/device is a relative link into sys/devices, a USB
// adapter's manufacturer and product files sit on its USB device two
// levels above the tty, and dev/<tty> is a plain file standing for the node.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "link/CableDiscovery.h"
#include "tests/common/TempDir.h"

class FakeDeviceTree {
 public:
  FakeDeviceTree() : root_(folder_.Root()) {
    std::filesystem::create_directories(root_ + "/sys/class/tty");
    std::filesystem::create_directories(root_ + "/dev");
  }
  FakeDeviceTree(const FakeDeviceTree&) = delete;
  FakeDeviceTree& operator=(const FakeDeviceTree&) = delete;

  DeviceTree Tree() const { return {root_ + "/sys", root_ + "/dev"}; }
  std::string Node(const std::string& tty) const { return root_ + "/dev/" + tty; }
  std::string Root() const { return root_; }

  // A USB serial adapter on a port of its own. The strings get the
  // newline sysfs ends them with.
  void AddUsb(const std::string& tty, const std::string& manufacturer, const std::string& product) {
    const std::string usb = "usb1/1-" + std::to_string(++usbPorts_);
    const std::string device = usb + "/" + usb.substr(5) + ":1.0/" + tty;
    AddTty(tty, device);
    Write("sys/devices/" + usb + "/manufacturer", manufacturer + "\n");
    Write("sys/devices/" + usb + "/product", product + "\n");
  }
  // A serial port on the mainboard: a device, but no USB strings.
  void AddPlain(const std::string& tty) { AddTty(tty, "platform/serial8250/" + tty); }

  // A stable name for a node, as udev makes under /dev/serial/by-id.
  std::string AddById(const std::string& name, const std::string& tty) {
    std::filesystem::create_directories(root_ + "/dev/serial/by-id");
    const std::string link = root_ + "/dev/serial/by-id/" + name;
    std::filesystem::create_symlink("../../" + tty, link);
    return link;
  }

 private:
  void AddTty(const std::string& tty, const std::string& device) {
    std::filesystem::create_directories(root_ + "/sys/devices/" + device);
    std::filesystem::create_directories(root_ + "/sys/class/tty/" + tty);
    std::filesystem::create_symlink("../../../devices/" + device,
                                    root_ + "/sys/class/tty/" + tty + "/device");
    Write("dev/" + tty, "");
  }
  void Write(const std::string& path, const std::string& text) {
    std::ofstream(root_ + "/" + path, std::ios::binary) << text;
  }

  TempDir folder_;
  std::string root_;
  int usbPorts_ = 0;
};
