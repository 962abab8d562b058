#pragma once
// The update check: fetch a small text file over HTTPS on its own thread,
// read a version, a description and a download URL from it, compare the
// version with the running one and hand the result to the settings dialog.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class DialogHost;

constexpr const char* kRunningVersion = "3.3.0";
constexpr const char* kUpdateUserAgent = "Frelvanta/3.3.0";
constexpr size_t kUpdateBodyLimit = 8192;   // bytes
constexpr size_t kUpdateTextUnits = 4096;   // decoded text capacity including the terminator
constexpr size_t kUpdateVersionUnits = 64;
constexpr size_t kUpdateDescriptionUnits = 512;
constexpr size_t kUpdateUrlUnits = 512;
constexpr size_t kUpdateErrorUnits = 256;
constexpr long kUpdateTimeoutMs = 5000;
// The whole request, from its start to the last byte of the body. Each step
// keeps its own 5-second limit, but a server that answers just often enough
// could otherwise hold the check open for hours.
constexpr long kUpdateDeadlineMs = 20000;

struct UpdateResult {
  uint32_t ok = 0;
  uint32_t newer = 0;
  std::string version;
  std::string description;
  std::string url;
  std::string error;
};

// Non-zero while a check runs (the number of that check, so that a finished
// check of an earlier dialog cannot clear the flag of a later one).
extern std::atomic<uint32_t> g_update_check_running;

// Where the metadata comes from: "https://<FRELVANTA_UPDATE_HOST>/latest.txt",
// or empty when the build names no update server. Tests point it at their
// own server and certificate authority.
struct UpdateEndpoint {
  std::string url;
  std::string ca_file;  // empty: the system's trusted certificates
  long deadline_ms = kUpdateDeadlineMs;
};
UpdateEndpoint update_endpoint();
void set_update_endpoint_for_tests(const UpdateEndpoint* endpoint);  // null: the build's own

// Link click: starts the check thread unless one runs. False when nothing
// was started (a check runs, no update server, or the thread failed).
bool begin_update_check(DialogHost& dialog);
// The thread's work: fills `result` (ok, newer and the fields, or error).
void run_update_check(UpdateResult* result);
// The HTTPS request (backend): on success `text` holds the decoded body.
bool fetch_update_metadata(const UpdateEndpoint& endpoint, std::string* text, std::string* error);
// The received body: UTF-8, else the ANSI code page (Windows-1252), fewer
// than 4,096 UTF-16 units.
bool decode_update_body(std::string_view body, std::string* text, std::string* error);
bool parse_update_metadata(std::string_view text, UpdateResult* result);
// The text without control characters: C0 other than tab and line ends (a
// lone carriage return is none), DEL, and the C1 code points U+0080..U+009F.
std::string strip_control_characters(std::string_view text);
// An "https://" URL that names a host and holds no control characters.
bool update_url_names_host(std::string_view url);
// Up to four numeric components; <0, 0, >0 like strcmp.
int compare_versions(std::string_view a, std::string_view b);
// The settings dialog's handling of the result message; `result` may be null.
void handle_update_result(DialogHost& dialog, const UpdateResult* result);
