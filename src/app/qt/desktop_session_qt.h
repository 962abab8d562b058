#pragma once
// Desktop-session services over D-Bus: systemd-logind inhibitor locks for
// sleep, org.freedesktop.FileManager1 for showing a file. Main thread only.
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <functional>

#include "core/desktop_session.h"

class DesktopSessionQt : public QObject, public DesktopSession {
  Q_OBJECT
 public:
  // `on_forced_sleep` runs on the main thread when the system goes to sleep
  // although a block lock is held (an administrator may override it).
  explicit DesktopSessionQt(std::function<void()> on_forced_sleep);
  void keep_awake(bool on) override;
  void show_in_folder(const std::string& file_path) override;

 private slots:
  void prepare_for_sleep(bool starting);

 private:
  std::function<void()> on_forced_sleep_;
  bool listening_ = false;
  QDBusUnixFileDescriptor block_lock_;
  QDBusUnixFileDescriptor delay_lock_;
};
