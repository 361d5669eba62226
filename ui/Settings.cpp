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
  QFont::insertSubstitution("Century Gothic", "URW Gothic");
}
