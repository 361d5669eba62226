// What the window tests share: a QApplication for the whole run, message
// boxes answered by script, program instances of each test's own, and a
// deadline wait that keeps the event loop turning.
#pragma once

#include <QApplication>
#include <QListWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "control/ProgramObjects.h"
#include "tests/common/TempDir.h"
#include "tests/common/WaitFor.h"
#include "ui/app/ProgramWindows.h"
#include "ui/app/Settings.h"
#include "ui/dialogs/UserDialogs.h"
#include "ui/main/DisplayTimer.h"
#include "ui/main/RecorderBridge.h"
#include "ui/main/WarningTone.h"

// The whole content of a file, as bytes; empty when it cannot be read.
inline std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

// WaitFor that keeps the event loop turning while it waits: the windows'
// effects arrive as queued events.
inline bool WaitForEvents(const std::function<bool()>& pred,
                          std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
  return WaitFor(pred, deadline, [] { QApplication::processEvents(QEventLoop::AllEvents, 5); });
}

struct DialogCall {
  std::string kind;  // "question", "information", "warning", "error", "plain", "open", "save"
  std::string title;
  std::string text;
};

class ScriptedDialogs : public UserDialogs {
 public:
  std::vector<DialogCall> calls;
  std::deque<bool> answers;       // Yes/No answers in order; Yes when none left
  std::function<void()> whileOpen;  // runs inside each box, as its event loop would
  std::deque<QString> fileNames;

  bool Question(QWidget*, const QString& text, const QString& title) override {
    Record("question", title, text);
    if (answers.empty()) return true;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void Information(QWidget*, const QString& text, const QString& title) override {
    Record("information", title, text);
  }
  void Warning(QWidget*, const QString& text, const QString& title) override {
    Record("warning", title, text);
  }
  void Error(QWidget*, const QString& text, const QString& title) override {
    Record("error", title, text);
  }
  void Plain(QWidget*, const QString& text, const QString& title) override {
    Record("plain", title, text);
  }
  // The text of a file dialog's call is its preset and filter.
  QString OpenFileName(QWidget*, const QString& caption, const QString& preset,
                       const QString& filter) override {
    Record("open", caption, (preset + "|" + filter).toStdString());
    return NextFileName();
  }
  QString SaveFileName(QWidget*, const QString& caption, const QString& preset,
                       const QString& filter, bool confirmOverwrite) override {
    Record(confirmOverwrite ? "save" : "save-no-confirm", caption,
           (preset + "|" + filter).toStdString());
    return NextFileName();
  }

 private:
  void Record(const char* kind, const QString& title, const QString& text) {
    Record(kind, title, text.toStdString());
  }
  void Record(const char* kind, const QString& title, const std::string& text) {
    calls.push_back({kind, title.toStdString(), text});
    if (whileOpen) whileOpen();
  }
  QString NextFileName() {
    if (fileNames.empty()) return {};
    QString name = fileNames.front();
    fileNames.pop_front();
    return name;
  }
};

// Counts the tones asked for; a test says whether a device is there.
class CountingTone : public WarningTone {
 public:
  bool Available() override { return available; }
  void Play(int volume) override { played.push_back(volume); }
  bool available = true;
  std::vector<int> played;  // the volume of each
};

// The program-wide instances, but owned by one test, built as the program
// builds them.
using TestInstances = ProgramObjects;

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string SettingsFile() const { return (directory / "tcon.ini").string(); }
  void WriteSettings(const std::string& text) const;
  std::string ReadSettings() const;
  bool SettingsExist() const { return std::filesystem::exists(SettingsFile()); }
  // The settings path and the scripted dialogs, as every window of the test gets them.
  WindowContext Context() { return {settingsPath, dialogs, &tone}; }

  // Creates the four windows as the program does; clockPeriod sets the pace
  // of the recording clock (long periods keep it from ticking at all).
  void CreateWindows(std::chrono::nanoseconds clockPeriod = std::chrono::hours(1));
  TConsultMainForm& Main() { return *windows.consultMainForm; }
  Session& TheSession() { return instances->session; }
  Ui::ConsultMainForm& Form() { return *windows.consultMainForm->Form(); }
  RecorderState& State() { return instances->recorderState; }
  std::vector<std::string> StatusLines();

  std::unique_ptr<TempDir> folder;  // the test's own; removed after the instances
  std::filesystem::path directory;
  std::string settingsPath;  // what CreateWindows gives the windows; SettingsFile() unless set
  std::string shmBase = ".MMF";  // the log memory's name; recovery tests take their own
  ScriptedDialogs dialogs;
  CountingTone tone;
  std::unique_ptr<TestInstances> instances;
  ProgramWindows windows;
};
