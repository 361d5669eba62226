// The settings file reader and writer: the whole file is loaded into
// memory, looked up there and written back whole. Lines this program never
// writes (unknown keys and sections, comments) are kept as they were, so a
// run leaves them unchanged. Plain C++: the windows and torvane-cli use it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class IniFile {
 public:
  // Loads the file; a missing or unreadable file reads as empty.
  explicit IniFile(std::string fileName);
  // Takes content as the file's, read by the caller (or made up by a test);
  // nothing touches the disk until UpdateFile.
  IniFile(std::string fileName, const std::string& content);

  const std::string& FileName() const { return fileName_; }

  // A decimal integer (optional sign) or "0x" followed by hexadecimal digits;
  // anything else, and a missing key, reads as the default.
  int32_t ReadInteger(const std::string& section, const std::string& key,
                      int32_t defaultValue) const;
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  bool KeyExists(const std::string& section, const std::string& key) const;

  // A key keeps its place once written; new keys and sections go at the end.
  void WriteInteger(const std::string& section, const std::string& key, int32_t value);
  void WriteString(const std::string& section, const std::string& key, const std::string& value);

  // The whole file as it would be written: each section's header, its lines,
  // then one empty line.
  std::string Text() const;
  // Writes Text() to the file through a temporary file beside it, so a
  // failed write never leaves half a file; a folder that takes no new file
  // gets the file written in place. False when it could not be written.
  [[nodiscard]] bool UpdateFile() const;

  // Parses an integer the way ReadInteger does; false when it is none.
  [[nodiscard]] static bool ParseInteger(const std::string& text, int32_t& value);

 private:
  struct Line {
    std::string key;   // empty for a comment or other line that is no key
    std::string value;
    std::string text;  // the line as it stands in the file
  };
  struct Section {
    std::string name;  // empty for the lines before the first header
    std::vector<Line> lines;
  };

  void Parse(const std::string& content);
  const Line* Find(const std::string& section, const std::string& key) const;
  Section& SectionFor(const std::string& name);

  std::string fileName_;
  std::vector<Section> sections_;
};
