// Feeds arbitrary text to the settings file reader and writer. Whatever the
// text, what is written keeps every key and every line the reader found, and
// reading it back gives the same values: nothing the program does not know
// is lost in a run, and a second run changes nothing more. The text stays
// in memory: what UpdateFile writes is exactly Text(), and the disk would
// only slow every run down.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "data/IniFile.h"

namespace {

// A line of one of the two keys written above (names compare without case,
// and without the blanks the reader trims around them, a lone CR among them).
bool IsOwnKey(const std::string& line) {
  constexpr const char* kBlanks = " \t\r\n";
  std::string key = line.substr(0, line.find('='));
  key.erase(0, key.find_first_not_of(kBlanks));
  key.erase(key.find_last_not_of(kBlanks) + 1);
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key == "com_no" || key == "mainwindowleft";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  const IniFile first("tcon.ini", input);
  const std::string text = first.Text();
  // The program's own keys, written as a close writes them (into a copy:
  // parsing the same text twice would only halve the runs).
  IniFile written = first;
  written.WriteInteger("SET", "com_no", 3);
  written.WriteInteger("Environment", "MainWindowLeft", -7);
  const IniFile again("tcon.ini", written.Text());
  if (again.ReadInteger("SET", "com_no", 0) != 3) std::abort();
  if (again.ReadInteger("Environment", "MainWindowLeft", 0) != -7) std::abort();
  // Every line of the first reading stands in what was written, in order.
  const std::string after = again.Text();
  size_t from = 0;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    if (line.empty() || line.front() == '[') continue;
    if (IsOwnKey(line)) continue;
    const size_t found = after.find(line, from);
    if (found == std::string::npos) std::abort();
    from = found + line.size();
  }
  // A second read and write of the result changes nothing.
  const IniFile twice("tcon.ini", after);
  if (twice.Text() != after) std::abort();
  return 0;
}
