#include "link/CableDiscovery.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <filesystem>
#include <fstream>

#include "link/SerialPort.h"

namespace fs = std::filesystem;

namespace {

// The port number between "COM" and ")". Only plain digits count: a sign,
// a blank or a number too large for 32 bits is "not a number", since the
// result must be a port number or 0.
int32_t ComNumberOf(const std::string& name) {
  const size_t com = name.find("COM");
  if (com == std::string::npos) return 0;
  const size_t from = com + 3;
  const size_t close = name.find(')', from);
  const size_t length = close == std::string::npos ? std::string::npos : close - from;
  const std::string text = name.substr(from, length);
  if (text.empty() || text.size() > 10) return 0;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  return value > INT32_MAX ? 0 : static_cast<int32_t>(value);
}

// "ttyUSB2" before "ttyUSB10": runs of digits compare by their value.
bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const bool digitA = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
    const bool digitB = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
    if (digitA && digitB) {
      size_t endA = i, endB = j;
      while (endA < a.size() && std::isdigit(static_cast<unsigned char>(a[endA]))) ++endA;
      while (endB < b.size() && std::isdigit(static_cast<unsigned char>(b[endB]))) ++endB;
      // Without leading zeros, the shorter run is the smaller number.
      size_t startA = i, startB = j;
      while (startA + 1 < endA && a[startA] == '0') ++startA;
      while (startB + 1 < endB && b[startB] == '0') ++startB;
      const std::string runA = a.substr(startA, endA - startA);
      const std::string runB = b.substr(startB, endB - startB);
      if (runA.size() != runB.size()) return runA.size() < runB.size();
      if (runA != runB) return runA < runB;
      i = endA;
      j = endB;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  if (a.size() - i != b.size() - j) return a.size() - i < b.size() - j;
  return a < b;  // "tty01" and "tty1" still get one fixed order
}

std::string Trimmed(const std::string& text) {
  const char* blanks = " \t\r\n\v\f";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// A sysfs attribute is at most a page; anything longer is not one.
bool ReadAttribute(const fs::path& path, std::string& value) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  char buffer[4096];
  in.read(buffer, sizeof buffer);
  if (in.bad()) return false;
  value = Trimmed(std::string(buffer, static_cast<size_t>(in.gcount())));
  return true;
}

bool IsFile(const fs::path& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

// Walks up from the tty's device to the first directory with both USB
// strings, without leaving the sysfs tree.
void FindUsbStrings(const fs::path& device, const fs::path& sysRoot, SerialDevice& out) {
  for (fs::path dir = device; dir != sysRoot && dir.has_relative_path(); dir = dir.parent_path()) {
    const auto [end, rest] = std::mismatch(sysRoot.begin(), sysRoot.end(), dir.begin(), dir.end());
    if (end != sysRoot.end()) return;  // outside the tree
    if (IsFile(dir / "manufacturer") && IsFile(dir / "product")) {
      std::string manufacturer, product;
      if (!ReadAttribute(dir / "manufacturer", manufacturer) ||
          !ReadAttribute(dir / "product", product))
        return;
      out.usb = true;
      out.manufacturer = manufacturer;
      out.product = product;
      return;
    }
  }
}

// Two paths name one device when they resolve to the same file; a path
// that does not resolve is compared as written.
std::string Resolved(const std::string& path) {
  std::error_code ec;
  const fs::path real = fs::canonical(path, ec);
  return ec ? path : real.string();
}

int32_t SlotOf(const std::string& deviceNode, const SerialPort& portMap) {
  const std::string node = Resolved(deviceNode);
  for (int32_t n = 1; n <= SerialPort::kSlotCount; ++n) {
    const std::string mapped = portMap.DevicePath(n);
    if (!mapped.empty() && Resolved(mapped) == node) return n;
  }
  return 0;
}

std::vector<SerialDevice> ListOrThrow(const DeviceTree& tree, const SerialPort& portMap) {
  std::error_code ec;
  const fs::path sysRoot = fs::canonical(tree.sysRoot, ec);
  if (ec) return {};
  std::vector<std::string> names;
  const fs::path ttyClass = sysRoot / "class" / "tty";
  for (fs::directory_iterator it(ttyClass, ec), end; !ec && it != end; it.increment(ec)) {
    // A broken device link still marks a tty the kernel knows; it just
    // has no USB strings to show.
    std::error_code linkError;
    if (fs::exists(fs::symlink_status(it->path() / "device", linkError)))
      names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end(), NaturalLess);

  std::vector<SerialDevice> devices;
  for (const std::string& name : names) {
    SerialDevice device;
    device.ttyName = name;
    device.deviceNode = tree.devRoot + "/" + name;
    std::error_code deviceError;
    const fs::path resolved = fs::canonical(ttyClass / name / "device", deviceError);
    if (!deviceError) FindUsbStrings(resolved, sysRoot, device);
    device.comNumber = SlotOf(device.deviceNode, portMap);
    if (device.usb) {
      device.friendlyName = device.manufacturer + " " + device.product;
      if (device.comNumber != 0)
        device.friendlyName += " (COM" + std::to_string(device.comNumber) + ")";
    }
    devices.push_back(std::move(device));
  }
  return devices;
}

}  // namespace

int32_t PickCable(const std::vector<std::string>& friendlyNames) {
  const size_t count = std::min(friendlyNames.size(), kMaxFriendlyNames);
  for (size_t i = 0; i < count; ++i) {
    const std::string& name = friendlyNames[i];
    if (name.find("Varnok") == std::string::npos) continue;
    if (name.find("DID-Uzorari") == std::string::npos) continue;
    return ComNumberOf(name);
  }
  return 0;
}

std::vector<SerialDevice> ListSerialDevices(const DeviceTree& tree, const SerialPort& portMap) {
  // A device that vanishes halfway, or a tree that is not sysfs at all,
  // means "nothing found", never an error escaping into the window.
  try {
    return ListOrThrow(tree, portMap);
  } catch (const std::exception&) {
    return {};
  }
}

int32_t FindCable(const DeviceTree& tree, const SerialPort& portMap) {
  std::vector<std::string> names;
  for (const SerialDevice& device : ListSerialDevices(tree, portMap))
    if (device.usb && names.size() < kMaxFriendlyNames) names.push_back(device.friendlyName);
  return PickCable(names);
}
