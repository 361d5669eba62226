#include "data/IniFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/common/TempDir.h"

namespace {

class IniFileTest : public ::testing::Test {
 protected:
  void Write(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
  std::string Read() {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
  }
  TempDir folder;
  std::filesystem::path path = folder.Path("tcon.ini");
};

TEST_F(IniFileTest, MissingFileReadsDefaultsAndWritesSectionsInFirstWrittenOrder) {
  IniFile ini(path.string());
  EXPECT_EQ(ini.ReadInteger("SET", "msec", 7), 7);
  ini.WriteInteger("Environment", "B", 2);
  ini.WriteInteger("SET", "x", -1);
  ini.WriteInteger("Environment", "A", 1);
  ini.WriteInteger("Environment", "B", 3);  // keeps its place
  ASSERT_TRUE(ini.UpdateFile());
  EXPECT_EQ(Read(), "[Environment]\nB=3\nA=1\n\n[SET]\nx=-1\n\n");
}

TEST_F(IniFileTest, IntegersAreDecimalOrHexAndAnythingElseIsTheDefault) {
  Write(
      "[S]\n"
      "dec=42\nneg=-17\nplus=+5\nhex=0x1F\nHEX=0XfF\nallBits=0xFFFFFFFF\n"
      "max=2147483647\nmin=-2147483648\nover=2147483648\nlongHex=0x100000000\n"
      "word=abc\ntrailing=12abc\nempty=\nsign=-\nbareHex=0x\nspaced= 12 \n");
  IniFile ini(path.string());
  EXPECT_EQ(ini.ReadInteger("S", "dec", 0), 42);
  EXPECT_EQ(ini.ReadInteger("S", "neg", 0), -17);
  EXPECT_EQ(ini.ReadInteger("S", "plus", 0), 5);
  EXPECT_EQ(ini.ReadInteger("S", "hex", 0), 31);
  EXPECT_EQ(ini.ReadInteger("S", "allBits", 0), -1);
  EXPECT_EQ(ini.ReadInteger("S", "max", 0), 2147483647);
  EXPECT_EQ(ini.ReadInteger("S", "min", 0), INT32_MIN);
  EXPECT_EQ(ini.ReadInteger("S", "spaced", 0), 12);
  for (const char* key : {"over", "longHex", "word", "trailing", "empty", "sign", "bareHex",
                          "missing"}) {
    EXPECT_EQ(ini.ReadInteger("S", key, -9), -9) << key;
  }
  // "HEX" and "hex" are one key: the first line counts.
  EXPECT_EQ(ini.ReadInteger("s", "Hex", 0), 31);
}

TEST_F(IniFileTest, HandWrittenFileKeepsCommentsUnknownSectionsAndOddSpacing) {
  Write(
      "; written by hand\r\n"
      "\r\n"
      "[Other]\r\n"
      "  colour =  blue  \r\n"
      "# a note\r\n"
      "\r\n"
      "\r\n"
      "[ SET ]\r\n"
      "msec = 0x1\r\n"
      "custom=7\r\n"
      "no equals sign here\r\n"
      "[other]\r\n"
      "late=1\r\n");
  IniFile ini(path.string());
  EXPECT_EQ(ini.ReadString("Other", "colour", ""), "blue");
  EXPECT_EQ(ini.ReadInteger("SET", "msec", 0), 1);
  EXPECT_EQ(ini.ReadInteger("OTHER", "late", 0), 1);  // a repeated header joins its section
  ini.WriteInteger("SET", "msec", 0);
  ini.WriteInteger("SET", "min", 1);
  ini.WriteInteger("Environment", "MainWindowLeft", 5);
  ASSERT_TRUE(ini.UpdateFile());
  EXPECT_EQ(Read(),
            "; written by hand\n"
            "\n"
            "[Other]\n"
            "  colour =  blue  \n"
            "# a note\n"
            "late=1\n"
            "\n"
            "[SET]\n"
            "msec=0\n"
            "custom=7\n"
            "no equals sign here\n"
            "min=1\n"
            "\n"
            "[Environment]\n"
            "MainWindowLeft=5\n"
            "\n");
  // What was written reads back the same.
  IniFile again(path.string());
  EXPECT_EQ(again.Text(), ini.Text());
}

TEST_F(IniFileTest, UnwritableFileReportsFailureAndLeavesNothingBehind) {
  IniFile ini((path / "no-such-folder" / "tcon.ini").string());
  ini.WriteInteger("SET", "msec", 1);
  EXPECT_FALSE(ini.UpdateFile());
  EXPECT_FALSE(std::filesystem::exists(path / "no-such-folder"));
}

TEST_F(IniFileTest, TextGivenInMemoryReadsAsTheFileAndWritesOnlyOnUpdate) {
  const std::string text = "; note\r\n[SET]\r\nmsec = 0x10\r\nodd line\r\n";
  Write(text);
  const IniFile fromFile(path.string());
  IniFile fromText(path.string(), text);
  EXPECT_EQ(fromText.Text(), fromFile.Text());
  EXPECT_EQ(fromText.ReadInteger("SET", "msec", 0), 16);
  fromText.WriteInteger("SET", "msec", 2);
  EXPECT_EQ(Read(), text);
  ASSERT_TRUE(fromText.UpdateFile());
  EXPECT_EQ(Read(), fromText.Text());
}

TEST_F(IniFileTest, RewriteReplacesTheWholeFile) {
  Write("[SET]\nmsec=1\nsec=0\n\n\n\n");
  IniFile ini(path.string());
  ini.WriteInteger("SET", "sec", 1);
  ASSERT_TRUE(ini.UpdateFile());
  EXPECT_EQ(Read(), "[SET]\nmsec=1\nsec=1\n\n");
  EXPECT_FALSE(std::filesystem::exists(path.string() + ".tmp"));
}

}  // namespace
