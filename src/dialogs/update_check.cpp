#include "dialogs/update_check.h"

#include <memory>
#include <system_error>
#include <thread>

#include "core/ui_service.h"
#include "platform/text.h"
#include "dialogs/dialog_host.h"
#include "dialogs/info_dialogs.h"
#include "dialogs/settings_ids.h"
#include "platform/thread.h"

std::atomic<uint32_t> g_update_check_running{0};

namespace {
const UpdateEndpoint* g_test_endpoint = nullptr;
std::atomic<uint32_t> g_check_number{0};

bool is_trim(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_trim(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_trim(s.back())) s.remove_suffix(1);
  return s;
}

void read_version(std::string_view s, uint32_t parts[4]) {
  size_t i = 0;
  for (int k = 0; k < 4; ++k) {
    parts[k] = 0;
    while (i < s.size() && (s[i] < '0' || s[i] > '9')) ++i;
    if (i == s.size()) continue;
    uint64_t v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
      v = v * 10 + static_cast<uint64_t>(s[i] - '0');
      if (v > UINT32_MAX) v = UINT32_MAX;
    }
    parts[k] = static_cast<uint32_t>(v);
  }
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool valid_utf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t need = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (!need || i + need > s.size()) return false;
    uint32_t v = need == 1 ? c : c & (0x7F >> need);
    for (size_t k = 1; k < need; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      v = (v << 6) | (cc & 0x3F);
    }
    static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (v < kMin[need] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return false;
    i += need;
  }
  return true;
}

// Windows-1252, the ANSI code page of western systems; the five unassigned
// bytes map to the control characters of the same number, as Windows does.
std::string windows1252_to_utf8(std::string_view s) {
  static const uint16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                     0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::u16string wide;
  for (unsigned char c : s) wide.push_back(c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : c);
  std::string out;
  for (char16_t c : wide) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// Length of the control character at `i`: 1 for C0 and DEL, 2 for a C1
// code point (C2 80..C2 9F in UTF-8; C2 is never a continuation byte), 0 for
// anything else.
size_t control_length(std::string_view s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x20 || c == 0x7F) return 1;
  if (c == 0xC2 && i + 1 < s.size()) {
    const unsigned char next = static_cast<unsigned char>(s[i + 1]);
    if (next >= 0x80 && next <= 0x9F) return 2;
  }
  return 0;
}

bool starts_with_key(std::string_view line, std::string_view key, std::string_view* value) {
  if (line.size() <= key.size() || !equals_ignore_case(line.substr(0, key.size()), key)) return false;
  char sep = line[key.size()];
  if (sep != '=' && sep != ':') return false;
  *value = trim(line.substr(key.size() + 1));
  return true;
}
}  // namespace

UpdateEndpoint update_endpoint() {
  if (g_test_endpoint) return *g_test_endpoint;
#ifdef FRELVANTA_UPDATE_HOST
  return UpdateEndpoint{std::string("https://") + FRELVANTA_UPDATE_HOST + "/latest.txt", {}};
#else
  return UpdateEndpoint{};
#endif
}

void set_update_endpoint_for_tests(const UpdateEndpoint* endpoint) { g_test_endpoint = endpoint; }

int compare_versions(std::string_view a, std::string_view b) {
  uint32_t pa[4], pb[4];
  read_version(a, pa);
  read_version(b, pb);
  for (int k = 0; k < 4; ++k)
    if (pa[k] != pb[k]) return pa[k] < pb[k] ? -1 : 1;
  return 0;
}

bool decode_update_body(std::string_view body, std::string* text, std::string* error) {
  std::string decoded = valid_utf8(body) && !body.empty() ? std::string(body) : windows1252_to_utf8(body);
  if (decoded.empty() || utf16_length(decoded) >= kUpdateTextUnits) {
    *error = "Update response encoding is invalid.";
    return false;
  }
  // The text ends at its first NUL, as a terminated buffer would.
  size_t nul = decoded.find('\0');
  if (nul != std::string::npos) decoded.resize(nul);
  // A byte-order mark would otherwise become part of the first line and hide
  // its key.
  if (decoded.compare(0, 3, "\xEF\xBB\xBF") == 0) decoded.erase(0, 3);
  *text = std::move(decoded);
  return true;
}

bool parse_update_metadata(std::string_view text, UpdateResult* r) {
  std::string* fields[3] = {&r->version, &r->description, &r->url};
  const size_t caps[3] = {kUpdateVersionUnits - 1, kUpdateDescriptionUnits - 1, kUpdateUrlUnits - 1};
  text = text.substr(0, std::min(text.size(), text.find('\0')));
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    static const struct {
      const char* key;
      int field;
    } kKeys[] = {{"version", 0}, {"description", 1}, {"url", 2}, {"link", 2}};
    std::string_view value;
    bool keyed = false;
    for (const auto& k : kKeys) {
      if (starts_with_key(line, k.key, &value)) {
        *fields[k.field] = utf16_truncate(value, caps[k.field]);
        keyed = true;
        break;
      }
    }
    if (keyed) continue;
    for (int f = 0; f < 3; ++f) {
      if (fields[f]->empty()) {
        *fields[f] = utf16_truncate(line, caps[f]);
        break;
      }
    }
  }
  // Shown to the user as they stand: no escape sequences, bells or stray
  // carriage returns from the server.
  r->version = strip_control_characters(r->version);
  r->description = strip_control_characters(r->description);
  for (std::string* f : fields) *f = std::string(trim(*f));
  if (r->version.empty()) {
    r->error = "Update metadata missing version.";
    return false;
  }
  if (r->url.empty()) {
    r->error = "Update metadata missing URL.";
    return false;
  }
  if (r->url.size() < 8 || !equals_ignore_case(std::string_view(r->url).substr(0, 8), "https://")) {
    r->error = "Update URL must start with https://";
    return false;
  }
  if (!update_url_names_host(r->url)) {
    r->error = "Update metadata format is invalid.";
    return false;
  }
  if (r->description.empty()) r->description = "A newer version is available.";
  return true;
}

std::string strip_control_characters(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const size_t n = control_length(text, i);
    const char c = text[i];
    const bool kept = c == '\t' || c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n');
    if (n == 0 || kept) {
      out.push_back(c);
    } else {
      i += n - 1;
    }
  }
  return out;
}

bool update_url_names_host(std::string_view url) {
  constexpr std::string_view kScheme = "https://";
  if (url.size() < kScheme.size() || !equals_ignore_case(url.substr(0, kScheme.size()), kScheme)) return false;
  for (size_t i = 0; i < url.size(); ++i)
    if (control_length(url, i) != 0) return false;
  // The authority ends where the path, query or fragment begins; a backslash
  // counts as a slash, as browsers read it.
  std::string_view authority = url.substr(kScheme.size());
  authority = authority.substr(0, authority.find_first_of("/?#\\"));
  if (authority.find(' ') != std::string_view::npos) return false;
  size_t at = authority.rfind('@');
  std::string_view host_port = at == std::string_view::npos ? authority : authority.substr(at + 1);
  std::string_view host, port;
  if (!host_port.empty() && host_port[0] == '[') {
    size_t close = host_port.find(']');
    if (close == std::string_view::npos) return false;
    host = host_port.substr(1, close - 1);
    port = host_port.substr(close + 1);
    if (!port.empty() && port[0] != ':') return false;
  } else {
    size_t colon = host_port.find(':');
    host = host_port.substr(0, colon);
    port = colon == std::string_view::npos ? std::string_view{} : host_port.substr(colon);
  }
  if (!port.empty()) port.remove_prefix(1);
  for (char c : port)
    if (c < '0' || c > '9') return false;
  return !host.empty();
}

void run_update_check(UpdateResult* result) {
  std::string text, error;
  if (!fetch_update_metadata(update_endpoint(), &text, &error)) {
    result->error = utf16_truncate(error, kUpdateErrorUnits - 1);
    return;
  }
  if (!parse_update_metadata(text, result)) {
    if (result->error.empty()) result->error = "Update metadata format is invalid.";
    return;
  }
  result->ok = 1;
  result->newer = compare_versions(result->version, kRunningVersion) > 0;
}

bool begin_update_check(DialogHost& dialog) {
  UpdateEndpoint endpoint = update_endpoint();
  if (endpoint.url.empty()) {
    dialog.message_box(
        "This build of Frelvanta has no update server, so it cannot check for updates. "
        "Nothing was contacted.",
        "Frelvanta", MB_ICONINFORMATION);
    return false;
  }
  uint32_t number = g_check_number.fetch_add(1) + 1;
  if (number == 0) number = g_check_number.fetch_add(1) + 1;
  uint32_t idle = 0;
  if (!g_update_check_running.compare_exchange_strong(idle, number)) return false;
  dialog.set_item_text(ID_UPDATE_LINK, "Checking for updates...");
  dialog.enable_item(ID_UPDATE_LINK, false);
  std::shared_ptr<DialogMailbox> mailbox = dialog.mailbox();
  const bool started = thread_start_detached([mailbox, number] {
    auto result = std::make_shared<UpdateResult>();
    run_update_check(result.get());
    if (!mailbox || !mailbox->post(MSG_UPDATE_RESULT, result)) {
      // The dialog is gone: the block goes with our last reference, and
      // the flag is ours to clear unless a later dialog started a check.
      uint32_t mine = number;
      g_update_check_running.compare_exchange_strong(mine, 0);
    }
  });
  if (!started) {
    g_update_check_running.store(0);
    dialog.set_item_text(ID_UPDATE_LINK, "Check For Updates");
    dialog.enable_item(ID_UPDATE_LINK, true);
    dialog.message_box("Failed to start update check.", "Frelvanta", MB_ICONERROR);
    return false;
  }
  return true;
}

void handle_update_result(DialogHost& dialog, const UpdateResult* result) {
  g_update_check_running.store(0);
  dialog.set_item_text(ID_UPDATE_LINK, "Check For Updates");
  dialog.enable_item(ID_UPDATE_LINK, true);
  if (!result) {
    dialog.message_box("Update check failed.", "Frelvanta", MB_ICONERROR);
  } else if (result->ok && result->newer) {
    show_update_available_dialog(&dialog, *result);
  } else if (result->ok) {
    dialog.message_box(format_cut(320, "Frelvanta %s is up to date.\nLatest available version: %s", kRunningVersion,
                                  result->version.c_str()),
                       "Frelvanta", MB_ICONINFORMATION);
  } else {
    dialog.message_box(result->error.empty() ? "Update check failed." : result->error, "Frelvanta", MB_ICONWARNING);
  }
}
