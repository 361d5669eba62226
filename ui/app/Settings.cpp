#include "ui/app/Settings.h"

#include <QCoreApplication>
#include <QFont>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace {

// $XDG_CONFIG_HOME/torvane, ~/.config/torvane by default.
std::filesystem::path UserConfigFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return std::filesystem::path(config) / "torvane";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr ? home : "/tmp") / ".config" / "torvane";
}
}  // namespace

std::string SettingsPath() {
  // Beside the executable, as it has always been, wherever that folder is
  // the user's (a build tree, a copy in the home folder). An installed
  // program's folder is not: its settings then live in the user's config.
  const std::filesystem::path beside =
      std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()) / "tcon.ini";
  if (access(beside.parent_path().c_str(), W_OK) == 0) return beside.string();
  if (access(beside.c_str(), W_OK) == 0) return beside.string();
  const std::filesystem::path folder = UserConfigFolder();
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  return (folder / "tcon.ini").string();
}

void InstallFontSubstitutes() {
  QFont::insertSubstitution("Arial", "Liberation Sans");
  // URW Gothic draws "[" and "]" as round brackets, so "[deg C]" would read
  // "(deg C)"; TeX Gyre Adventor comes from the same design with square ones.
  QFont::insertSubstitution("Century Gothic", "TeX Gyre Adventor");
}
