#include "ui/tools/ScreenAwake.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <utility>

namespace {

constexpr const char* kService = "org.freedesktop.ScreenSaver";
constexpr const char* kPath = "/org/freedesktop/ScreenSaver";
constexpr const char* kInterface = "org.freedesktop.ScreenSaver";
// A service that does not answer by then is taken as none; it also bounds
// the wait for an answer when the window goes at the end of the program.
constexpr int kAnswerMs = 2000;

}  // namespace

ScreenAwake::ScreenAwake(QString application, QString reason, QObject* parent)
    : QObject(parent), application_(std::move(application)), reason_(std::move(reason)) {}

ScreenAwake::~ScreenAwake() {
  wanted_ = false;
  // A hold granted after the program is gone would keep the screen on for
  // good on a desktop that does not drop it with the connection.
  if (QDBusPendingCallWatcher* call = asking_) {
    call->waitForFinished();
    if (asking_ == call) Answered(call);
  }
  if (cookie_) Release();
}

void ScreenAwake::Hold(bool on) {
  if (on == wanted_) return;
  wanted_ = on;
  if (on && asking_ == nullptr && !cookie_) Ask();
  if (!on && cookie_) Release();
}

void ScreenAwake::Ask() {
  if (!bus_) bus_ = QDBusConnection::sessionBus();
  if (!bus_->isConnected()) return;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Inhibit");
  call << application_ << reason_;
  asking_ = new QDBusPendingCallWatcher(bus_->asyncCall(call, kAnswerMs), this);
  connect(asking_, &QDBusPendingCallWatcher::finished, this, &ScreenAwake::Answered);
}

void ScreenAwake::Answered(QDBusPendingCallWatcher* call) {
  if (call != asking_) return;  // answered already, as the window went
  asking_ = nullptr;
  call->deleteLater();
  const QDBusPendingReply<uint32_t> reply = *call;
  if (!reply.isValid()) return;  // no such service: the screen is the desktop's
  cookie_ = reply.value();
  // Let go of while the question was on its way.
  if (!wanted_) Release();
}

void ScreenAwake::Release() {
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "UnInhibit");
  call << *cookie_;
  cookie_.reset();
  // Nothing to wait for: the answer carries nothing.
  bus_->send(call);
}
