#include <sys/stat.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QCoreApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QGuiApplication>
#include <QKeySequence>
#include <QShortcut>
#include <QMessageBox>
#include <QUrl>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/qt/qt_message_loop.h"
#include "app/qt/tray_qt.h"
#include "app/toolkit.h"
#include "platform/display_session.h"
#include "core/ui_service.h"
#include "dialogs/qt/qt_dialog_host.h"

namespace {
// Qt keeps references to these for the application's lifetime. Our own
// arguments are never shown to Qt, so none of them is taken as a Qt option.
int g_argc = 1;
char g_arg0[] = "frelvanta";
char* g_argv[] = {g_arg0, nullptr};
bool g_has_display = false;

// Whether QApplication can start without aborting. Platforms that need no
// display server (offscreen, minimal, ...) are trusted as configured; the X11
// platform is tried with a real connection first.
bool wayland_socket_usable() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (!name || !*name) return false;
  std::string path = name;
  if (name[0] != '/') {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) return false;
    path = std::string(runtime) + "/" + name;
  }
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

bool wayland_plugin_present() {
  const QString dir = QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms/");
  return QFileInfo::exists(dir + QStringLiteral("libqwayland-generic.so"));
}

bool display_usable() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform && std::strncmp(platform, "xcb", 3) != 0) {
    if (std::strncmp(platform, "wayland", 7) != 0) return true;
    return wayland_socket_usable();
  }
  // Capture through the portal: the windows (overlays, frame, countdown) are
  // the compositor's own windows, so they land where they are meant to.
  if ((!platform || !*platform) && capture_backend_kind() == CaptureBackendKind::kPortal &&
      wayland_socket_usable() && wayland_plugin_present()) {
    setenv("QT_QPA_PLATFORM", "wayland", 1);
    return true;
  }
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return false;
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  bool ok = c && xcb_connection_has_error(c) == 0;
  if (c) xcb_disconnect(c);
  // Capture is X11, so the windows (overlays, frame) must be X11 windows too.
  if (ok && (!platform || !*platform)) setenv("QT_QPA_PLATFORM", "xcb", 1);
  return ok;
}

class QtUiService final : public UiService {
 public:
  int message_box(const std::string& text, const std::string& caption, uint32_t type) override {
    QMessageBox box;
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    uint32_t icon = type & 0xF0;
    box.setIcon(icon == MB_ICONERROR         ? QMessageBox::Critical
                : icon == MB_ICONWARNING     ? QMessageBox::Warning
                : icon == MB_ICONINFORMATION ? QMessageBox::Information
                                             : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    // Ctrl+C copies caption and text, as message boxes do on the desktop
    // the settings come from, so a user can paste an error into a report.
    const QString copied = QStringLiteral("---------------------------\n%1\n---------------------------\n%2\n")
                               .arg(box.windowTitle(), box.text());
    QShortcut copy(QKeySequence::Copy, &box);
    QObject::connect(&copy, &QShortcut::activated, [&copied] { QGuiApplication::clipboard()->setText(copied); });
    box.exec();
    return IDOK;
  }

  int tray_notification(const std::string& text, const std::string& caption, int kind) override {
    return tray().notify(text, caption, kind);
  }
  void tray_add() override { tray().add(); }
  void tray_delete() override { tray().remove(); }
  void tray_set_icon(TrayIconState state) override { tray().set_icon(state); }
  void tray_set_tip(const std::string& tip) override { tray().set_tip(tip); }
  bool tray_available() override { return tray().available(); }
  int tray_popup_menu(const std::vector<TrayMenuItem>& items) override { return tray().popup_menu(items); }
  void tray_menu_changed() override {
    if (tray_) tray_->refresh_menu();
  }
  void desktop_notice(const std::string& text, const std::string& caption) override {
    tray().desktop_notice(text, caption);
  }
  void open_url(const std::string& url) override { QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); }

 private:
  TrayQt& tray() {
    if (!tray_) tray_ = new TrayQt;  // lives until the process ends
    return *tray_;
  }
  TrayQt* tray_ = nullptr;
};
}  // namespace

bool toolkit_init() {
  if (QCoreApplication::instance()) return g_has_display;
  g_has_display = display_usable();
  if (g_has_display) {
    new QApplication(g_argc, g_argv);
    QApplication::setQuitOnLastWindowClosed(false);  // only the main window's destruction ends the loop
  } else {
    new QCoreApplication(g_argc, g_argv);
  }
  QCoreApplication::setApplicationName(QStringLiteral("Frelvanta"));
  return g_has_display;
}

bool toolkit_has_display() { return g_has_display; }

void toolkit_install_ui_service() {
  if (!g_has_display || g_ui_service) return;
  g_ui_service = new QtUiService;
}

bool toolkit_install_dialog_host() {
  install_qt_dialog_host();
  return true;
}

std::unique_ptr<MessageLoop> toolkit_create_message_loop() {
  if (!QCoreApplication::instance()) return nullptr;
  return std::make_unique<QtMessageLoop>();
}
