// torvane-cli ports: what cable discovery sees, and why it might not see
// the cable. The usual reasons are a node this user may not open and a
// cable whose node no COM slot names, so both are spelled out.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "data/Escape.h"
#include "link/CableDiscovery.h"
#include "link/SerialPort.h"
#include "tools/cli/CliCommands.h"

#include <fstream>

namespace {

enum class NodeAccess { kOpenable, kDenied, kMissing, kOtherError };

NodeAccess AccessOf(const std::string& node) {
  if (access(node.c_str(), R_OK | W_OK) == 0) return NodeAccess::kOpenable;
  const int error = errno;
  if (error == EACCES || error == EPERM) return NodeAccess::kDenied;
  struct stat st{};
  return stat(node.c_str(), &st) == 0 ? NodeAccess::kOtherError : NodeAccess::kMissing;
}

std::string AccessText(NodeAccess access) {
  switch (access) {
    case NodeAccess::kOpenable: return "can open";
    case NodeAccess::kDenied: return "cannot open (permission denied)";
    case NodeAccess::kMissing: return "no device node";
    case NodeAccess::kOtherError: break;
  }
  return "cannot open";
}

std::string Padded(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

bool NamesTheCable(const SerialDevice& device) {
  return device.usb && device.friendlyName.find("Varnok") != std::string::npos &&
         device.friendlyName.find("DID-Uzorari") != std::string::npos;
}

}  // namespace

int PortsCommand(const CliArguments& args) {
  SerialPort portMap;
  for (const auto& [slot, path] : args.maps) portMap.SetDevicePath(slot, path);
  DeviceTree tree;
  if (!args.sysRoot.empty()) tree.sysRoot = args.sysRoot;
  if (!args.devRoot.empty()) tree.devRoot = args.devRoot;

  const std::vector<SerialDevice> devices = ListSerialDevices(tree, portMap);
  if (devices.empty()) std::printf("No serial devices under %s/class/tty.\n", Escaped(tree.sysRoot).c_str());

  // The names come from the devices themselves: shown escaped.
  std::vector<std::string> names, nodes, slots;
  std::vector<NodeAccess> access;
  size_t nameWidth = 0, nodeWidth = 0, slotWidth = 0;
  for (const SerialDevice& device : devices) {
    names.push_back(device.usb ? Escaped(device.friendlyName) : "-");
    nodes.push_back(Escaped(device.deviceNode));
    slots.push_back(device.comNumber != 0 ? "COM" + std::to_string(device.comNumber)
                                          : "no COM slot");
    access.push_back(AccessOf(device.deviceNode));
    nameWidth = std::max(nameWidth, names.back().size());
    nodeWidth = std::max(nodeWidth, nodes.back().size());
    slotWidth = std::max(slotWidth, slots.back().size());
  }
  bool denied = false;
  for (size_t i = 0; i < devices.size(); ++i) {
    std::printf("%s  %s  %s  %s\n", Padded(names[i], nameWidth).c_str(),
                Padded(nodes[i], nodeWidth).c_str(),
                Padded(slots[i], slotWidth).c_str(), AccessText(access[i]).c_str());
    denied = denied || access[i] == NodeAccess::kDenied;
  }

  // FTDI-style adapters hold received bytes up to their latency timer
  // (16 ms unless set): longer than a record. Torvane asks for 1 ms when it
  // opens the port; the package's udev rule sets it as the cable appears.
  for (const SerialDevice& device : devices) {
    std::ifstream timer(tree.sysRoot + "/class/tty/" + device.ttyName + "/device/latency_timer");
    int ms = 0;
    if (!(timer >> ms)) continue;
    std::printf("%s: latency timer %d ms%s\n", Escaped(device.deviceNode).c_str(), ms,
                ms <= 1 ? "" : " (Torvane asks for 1 ms, low latency, when it opens the port)");
  }

  const int32_t cable = FindCable(tree, portMap);
  if (cable != 0) {
    std::printf("Cable found on COM%d.\n", cable);
  } else {
    std::printf("No cable found.\n");
    for (const SerialDevice& device : devices) {
      if (!NamesTheCable(device) || device.comNumber != 0) continue;
      std::printf("%s looks like the cable, but no COM slot names it. Give it one:\n"
                  "COMn=%s in the [Ports] section of tcon.ini (here: --map COMn=%s).\n",
                  Escaped(device.deviceNode).c_str(), Escaped(device.deviceNode).c_str(),
                  Escaped(device.deviceNode).c_str());
      break;
    }
  }
  if (denied)
    std::printf("This user may not open some of these devices. Join the dialout group:\n"
                "  sudo usermod -aG dialout \"$USER\"\n"
                "then log out and in again.\n");
  std::fflush(stdout);
  return cable != 0 ? kExitOk : kExitFailed;
}
