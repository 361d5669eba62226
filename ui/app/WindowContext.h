// What the windows take from whoever builds them, besides the program
// instances: where the settings file is, and who answers the message boxes
// and file dialogs. The program passes the real ones (see main); the
// tests, tools and benchmarks pass their own.
#pragma once

#include <string>

class UserDialogs;

struct WindowContext {
  std::string settingsPath;
  UserDialogs& dialogs;
};
