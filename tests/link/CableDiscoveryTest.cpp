// Finding the cable: the friendly-name rule, and sysfs enumeration on fake
// device trees.
#include "link/CableDiscovery.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "link/SerialPort.h"
#include "tests/common/FakeDeviceTree.h"

TEST(PickCable, TakesTheNumberOfTheFirstMatchingName) {
  EXPECT_EQ(PickCable({"Varnok Nissan DID-Uzorari Cable (COM7)"}), 7);
  EXPECT_EQ(PickCable({"Varnok DID-Uzorari (COM12)"}), 12);
  EXPECT_EQ(PickCable({"Varnok DID-Uzorari COM3"}), 3);  // no ")": up to the end
  EXPECT_EQ(PickCable({"Varnok DID-Uzorari (COM4)", "Varnok DID-Uzorari (COM5)"}), 4);
  // Not candidates, or candidates without both words: skipped.
  EXPECT_EQ(PickCable({"Acme DID-Uzorari (COM1)", "Varnok Modem (COM2)",
                       "Varnok DID-Uzorari (COM6)"}),
            6);
  EXPECT_EQ(PickCable({"Varnok did-uzorari (COM1)"}), 0);
  EXPECT_EQ(PickCable({"varnok DID-Uzorari (COM1)"}), 0);
  EXPECT_EQ(PickCable({}), 0);
  EXPECT_EQ(PickCable({"", "Printer (LPT1)"}), 0);
}

TEST(PickCable, TheFirstMatchDecidesEvenWithoutANumber) {
  // A matching name that names no port ends the search with 0.
  EXPECT_EQ(PickCable({"Varnok DID-Uzorari", "Varnok DID-Uzorari (COM2)"}), 0);
  for (const char* name : {"Varnok DID-Uzorari (COMx)", "Varnok DID-Uzorari (COM)",
                           "Varnok DID-Uzorari (COM 3)", "Varnok DID-Uzorari (COM-3)",
                           "Varnok DID-Uzorari (COM3 )", "Varnok DID-Uzorari (COM99999999999)"})
    EXPECT_EQ(PickCable({name, "Varnok DID-Uzorari (COM2)"}), 0) << name;
}

TEST(PickCable, LooksAtNoMoreThan1024Names) {
  std::vector<std::string> names(1023, "Keyboard");
  names.push_back("Varnok DID-Uzorari (COM9)");
  EXPECT_EQ(PickCable(names), 9);
  names.insert(names.begin(), "Mouse");
  EXPECT_EQ(PickCable(names), 0);
}

class CableDiscovery : public ::testing::Test {
 protected:
  FakeDeviceTree fake_;
  SerialPort map_;  // /dev/ttyUSB<n-1> until a test maps a slot into the fake tree
};

TEST_F(CableDiscovery, ListsInNaturalOrderAndTheFirstCableWins) {
  fake_.AddUsb("ttyUSB10", "Varnok", "DID-Uzorari Cable");
  fake_.AddUsb("ttyUSB2", "  Varnok\t", "DID-Uzorari Cable \r");
  fake_.AddPlain("ttyS0");
  map_.SetDevicePath(1, fake_.Node("ttyUSB10"));
  map_.SetDevicePath(2, fake_.Node("ttyUSB2"));

  const std::vector<SerialDevice> devices = ListSerialDevices(fake_.Tree(), map_);
  ASSERT_EQ(devices.size(), 3u);
  EXPECT_EQ(devices[0].ttyName, "ttyS0");
  EXPECT_FALSE(devices[0].usb);
  EXPECT_EQ(devices[0].friendlyName, "");
  EXPECT_EQ(devices[1].deviceNode, fake_.Node("ttyUSB2"));
  EXPECT_EQ(devices[1].friendlyName, "Varnok DID-Uzorari Cable (COM2)");  // strings trimmed
  EXPECT_EQ(devices[2].ttyName, "ttyUSB10");
  EXPECT_EQ(FindCable(fake_.Tree(), map_), 2);
}

TEST_F(CableDiscovery, ACableWithoutASlotHasNoNumber) {
  fake_.AddUsb("ttyACM0", "Varnok", "DID-Uzorari");
  const std::vector<SerialDevice> devices = ListSerialDevices(fake_.Tree(), map_);
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].friendlyName, "Varnok DID-Uzorari");
  EXPECT_EQ(FindCable(fake_.Tree(), map_), 0);
}

TEST_F(CableDiscovery, AStableNameInTheMapFindsItsNode) {
  fake_.AddUsb("ttyUSB0", "Varnok", "DID-Uzorari");
  map_.SetDevicePath(3, fake_.AddById("usb-Varnok_DID-Uzorari-if00-port0", "ttyUSB0"));
  EXPECT_EQ(FindCable(fake_.Tree(), map_), 3);
}

TEST_F(CableDiscovery, OnlyUsbNamesInTheRightCaseCount) {
  // A mainboard port on a slot has no friendly name to match.
  fake_.AddPlain("ttyS0");
  map_.SetDevicePath(1, fake_.Node("ttyS0"));
  fake_.AddUsb("ttyUSB0", "Varnok", "did-uzorari");
  map_.SetDevicePath(2, fake_.Node("ttyUSB0"));
  EXPECT_EQ(FindCable(fake_.Tree(), map_), 0);

  fake_.AddUsb("ttyUSB1", "Varnok", "DID-Uzorari");
  map_.SetDevicePath(4, fake_.Node("ttyUSB1"));
  EXPECT_EQ(FindCable(fake_.Tree(), map_), 4);
}

TEST_F(CableDiscovery, EmptyMissingAndBrokenTreesFindNothing) {
  EXPECT_TRUE(ListSerialDevices(fake_.Tree(), map_).empty());
  EXPECT_EQ(FindCable(fake_.Tree(), map_), 0);
  EXPECT_TRUE(ListSerialDevices({fake_.Root() + "/nothing", "/dev"}, map_).empty());
  EXPECT_EQ(FindCable({fake_.Root() + "/nothing", "/dev"}, map_), 0);

  // A device that vanished leaves a dangling link; an entry without a
  // device (a virtual console) is no serial device at all.
  const std::string tty = fake_.Tree().sysRoot + "/class/tty/";
  std::filesystem::create_directories(tty + "ttyUSB0");
  std::filesystem::create_symlink("../../../devices/usb1/gone", tty + "ttyUSB0/device");
  std::filesystem::create_directories(tty + "tty1");
  const std::vector<SerialDevice> devices = ListSerialDevices(fake_.Tree(), map_);
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].ttyName, "ttyUSB0");
  EXPECT_FALSE(devices[0].usb);
  EXPECT_EQ(FindCable(fake_.Tree(), map_), 0);
}
