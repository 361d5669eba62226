// Where the Tool menu's windows find the settings file: the one place they
// ask for it, so that a change of how the path reaches the windows is a
// change of this file alone.
#pragma once

#include <string>

std::string ToolSettingsPath();
