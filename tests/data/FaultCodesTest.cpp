#include "data/FaultCodes.h"

#include <gtest/gtest.h>

TEST(FaultCodes, TheByteReadsAsTheLampsTwoDigits) {
  EXPECT_EQ(FaultCodeNumber(0x12), 12);
  EXPECT_EQ(FaultCodeNumber(0x55), 55);
  EXPECT_EQ(FaultCodeNumber(0x99), 99);
  EXPECT_EQ(FaultCodeNumber(0x00), 0);
  EXPECT_EQ(FaultCodeNumber(0x1A), -1);  // a digit beyond 9 has no lamp code
  EXPECT_EQ(FaultCodeNumber(0xA1), -1);
  EXPECT_EQ(FaultCodeText(0x05), "05");
  EXPECT_EQ(FaultCodeText(0xA3), "--");
  EXPECT_EQ(FaultCodeRawText(0x0C), "0x0C");
  EXPECT_STREQ(FaultCodeMeaningOf(0x12), "air flow meter");
  EXPECT_STREQ(FaultCodeMeaningOf(0x63), "misfire cylinder 6");
  EXPECT_STREQ(FaultCodeMeaningOf(0x68), "misfire cylinder 1");
  EXPECT_STREQ(FaultCodeMeaningOf(0x99), kUnknownFaultCode);  // decimal, but not in the table
  EXPECT_STREQ(FaultCodeMeaningOf(0x0C), kUnknownFaultCode);  // 12 read as a plain number is not 12
}

TEST(FaultCodes, PairsAndTheNoMalfunctionAnswer) {
  std::vector<FaultCode> codes;
  const uint8_t none[] = {0x55, 0x00};
  EXPECT_TRUE(DecodeFaultCodes(none, 2, codes));
  EXPECT_TRUE(NoMalfunction(codes));
  const uint8_t two[] = {0x12, 0x03, 0xA3, 0x31, 0x44};
  EXPECT_FALSE(DecodeFaultCodes(two, 5, codes));  // the odd byte is left out and said
  EXPECT_EQ(codes, (std::vector<FaultCode>{{0x12, 3}, {0xA3, 0x31}}));
  EXPECT_FALSE(NoMalfunction(codes));
  const uint8_t lateNoMalfunction[] = {0x55, 0x02};  // code 55 with a count is not the empty answer
  EXPECT_TRUE(DecodeFaultCodes(lateNoMalfunction, 2, codes));
  EXPECT_FALSE(NoMalfunction(codes));
  EXPECT_FALSE(DecodeFaultCodes(two, 1, codes));
  EXPECT_TRUE(codes.empty());
}

TEST(FaultCodes, CsvListsEveryCodeWithItsRawByte) {
  EXPECT_EQ(FaultCodesCsv({{0x12, 3}, {0xA3, 0}, {0x99, 49}}),
            "code,raw,starts,meaning\n"
            "12,0x12,3,air flow meter\n"
            "--,0xA3,0,unknown code\n"
            "99,0x99,49,unknown code\n");
  EXPECT_EQ(EcuPartNumber("8JU17"), "23710-8JU17");
}
