// Which registers to stream, kept per ECU in the settings file: section
// "Registers", one key per ECU part number ("23710-8JU17=00,01,04,..."),
// so that each car gets back what was chosen for it. An ECU without a key,
// or with a key that cannot be read, streams the eighteen.
#pragma once

#include <string>

#include "data/IniFile.h"
#include "data/RegisterList.h"

extern const char kRegistersSection[];  // "Registers"

RegisterMask ReadRegisterChoice(const IniFile& ini, const std::string& partNumber);
// The eighteen are written as well: a choice made back to the default
// stays so.
void WriteRegisterChoice(IniFile& ini, const std::string& partNumber, RegisterMask registers);
