#include "ui/Settings.h"

#include <QCoreApplication>
#include <QFont>

namespace {
std::string overridePath;
}

std::string SettingsPath() {
  if (!overridePath.empty()) return overridePath;
  return (QCoreApplication::applicationDirPath() + "/tcon.ini").toStdString();
}

void SetSettingsPath(const std::string& path) { overridePath = path; }

void InstallFontSubstitutes() {
  QFont::insertSubstitution("Arial", "Liberation Sans");
  // URW Gothic draws "[" and "]" as round brackets, so "[deg C]" would read
  // "(deg C)"; TeX Gyre Adventor comes from the same design with square ones.
  QFont::insertSubstitution("Century Gothic", "TeX Gyre Adventor");
}
