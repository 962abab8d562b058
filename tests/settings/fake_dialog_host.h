#pragma once
// A dialog host in memory: the controls of a real template, driven by the
// test, with the message boxes and nested dialogs recorded.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "dialogs/dialog_host.h"
#include "dialogs/dialog_template.h"

struct FakeControl {
  uint16_t atom = 0;
  uint32_t style = 0;
  std::string text;
  bool checked = false;
  bool enabled = true;
  std::vector<std::pair<std::string, std::string>> items;  // text, data
  int selection = -1;
};

struct ShownMessage {
  std::string text, caption;
  uint32_t type;
};

class FakeMailbox : public DialogMailbox {
 public:
  bool post(uint32_t message, std::shared_ptr<void> payload) override {
    std::lock_guard<std::mutex> lock(mutex);
    if (closed) return false;
    queue.emplace_back(message, std::move(payload));
    return true;
  }
  std::mutex mutex;
  bool closed = false;
  std::deque<std::pair<uint32_t, std::shared_ptr<void>>> queue;
};

class FakeDialogHost : public DialogHost {
 public:
  FakeDialogHost(const std::vector<uint8_t>& bytes, DialogProc* proc) : proc(proc) {
    EXPECT_TRUE(parse_dialog_template(bytes.data(), bytes.size(), &layout));
    for (const DialogItem& item : layout.items) {
      if (item.id == kNoControlId) continue;
      FakeControl& c = controls[item.id];
      c.atom = item.atom;
      c.style = item.style;
      c.text = item.text;
    }
  }

  FakeControl& control(int id) {
    auto it = controls.find(id);
    if (it == controls.end()) {
      ADD_FAILURE() << "no control " << id;
      return controls[id];
    }
    return it->second;
  }

  // Test-side actions, as a user would cause them.
  void click(int id) {
    FakeControl& c = control(id);
    if (c.atom == ATOM_BUTTON && (c.style & BS_TYPEMASK) == BS_AUTOCHECKBOX) c.checked = !c.checked;
    proc->on_command(*this, id, BN_CLICKED);
  }
  void choose(int id, int index) {
    control(id).selection = index;
    proc->on_command(*this, id, CBN_SELCHANGE);
  }
  void type(int id, const std::string& text) { control(id).text = text; }
  bool key_up(uint32_t key, uint32_t held) { return capturing && proc->on_key_up(*this, capturing, key, held); }
  void deliver_posted() {
    std::deque<std::pair<uint32_t, std::shared_ptr<void>>> q;
    {
      std::lock_guard<std::mutex> lock(box->mutex);
      q.swap(box->queue);
    }
    for (auto& m : q) proc->on_message(*this, m.first, m.second);
  }

  // DialogHost.
  std::string item_text(int id) override { return control(id).text; }
  void set_item_text(int id, std::string_view text) override { control(id).text = std::string(text); }
  bool is_checked(int id) override { return control(id).checked; }
  void set_checked(int id, bool checked) override { control(id).checked = checked; }
  void enable_item(int id, bool enabled) override { control(id).enabled = enabled; }
  bool item_enabled(int id) override { return control(id).enabled; }
  void list_reset(int id) override {
    control(id).items.clear();
    control(id).selection = -1;
  }
  int list_add(int id, std::string_view text, std::string data) override {
    control(id).items.emplace_back(std::string(text), std::move(data));
    return static_cast<int>(control(id).items.size()) - 1;
  }
  int list_count(int id) override { return static_cast<int>(control(id).items.size()); }
  int list_selection(int id) override { return control(id).selection; }
  void list_select(int id, int index) override {
    control(id).selection = index >= 0 && index < list_count(id) ? index : -1;
  }
  std::string list_text(int id, int index) override { return control(id).items.at(index).first; }
  std::string list_data(int id, int index) override { return control(id).items.at(index).second; }
  std::vector<std::string> list_texts(int id) {
    std::vector<std::string> out;
    for (auto& i : control(id).items) out.push_back(i.first);
    return out;
  }
  std::string selected_text(int id) {
    int s = control(id).selection;
    return s < 0 ? std::string("<none>") : control(id).items[s].first;
  }
  void begin_key_capture(int id) override { capturing = id; }
  void end_key_capture(int id) override {
    if (capturing == id) capturing = 0;
  }
  void end_dialog(int r) override {
    ended = true;
    result = r;
  }
  void bring_to_front() override { ++fronted; }
  std::shared_ptr<DialogMailbox> mailbox() override { return box; }
  int message_box(const std::string& text, const std::string& caption, uint32_t type) override {
    messages.push_back({text, caption, type});
    if (answers.empty()) return (type & 0xF) == MB_YESNO ? IDNO : 1;
    int a = answers.front();
    answers.pop_front();
    return a;
  }
  bool pick_folder(std::string* path) override {
    if (picked_folder.empty()) return false;
    *path = picked_folder;
    return true;
  }
  bool copy_to_clipboard(const std::string& text) override {
    clipboard = text;
    return clipboard_works;
  }
  void open_url(const std::string& url) override { opened_urls.push_back(url); }

  DialogProc* proc;
  DialogLayout layout;
  std::map<int, FakeControl> controls;
  int capturing = 0;
  bool ended = false;
  int result = -100;
  int fronted = 0;
  std::shared_ptr<FakeMailbox> box = std::make_shared<FakeMailbox>();
  std::vector<ShownMessage> messages;
  std::deque<int> answers;
  std::string picked_folder;
  std::string clipboard;
  bool clipboard_works = true;
  std::vector<std::string> opened_urls;
};

// Runs every dialog in a FakeDialogHost: init, the script registered for
// its title (or nothing), destroy. Nested dialogs are recorded by title.
struct FakeDialogRunner {
  static inline std::map<std::string, std::function<void(FakeDialogHost&)>> scripts;
  static inline std::vector<std::string> opened;
  static int run(const std::vector<uint8_t>& bytes, DialogProc* proc, DialogHost*) {
    FakeDialogHost host(bytes, proc);
    opened.push_back(host.layout.title);
    proc->on_init(host);
    auto it = scripts.find(host.layout.title);
    if (it == scripts.end() && host.layout.title.rfind("Frelvanta 3.3.0, ", 0) == 0) it = scripts.find("settings");
    if (it != scripts.end()) it->second(host);
    host.box->closed = true;
    proc->on_destroy(host);
    return host.ended ? host.result : -2;
  }
  static void install() {
    scripts.clear();
    opened.clear();
    set_dialog_runner(run);
  }
};
