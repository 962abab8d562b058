#include "app/qt/desktop_session_qt.h"

#include "app/main_window.h"
#include "app/toolkit.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace {
constexpr int kCallTimeoutMs = 2000;
const char kLogin1[] = "org.freedesktop.login1";
const char kLogin1Path[] = "/org/freedesktop/login1";
const char kLogin1Manager[] = "org.freedesktop.login1.Manager";

// One logind inhibitor lock; invalid when there is no system bus or logind.
QDBusUnixFileDescriptor inhibit(const char* mode) {
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) return {};
  QDBusMessage call = QDBusMessage::createMethodCall(kLogin1, kLogin1Path, kLogin1Manager, "Inhibit");
  call << QString("sleep") << QString("Frelvanta") << QString("Recording in progress") << QString(mode);
  QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
  return qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().first());
}
}  // namespace

DesktopSessionQt::DesktopSessionQt(std::function<void()> on_forced_sleep)
    : on_forced_sleep_(std::move(on_forced_sleep)) {}

void DesktopSessionQt::keep_awake(bool on) {
  if (!on) {
    block_lock_ = QDBusUnixFileDescriptor();  // closing the descriptors releases the locks
    delay_lock_ = QDBusUnixFileDescriptor();
    return;
  }
  // "block" refuses the sleep; "delay" gives the recording time to be
  // stopped when the sleep is forced anyway.
  block_lock_ = inhibit("block");
  if (!block_lock_.isValid()) return;
  delay_lock_ = inhibit("delay");
  if (!listening_) {
    listening_ = QDBusConnection::systemBus().connect(kLogin1, kLogin1Path, kLogin1Manager, "PrepareForSleep",
                                                      this, SLOT(prepare_for_sleep(bool)));
  }
}

void DesktopSessionQt::prepare_for_sleep(bool starting) {
  if (starting && block_lock_.isValid() && on_forced_sleep_) on_forced_sleep_();
}

void DesktopSessionQt::show_in_folder(const std::string& file_path) {
  const QString path = QString::fromStdString(file_path);
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (bus.isConnected()) {
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", "ShowItems");
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage) return;
  }
  // No file manager service: open the folder itself. xdg-open is started
  // directly with the folder as its one argument, never through a shell, so
  // no character of the path is ever interpreted.
  QProcess::startDetached(QStringLiteral("xdg-open"), {QFileInfo(path).absolutePath()});
}

void toolkit_install_desktop_session() {
  static DesktopSessionQt* session =
      new DesktopSessionQt([] { post_main_window_message(MSG_FORCED_SLEEP, 0, 0); });
  g_desktop_session = session;
}
