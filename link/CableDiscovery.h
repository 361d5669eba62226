#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "link/SerialPort.h"
struct DeviceTree {
  std::string sysRoot = "/sys";
  std::string devRoot = "/dev";
};
int32_t FindCable(const DeviceTree& tree, const SerialPort& portMap);
