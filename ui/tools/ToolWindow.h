// What the main window knows of a window of its Tool menu. The program
// holds its tool windows as one list (CreateProgramWindows); the main
// window gives each an item in the Tool menu and keeps its settings.
#pragma once

#include <QString>

class IniFile;
struct ValueSettings;

class ToolWindow {
 public:
  virtual ~ToolWindow() = default;
  // The caption of its item in the Tool menu, as "Sub &Window".
  virtual QString MenuCaption() const = 0;
  // Shown and raised, brought up to date at once.
  virtual void ShowWindow() = 0;
  // Its section of the settings file, written with the program's settings
  // when the program closes (closing the window only hides it).
  virtual void SaveSettings(IniFile& ini) const = 0;
  // The value settings, at start-up and whenever the user changes them; a
  // window that shows limits or works from speed follows them.
  virtual void ApplyValueSettings(const ValueSettings&) {}
};
