// Keeps the screen from blanking or locking while held: the desktop's
// screen saver (org.freedesktop.ScreenSaver on the session bus) is asked to
// hold off, and told when it may go on. Where there is no session bus, or
// no such service on it, nothing happens and nothing is said: a car's
// small computer may have neither, and the Dash works without.
//
// The calls are asynchronous, so that a service slow to answer never holds
// up the window: a release asked for before the service has granted the
// hold is carried out when its answer comes.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

class QDBusPendingCallWatcher;

class ScreenAwake : public QObject {
 public:
  ScreenAwake(QString application, QString reason, QObject* parent = nullptr);
  ~ScreenAwake() override;  // lets the screen saver go on

  // Holds the screen awake (true) or lets it go (false); a repeat changes nothing.
  void Hold(bool on);
  bool Held() const { return wanted_; }
  // The service has granted the hold and not been told to end it.
  bool Granted() const { return cookie_.has_value(); }
  // A question to the service is on its way.
  bool Asking() const { return asking_ != nullptr; }

  // The bus to ask; the session bus, looked up at the first hold, unless set.
  void UseBus(const QDBusConnection& bus) { bus_ = bus; }

 private:
  void Ask();
  void Answered(QDBusPendingCallWatcher* call);
  void Release();

  QString application_;
  QString reason_;
  std::optional<QDBusConnection> bus_;
  bool wanted_ = false;
  QDBusPendingCallWatcher* asking_ = nullptr;  // an Inhibit on its way
  std::optional<uint32_t> cookie_;
};
