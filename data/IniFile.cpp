#include "data/IniFile.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "data/AtomicFile.h"

namespace {

std::string Trim(const std::string& text) {
  const char* blanks = " \t\r\n";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

// Section and key names compare without regard to case, as INI files on the
// system this format comes from always have.
bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const unsigned char x = static_cast<unsigned char>(a[i]);
    const unsigned char y = static_cast<unsigned char>(b[i]);
    const auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; };
    if (lower(x) != lower(y)) return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

IniFile::IniFile(std::string fileName) : fileName_(std::move(fileName)) {
  std::ifstream in(fileName_, std::ios::binary);
  if (!in) return;
  std::ostringstream content;
  content << in.rdbuf();
  Parse(content.str());
}

IniFile::IniFile(std::string fileName, const std::string& content)
    : fileName_(std::move(fileName)) {
  Parse(content);
}

void IniFile::Parse(const std::string& content) {
  std::istringstream in(content);
  std::string raw;
  Section* current = nullptr;
  while (std::getline(in, raw)) {
    // Carriage returns at a line's end are line-end noise (CR LF, or worse):
    // all of them go, so that a read and a write give back what they read.
    while (!raw.empty() && raw.back() == '\r') raw.pop_back();
    const std::string line = Trim(raw);
    // Empty lines are layout; the writer puts one after each section.
    if (line.empty()) continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      if (close != std::string::npos) {
        current = &SectionFor(Trim(line.substr(1, close - 1)));
        continue;
      }
    }
    if (current == nullptr) current = &SectionFor("");
    Line entry;
    entry.text = raw;
    const size_t equals = line.find('=');
    if (line.front() != ';' && line.front() != '#' && equals != std::string::npos &&
        equals > 0) {
      entry.key = Trim(line.substr(0, equals));
      entry.value = Trim(line.substr(equals + 1));
    }
    current->lines.push_back(std::move(entry));
  }
}

IniFile::Section& IniFile::SectionFor(const std::string& name) {
  for (Section& section : sections_) {
    if (SameName(section.name, name)) return section;
  }
  sections_.push_back(Section{name, {}});
  return sections_.back();
}

const IniFile::Line* IniFile::Find(const std::string& section, const std::string& key) const {
  for (const Section& s : sections_) {
    if (!SameName(s.name, section)) continue;
    for (const Line& line : s.lines) {
      if (!line.key.empty() && SameName(line.key, key)) return &line;
    }
  }
  return nullptr;
}

bool IniFile::ParseInteger(const std::string& text, int32_t& value) {
  const std::string t = Trim(text);
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    // Up to eight hexadecimal digits, taken as the 32-bit pattern they spell.
    if (t.size() > 10) return false;
    uint32_t bits = 0;
    for (size_t i = 2; i < t.size(); ++i) {
      const int digit = HexDigit(t[i]);
      if (digit < 0) return false;
      bits = bits * 16 + static_cast<uint32_t>(digit);
    }
    value = static_cast<int32_t>(bits);
    return true;
  }
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) {
    negative = t[i] == '-';
    ++i;
  }
  if (i == t.size()) return false;
  int64_t magnitude = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    magnitude = magnitude * 10 + (t[i] - '0');
    if (magnitude > int64_t{1} << 31) return false;
  }
  const int64_t result = negative ? -magnitude : magnitude;
  if (result > INT32_MAX || result < INT32_MIN) return false;
  value = static_cast<int32_t>(result);
  return true;
}

int32_t IniFile::ReadInteger(const std::string& section, const std::string& key,
                             int32_t defaultValue) const {
  const Line* line = Find(section, key);
  int32_t value = 0;
  if (line == nullptr || !ParseInteger(line->value, value)) return defaultValue;
  return value;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& defaultValue) const {
  const Line* line = Find(section, key);
  return line == nullptr ? defaultValue : line->value;
}

bool IniFile::KeyExists(const std::string& section, const std::string& key) const {
  return Find(section, key) != nullptr;
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteString(const std::string& section, const std::string& key,
                          const std::string& value) {
  Section& s = SectionFor(section);
  for (Line& line : s.lines) {
    if (!line.key.empty() && SameName(line.key, key)) {
      line.value = value;
      line.text = line.key + "=" + value;
      return;
    }
  }
  s.lines.push_back(Line{key, value, key + "=" + value});
}

std::string IniFile::Text() const {
  std::string out;
  for (const Section& section : sections_) {
    // Lines above the first header (comments) have no header of their own.
    if (section.name.empty() && &section == &sections_.front()) {
      if (section.lines.empty()) continue;
    } else {
      out += "[" + section.name + "]\n";
    }
    for (const Line& line : section.lines) out += line.text + "\n";
    out += "\n";
  }
  return out;
}

bool IniFile::UpdateFile() const {
  AtomicFileWriter writer(fileName_);
  if (!writer.Open()) return false;
  const std::string text = Text();
  if (std::fwrite(text.data(), 1, text.size(), writer.Stream()) != text.size()) return false;
  return writer.Commit();
}
