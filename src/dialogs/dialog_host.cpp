#include "dialogs/dialog_host.h"

#include <atomic>

#include "platform/text.h"

namespace {
std::atomic<DialogRunner> g_runner{nullptr};
}

uint32_t DialogHost::item_number(int id) {
  std::string text = item_text(id);
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i == text.size()) return 0;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    if (value > UINT32_MAX) return 0;
  }
  return static_cast<uint32_t>(value);
}

void DialogHost::set_item_number(int id, uint32_t value) { set_item_text(id, std::to_string(value)); }

int DialogHost::list_select_prefix(int id, std::string_view prefix) {
  int n = list_count(id);
  for (int i = 0; i < n; ++i) {
    std::string text = list_text(id, i);
    if (text.size() >= prefix.size() && equals_ignore_case(std::string_view(text).substr(0, prefix.size()), prefix)) {
      list_select(id, i);
      return i;
    }
  }
  return -1;
}

void set_dialog_runner(DialogRunner runner) { g_runner.store(runner); }

int run_dialog(const std::vector<uint8_t>& dialog_template, DialogProc* proc, DialogHost* owner) {
  DialogRunner runner = g_runner.load();
  return runner ? runner(dialog_template, proc, owner) : -1;
}
