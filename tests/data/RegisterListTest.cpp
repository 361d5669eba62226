#include <gtest/gtest.h>

#include "control/RegisterChoice.h"
#include "data/RegisterList.h"

namespace {

TEST(RegisterList, ParsesNumbersNamesAndValueKeysWithinTheFrameBudget) {
  RegisterMask mask = 0;
  std::string error;
  ASSERT_TRUE(ParseRegisters(" rpm, 0x11 ,fuel temperature,1c", mask, error)) << error;
  EXPECT_EQ(mask, MaskOf(0x00) | MaskOf(0x01) | MaskOf(0x11) | MaskOf(0x0F) | MaskOf(0x1C));
  RegisterList list;
  ASSERT_TRUE(MakeRegisterList(mask, list));
  // Catalogue order: the eighteen's first.
  EXPECT_EQ(list.Number(0), 0x00);
  EXPECT_EQ(list.Number(4), 0x1C);

  EXPECT_FALSE(ParseRegisters("rpm,0x99", mask, error));
  EXPECT_NE(error.find("0x99"), std::string::npos);
  EXPECT_FALSE(ParseRegisters(",", mask, error));
  // The eighteen and three more: 21 bytes.
  EXPECT_FALSE(ParseRegisters(RegisterNumbers(kEighteenMask) + ",11,0F,10", mask, error));
  EXPECT_EQ(error, "21 registers: a frame carries at most 20");
  EXPECT_TRUE(ParseRegisters(RegisterNumbers(kEighteenMask) + ",11,0F", mask, error));
  EXPECT_FALSE(MakeRegisterList(0, list));
}

TEST(RegisterList, FrameRateFollowsTheFrameLength) {
  EXPECT_DOUBLE_EQ(FramesPerSecond(18), 48.0);
  EXPECT_DOUBLE_EQ(FramesPerSecond(10), 80.0);
  EXPECT_NEAR(FramesPerSecond(20), 43.6, 0.05);
}

TEST(RegisterList, TheChoiceIsKeptPerEcuAndABrokenOneReadsAsTheEighteen) {
  IniFile ini("tcon.ini", "[Registers]\n23710-AAAAA=00,01,11\n23710-BBBBB=00,zz\n");
  EXPECT_EQ(ReadRegisterChoice(ini, "23710-AAAAA"), MaskOf(0x00) | MaskOf(0x01) | MaskOf(0x11));
  EXPECT_EQ(ReadRegisterChoice(ini, "23710-BBBBB"), kEighteenMask);
  EXPECT_EQ(ReadRegisterChoice(ini, "23710-CCCCC"), kEighteenMask);
  WriteRegisterChoice(ini, "", MaskOf(0x11));
  EXPECT_EQ(ReadRegisterChoice(ini, ""), MaskOf(0x11));
  EXPECT_EQ(ReadRegisterChoice(ini, "23710-AAAAA"), MaskOf(0x00) | MaskOf(0x01) | MaskOf(0x11));
}

}  // namespace
