#pragma once
// Desktop-session services recording start and stop rely on: keeping the
// system awake while recording, and showing a finished file in the file
// manager. The shell installs an implementation; without one (tests, no
// session) both are skipped silently.
#include <string>

class DesktopSession {
 public:
  virtual ~DesktopSession() = default;
  // Holds (true) or releases (false) the lock that keeps the system from
  // sleeping. A sleep that cannot be refused is reported to the main window
  // as a power broadcast, which stops the recording first.
  virtual void keep_awake(bool on) = 0;
  // Opens the file's folder with the file selected, or at least the folder.
  virtual void show_in_folder(const std::string& file_path) = 0;
};

inline DesktopSession* g_desktop_session = nullptr;
