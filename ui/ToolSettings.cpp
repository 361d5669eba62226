#include "ui/ToolSettings.h"

#include "ui/Settings.h"

std::string ToolSettingsPath() { return SettingsPath(); }
