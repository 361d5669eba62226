// What the windows take from whoever builds them, besides the program
// instances: where the settings file is, who answers the message boxes
// and file dialogs, and what sounds the warning tone. The program passes the real ones (see main); the
// tests, tools and benchmarks pass their own.
#pragma once

#include <string>

class UserDialogs;
class WarningTone;

struct WindowContext {
  std::string settingsPath;
  UserDialogs& dialogs;
  WarningTone* tone = nullptr;  // none: sound is unavailable
};
