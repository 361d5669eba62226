// Where the settings file lives, and the fonts the layouts ask for.
#pragma once

#include <string>

// "tcon.ini" in the folder of the running executable where that folder (or
// the file) is writable, else in $XDG_CONFIG_HOME/torvane/ (an installed
// program); a test may set another path.
std::string SettingsPath();
void SetSettingsPath(const std::string& path);  // empty brings back the default

// The layouts ask for "Arial" and "Century Gothic"; on Linux the metric
// look-alikes stand in for them so that captions fit as designed.
void InstallFontSubstitutes();
