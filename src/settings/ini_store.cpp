#include "settings/ini_store.h"

#include "platform/files.h"
#include "platform/text.h"

namespace {
constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

// "[name]" (the closing bracket may be missing) -> name.
bool section_name(std::string_view line, std::string_view* name) {
  std::string_view t = trim(line);
  if (t.empty() || t.front() != '[') return false;
  t.remove_prefix(1);
  size_t close = t.find(']');
  *name = trim(close == std::string_view::npos ? t : t.substr(0, close));
  return true;
}

// "key = value"; comments (';') and lines without '=' are not keys.
bool key_line(std::string_view line, std::string_view* key, std::string_view* value) {
  std::string_view t = trim(line);
  if (t.empty() || t.front() == ';' || t.front() == '[') return false;
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return false;
  *key = trim(t.substr(0, eq));
  *value = trim(t.substr(eq + 1));
  return true;
}

bool has_line_break(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }
}  // namespace

ReadStatus IniDocument::read(const std::string& path) {
  std::string bytes;
  ReadStatus status = read_input_file(path, kMaxIniBytes, &bytes);
  parse(status == ReadStatus::kOk ? std::string_view(bytes) : std::string_view());
  return status;
}

void IniDocument::parse(std::string_view bytes) {
  lines_.clear();
  ends_.clear();
  eol_ = "\r\n";
  bom_ = bytes.substr(0, kBom.size()) == kBom;
  if (bom_) bytes.remove_prefix(kBom.size());
  bool eol_known = false;
  while (!bytes.empty()) {
    size_t nl = bytes.find('\n');
    if (nl == std::string_view::npos) {
      lines_.emplace_back(bytes);
      ends_.emplace_back();
      break;
    }
    size_t text_end = (nl > 0 && bytes[nl - 1] == '\r') ? nl - 1 : nl;
    lines_.emplace_back(bytes.substr(0, text_end));
    ends_.emplace_back(bytes.substr(text_end, nl + 1 - text_end));
    if (!eol_known) {
      eol_ = ends_.back();
      eol_known = true;
    }
    bytes.remove_prefix(nl + 1);
  }
}

std::string IniDocument::serialize() const {
  std::string out;
  if (bom_) out += kBom;
  for (size_t i = 0; i < lines_.size(); ++i) {
    out += lines_[i];
    out += ends_[i];
  }
  return out;
}

bool IniDocument::save(const std::string& path) const { return replace_file_contents(path, serialize()); }

void IniDocument::find_section(std::string_view section, size_t* header, size_t* end) const {
  *header = std::string_view::npos;
  *end = lines_.size();
  std::string_view name;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (!section_name(lines_[i], &name)) continue;
    if (*header != std::string_view::npos) {
      *end = i;
      return;
    }
    if (equals_ignore_case(name, section)) *header = i;
  }
}

size_t IniDocument::find_key(size_t header, size_t end, std::string_view key) const {
  std::string_view k, v;
  for (size_t i = header + 1; i < end; ++i) {
    if (key_line(lines_[i], &k, &v) && equals_ignore_case(k, key)) return i;
  }
  return std::string_view::npos;
}

bool IniDocument::get(std::string_view section, std::string_view key, std::string* value) const {
  size_t header, end;
  find_section(trim(section), &header, &end);
  if (header == std::string_view::npos) return false;
  size_t i = find_key(header, end, trim(key));
  if (i == std::string_view::npos) return false;
  std::string_view k, v;
  key_line(lines_[i], &k, &v);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  value->assign(v);
  return true;
}

void IniDocument::insert_line(size_t at, std::string text) {
  // The line before the new one must end, or the two would run together.
  if (at > 0 && ends_[at - 1].empty()) ends_[at - 1] = eol_;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(text));
  ends_.insert(ends_.begin() + static_cast<std::ptrdiff_t>(at), eol_);
}

bool IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
  std::string_view s = trim(section), k = trim(key);
  if (s.empty() || k.empty() || has_line_break(section) || has_line_break(key) || has_line_break(value) ||
      section.find(']') != std::string_view::npos || key.find('=') != std::string_view::npos ||
      k.front() == ';' || k.front() == '[') {
    return false;
  }
  std::string line = std::string(k) + "=" + std::string(value);
  size_t header, end;
  find_section(s, &header, &end);
  if (header == std::string_view::npos) {
    if (!lines_.empty() && !trim(lines_.back()).empty()) insert_line(lines_.size(), std::string());
    insert_line(lines_.size(), "[" + std::string(s) + "]");
    insert_line(lines_.size(), std::move(line));
    return true;
  }
  size_t i = find_key(header, end, k);
  if (i != std::string_view::npos) {
    lines_[i] = std::move(line);
    return true;
  }
  // After the section's last key, so that comments and blank lines that
  // lead into the next section stay with it.
  size_t at = header + 1;
  std::string_view kk, vv;
  for (size_t j = header + 1; j < end; ++j) {
    if (key_line(lines_[j], &kk, &vv)) at = j + 1;
  }
  insert_line(at, std::move(line));
  return true;
}

bool IniDocument::remove(std::string_view section, std::string_view key) {
  size_t header, end;
  find_section(trim(section), &header, &end);
  if (header == std::string_view::npos) return false;
  size_t i = find_key(header, end, trim(key));
  if (i == std::string_view::npos) return false;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
  ends_.erase(ends_.begin() + static_cast<std::ptrdiff_t>(i));
  return true;
}

namespace {
std::string lower_ascii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string snapshot_key(std::string_view section, std::string_view key) {
  return lower_ascii(section) + '\n' + lower_ascii(key);
}
}  // namespace

ReadStatus IniSnapshot::load(const std::string& path) {
  std::string bytes;
  ReadStatus status = read_input_file(path, kMaxIniBytes, &bytes);
  parse(status == ReadStatus::kOk ? std::string_view(bytes) : std::string_view());
  return status;
}

void IniSnapshot::parse(std::string_view bytes) {
  values_.clear();
  // The lines as IniDocument::parse splits them, walked once without
  // copying; as IniDocument::get, only the first section of a name counts,
  // and in it the first line of a key.
  if (bytes.substr(0, kBom.size()) == kBom) bytes.remove_prefix(kBom.size());
  std::unordered_map<std::string, bool> seen_sections;
  bool collecting = false;
  std::string prefix, lname;
  while (!bytes.empty()) {
    size_t nl = bytes.find('\n');
    std::string_view line = bytes.substr(0, nl);
    bytes.remove_prefix(nl == std::string_view::npos ? bytes.size() : nl + 1);
    if (nl != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string_view name, k, v;
    if (section_name(line, &name)) {
      lname.assign(name);
      for (char& c : lname) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      }
      collecting = seen_sections.find(lname) == seen_sections.end();
      if (collecting) {
        seen_sections.emplace(lname, true);
        prefix = lname + '\n';
      }
      continue;
    }
    if (!collecting || !key_line(line, &k, &v)) continue;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
      v = v.substr(1, v.size() - 2);
    }
    values_.emplace(prefix + lower_ascii(k), std::string(v));
  }
}

bool IniSnapshot::get(std::string_view section, std::string_view key, std::string* value) const {
  auto it = values_.find(snapshot_key(trim(section), trim(key)));
  if (it == values_.end()) return false;
  *value = it->second;
  return true;
}

std::string ini_get_string(const std::string& path, std::string_view section, std::string_view key,
                           std::string_view fallback) {
  IniSnapshot snapshot;
  std::string value;
  if (snapshot.load(path) == ReadStatus::kOk && snapshot.get(section, key, &value)) return value;
  return std::string(fallback);
}

uint32_t ini_parse_int(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (is_blank(text[i]) || text[i] == '\r' || text[i] == '\n')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + static_cast<uint64_t>(text[i] - '0');
    if (magnitude > 0xFFFFFFFFull) magnitude = 0x100000000ull;  // saturate; only the range matters
  }
  constexpr uint32_t kNegative = 0x80000000u;  // INT32_MIN: rejected by every caller, never -1
  if (!negative) return magnitude > 0xFFFFFFFFull ? kNegative : static_cast<uint32_t>(magnitude);
  if (magnitude > 0x80000000ull) return kNegative;
  return static_cast<uint32_t>(0u - static_cast<uint32_t>(magnitude));
}

uint32_t ini_get_int(const std::string& path, std::string_view section, std::string_view key, int32_t fallback) {
  std::string value = ini_get_string(path, section, key, "");
  if (value.empty()) return static_cast<uint32_t>(fallback);
  return ini_parse_int(value);
}

bool ini_put_string(const std::string& path, std::string_view section, std::string_view key,
                    const std::string* value) {
  IniDocument doc;
  // A file that exists but cannot be read whole (too large, not a regular
  // file) is left alone: writing our key alone would lose everything else.
  ReadStatus status = doc.read(path);
  if (status != ReadStatus::kOk && status != ReadStatus::kMissing) return false;
  if (value == nullptr) return !doc.remove(section, key) || doc.save(path);
  return doc.set(section, key, *value) && doc.save(path);
}
