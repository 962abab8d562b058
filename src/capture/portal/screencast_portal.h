#pragma once
// One screen-cast session with the desktop portal
// (org.freedesktop.portal.ScreenCast on the session bus): CreateSession,
// SelectSources, Start, OpenPipeWireRemote. Each step's answer comes as a
// Response signal on a request object; the calls wait for it in a local
// event loop, so they are made on the thread that runs the Qt event loop.
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <functional>
#include <string>

// Source types and cursor modes as the portal numbers them.
constexpr uint32_t kPortalSourceMonitor = 1;
constexpr uint32_t kPortalSourceWindow = 2;
constexpr uint32_t kPortalCursorHidden = 1;
constexpr uint32_t kPortalCursorEmbedded = 2;
constexpr uint32_t kPortalCursorMetadata = 4;

// The one stream a session shares.
struct PortalStream {
  uint32_t node = 0;          // PipeWire node
  int32_t x = 0, y = 0;       // position in the compositor's space, when told
  int32_t width = 0, height = 0;  // size in the compositor's space, when told
  uint32_t source_type = 0;
};

// What the portal offers; false when it does not answer.
bool screencast_portal_probe(uint32_t* source_types, uint32_t* cursor_modes);

// Receives the portal's signals for ScreenCastSession.
class PortalSignals : public QObject {
  Q_OBJECT
 public:
  bool answered = false;
  uint32_t response = 2;
  QVariantMap results;
  std::function<void()> on_closed;
 public Q_SLOTS:
  void response_arrived(uint code, const QVariantMap& values);
  void session_closed(const QVariantMap& details);
 Q_SIGNALS:
  void done();
};

class ScreenCastSession {
 public:
  ScreenCastSession();
  ~ScreenCastSession();
  ScreenCastSession(const ScreenCastSession&) = delete;
  ScreenCastSession& operator=(const ScreenCastSession&) = delete;

  // Asks for one source of `types`; `restore_token` is offered (when not
  // empty) and replaced by the one the portal hands back for the next run.
  // Blocks until the user chose, refused or the portal stopped answering.
  // On success the stream and a connection to PipeWire (a file descriptor
  // the caller owns) are set; otherwise `error` says what failed.
  bool open(uint32_t types, uint32_t cursor_mode, bool persist, std::string* restore_token, PortalStream* stream,
            int* pipewire_fd, std::string* error);
  // Ends the session (also done by the destructor).
  void close();
  // Called on the event loop's thread when the compositor or the user ends
  // the session.
  void set_on_closed(std::function<void()> f) { signals_.on_closed = std::move(f); }

 private:
  bool request(const char* method, const QList<QVariant>& args, const QString& token, int timeout_ms,
               std::string* error);

  PortalSignals signals_;
  QString session_;
  QString sender_;
  uint32_t counter_ = 0;
};
