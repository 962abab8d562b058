// The desktop portal's global shortcuts: the client against a stand-in portal
// (fv_portal_service) on a private session bus: one binding of the set,
// activations as shortcut ids, no new binding for an unchanged set, a new
// session for a changed one, and a refusal reported once.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include "app/portal/global_shortcuts_portal.h"
#include "e2e/e2e_support.h"

namespace {
double now_s() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A private bus with the stand-in portal, and a connection of ours to it.
struct PrivatePortal {
  std::string dir = make_temp_dir("portal");
  std::string address = "unix:path=" + dir + "/bus";
  Background daemon, portal;
  QDBusConnection bus{QString()};

  bool start(const std::vector<std::string>& options, const char* name) {
    std::vector<std::string> argv = {FV_PORTAL_SERVICE_EXE};
    argv.insert(argv.end(), options.begin(), options.end());
    if (!daemon.start({"/usr/bin/env", "dbus-daemon", "--session", "--nofork", "--address=" + address,
                       "--print-address=1"},
                      {}, "unix:") ||
        !portal.start(argv, {"DBUS_SESSION_BUS_ADDRESS=" + address}, "ready"))
      return false;
    bus = QDBusConnection::connectToBus(QString::fromStdString(address), QString::fromLatin1(name));
    return bus.isConnected();
  }
  std::string log() const { return read_text(portal.output_file()); }
  // Runs the event loop until the log holds `text` (or the time is up).
  bool wait_for(const std::string& text, double timeout_s = 10) {
    for (const double end = now_s() + timeout_s; now_s() < end;) {
      if (log().find(text) != std::string::npos) return true;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return log().find(text) != std::string::npos;
  }
  void spin(double seconds) {
    for (const double end = now_s() + seconds; now_s() < end;) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  void press(const char* id) {
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.portal.Desktop"),
                                                       QStringLiteral("/test"),
                                                       QStringLiteral("org.frelvanta.TestPortal"), "Press");
    call << QString::fromLatin1(id);
    bus.call(call);
  }
  size_t count(const std::string& text) const {
    const std::string l = log();
    size_t n = 0;
    for (size_t at = l.find(text); at != std::string::npos; at = l.find(text, at + 1)) ++n;
    return n;
  }
  ~PrivatePortal() {
    QDBusConnection::disconnectFromBus(bus.name());
    portal.kill_now(SIGTERM);
    daemon.kill_now(SIGTERM);
    portal.wait(10);
    daemon.wait(10);
  }
};

bool tools_ready() {
  return run_process({"/bin/sh", "-c", "command -v dbus-daemon"}, {}, 10).exit_code == 0;
}

QCoreApplication& app() {
  static int argc = 1;
  static char arg0[] = "portal_shortcuts_test";
  static char* argv[] = {arg0, nullptr};
  static QCoreApplication* a = QCoreApplication::instance() ? QCoreApplication::instance()
                                                             : new QCoreApplication(argc, argv);
  return *a;
}

void register_defaults(HotkeyService& keys) {
  keys.register_hotkey(2, 2, 0x2C);
  keys.register_hotkey(1, 10, 0x2C);
  keys.register_hotkey(3, 6, 0x2C);
  keys.register_hotkey(4, 6, 0x50);
}

TEST(PortalShortcuts, BindsTheSetOnceAndReportsActivations) {
  if (!tools_ready()) GTEST_SKIP() << "needs dbus-daemon";
  app();
  PrivatePortal p;
  ASSERT_TRUE(p.start({}, "bind"));
  EXPECT_TRUE(GlobalShortcutsPortal::offered(p.bus));

  std::vector<int> pressed;
  int unavailable = 0;
  GlobalShortcutsPortal keys(p.bus, [&](int id) { pressed.push_back(id); }, [&] { ++unavailable; });
  register_defaults(keys);
  ASSERT_TRUE(p.wait_for("bound 4")) << p.log();
  // One session, one binding with every shortcut and its preferred trigger.
  EXPECT_EQ(p.count("create-session"), 1u) << p.log();
  for (const char* line : {"bind capture-window trigger=CTRL+LOGO+Print description=Capture Window",
                           "bind capture-monitor trigger=CTRL+Print description=Capture Monitor",
                           "bind capture-region trigger=CTRL+SHIFT+Print description=Capture Region",
                           "bind pause-resume trigger=CTRL+SHIFT+p description=Pause / Resume"})
    EXPECT_NE(p.log().find(line), std::string::npos) << line << "\n" << p.log();

  // Activations arrive as the shortcut ids the main window knows.
  p.press("capture-monitor");
  p.press("pause-resume");
  p.press("capture-region");
  p.press("something-else");  // not ours: ignored
  for (const double end = now_s() + 10; pressed.size() < 3 && now_s() < end;)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  p.spin(0.3);
  EXPECT_EQ(pressed, (std::vector<int>{2, 4, 3})) << p.log();

  // The settings confirmed unchanged (unregister, register): the session
  // stays, so the desktop asks nothing again.
  for (int id : {2, 1, 3, 4}) keys.unregister_hotkey(id);
  register_defaults(keys);
  p.spin(1.0);
  EXPECT_EQ(p.count("create-session"), 1u) << p.log();
  EXPECT_EQ(p.count("close-session"), 0u) << p.log();

  // A changed shortcut (and one set to none): a new session binds the new set.
  for (int id : {2, 1, 3, 4}) keys.unregister_hotkey(id);
  keys.register_hotkey(2, 1, 0x74);
  keys.register_hotkey(1, 10, 0x2C);
  keys.register_hotkey(4, 6, 0x50);
  ASSERT_TRUE(p.wait_for("bound 3")) << p.log();
  EXPECT_EQ(p.count("close-session"), 1u) << p.log();
  EXPECT_EQ(p.count("create-session"), 2u) << p.log();
  EXPECT_NE(p.log().find("bind capture-monitor trigger=ALT+F5"), std::string::npos) << p.log();
  EXPECT_EQ(p.count("bind capture-region"), 1u) << "the region shortcut is no longer bound";
  // Only the new session's activations count.
  pressed.clear();
  p.press("capture-window");
  for (const double end = now_s() + 10; pressed.empty() && now_s() < end;)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_EQ(pressed, std::vector<int>{1});
  EXPECT_EQ(unavailable, 0);
}

TEST(PortalShortcuts, RefusedBindingIsReportedOnce) {
  if (!tools_ready()) GTEST_SKIP() << "needs dbus-daemon";
  app();
  PrivatePortal p;
  ASSERT_TRUE(p.start({"--refuse"}, "refuse"));
  int unavailable = 0;
  GlobalShortcutsPortal keys(p.bus, [](int) {}, [&] { ++unavailable; });
  register_defaults(keys);
  ASSERT_TRUE(p.wait_for("bound 0")) << p.log();
  for (const double end = now_s() + 10; unavailable == 0 && now_s() < end;)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_EQ(unavailable, 1);
  // Later registrations (the settings confirmed) change nothing.
  register_defaults(keys);
  p.spin(0.5);
  EXPECT_EQ(unavailable, 1);
  EXPECT_EQ(p.count("create-session"), 1u) << p.log();
}

TEST(PortalShortcuts, NotOfferedWithoutThePortal) {
  if (!tools_ready()) GTEST_SKIP() << "needs dbus-daemon";
  app();
  const std::string dir = make_temp_dir("noportal");
  const std::string address = "unix:path=" + dir + "/bus";
  Background daemon;
  // A bus that cannot start services: nothing answers for the portal.
  write_text(dir + "/bus.conf",
             "<busconfig><type>session</type><listen>" + address +
                 "</listen><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                 "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
  ASSERT_TRUE(daemon.start({"/usr/bin/env", "dbus-daemon", "--config-file=" + dir + "/bus.conf", "--nofork",
                            "--print-address=1"},
                           {}, "unix:"));
  {
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromStdString(address), QStringLiteral("none"));
    ASSERT_TRUE(bus.isConnected());
    EXPECT_FALSE(GlobalShortcutsPortal::offered(bus));
  }
  QDBusConnection::disconnectFromBus(QStringLiteral("none"));
  daemon.kill_now(SIGTERM);
  daemon.wait(10);
}
}  // namespace
