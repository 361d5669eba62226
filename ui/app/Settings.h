// Where the settings file lives, and the fonts the layouts ask for.
#pragma once

#include <string>

// The program's settings file: "tcon.ini" in the folder of the running
// executable where that folder (or the file) is writable, else in
// $XDG_CONFIG_HOME/torvane/ (an installed program). The windows are told
// the path (WindowContext); main gives them this one.
std::string SettingsPath();

// The layouts ask for "Arial" and "Century Gothic"; on Linux the metric
// look-alikes stand in for them so that captions fit as designed.
void InstallFontSubstitutes();
