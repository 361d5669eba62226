// The value settings in the settings file, in a section of their own
// ("Value Setting"); the other sections and any key this program does not
// write stay as they are. A key that is missing or cannot be read keeps
// its default, and a speed factor outside its range reads as 1. The warning
// tone's settings have a section of their own ("Sound").
#pragma once

#include "analysis/ValueSettings.h"
#include "analysis/WarningBell.h"
#include "data/IniFile.h"

extern const char kValueSettingSection[];  // "Value Setting"

ValueSettings ReadValueSettings(const IniFile& ini);
void WriteValueSettings(IniFile& ini, const ValueSettings& settings);

extern const char kSoundSection[];  // "Sound"

// A volume outside 0..100 is brought inside.
SoundSettings ReadSoundSettings(const IniFile& ini);
void WriteSoundSettings(IniFile& ini, const SoundSettings& settings);
