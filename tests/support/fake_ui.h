#pragma once
// A user interface for tests: records what the core shows (message boxes,
// balloons, the tray icon's calls, desktop notices, opened addresses) and
// answers as scripted. The encoder and capture threads report through it
// too, so every call is recorded under a lock; read the records once those
// threads are done (or under `mutex`).
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/ui_service.h"

struct FakeUi : UiService {
  struct Shown {
    std::string text, caption;
    int kind;  // a box's style (MB_*), a balloon's kind (NOTIFY_*)
  };
  std::vector<Shown> boxes, notes;
  std::vector<std::string> events;  // every call in order, one line each
  std::vector<std::string> tips, notices, urls;
  std::vector<TrayIconState> icons;
  std::vector<std::vector<TrayMenuItem>> menus;
  int tray_adds = 0, tray_deletes = 0;

  // Answers.
  int box_answer = IDOK;
  bool has_tray = true;
  int menu_choice = 0;
  std::function<void()> inside_box;  // runs (once) inside the next message box

  std::mutex mutex;

  int message_box(const std::string& text, const std::string& caption, uint32_t type) override {
    std::function<void()> nested;
    {
      std::lock_guard<std::mutex> lock(mutex);
      boxes.push_back({text, caption, static_cast<int>(type)});
      events.push_back("box|" + caption + "|" + text + "|" + std::to_string(type));
      nested = std::exchange(inside_box, nullptr);
    }
    // A box runs a nested event loop in which more can happen.
    if (nested) nested();
    return box_answer;
  }
  int tray_notification(const std::string& text, const std::string& caption, int kind) override {
    std::lock_guard<std::mutex> lock(mutex);
    notes.push_back({text, caption, kind});
    events.push_back("tray|" + caption + "|" + text + "|" + std::to_string(kind));
    return 1;
  }
  void tray_add() override {
    std::lock_guard<std::mutex> lock(mutex);
    ++tray_adds;
    events.push_back("add");
  }
  void tray_delete() override {
    std::lock_guard<std::mutex> lock(mutex);
    ++tray_deletes;
    events.push_back("delete");
  }
  void tray_set_icon(TrayIconState state) override {
    std::lock_guard<std::mutex> lock(mutex);
    icons.push_back(state);
  }
  void tray_set_tip(const std::string& tip) override {
    std::lock_guard<std::mutex> lock(mutex);
    tips.push_back(tip);
    events.push_back("tip " + tip);
  }
  bool tray_available() override { return has_tray; }
  int tray_popup_menu(const std::vector<TrayMenuItem>& items) override {
    std::lock_guard<std::mutex> lock(mutex);
    menus.push_back(items);
    std::string menu = "menu";
    for (const TrayMenuItem& i : items) menu += " " + std::to_string(i.id) + (i.enabled ? "" : "(off)");
    events.push_back(menu);
    return menu_choice;
  }
  void desktop_notice(const std::string& text, const std::string& caption) override {
    std::lock_guard<std::mutex> lock(mutex);
    notices.push_back(text);
    events.push_back("notice|" + caption + "|" + text);
  }
  void open_url(const std::string& url) override {
    std::lock_guard<std::mutex> lock(mutex);
    urls.push_back(url);
  }

  // "caption|text" of each message box, in order.
  std::vector<std::string> box_lines() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> out;
    for (const Shown& b : boxes) out.push_back(b.caption + "|" + b.text);
    return out;
  }
  // The texts of the message boxes, in order.
  std::vector<std::string> box_texts() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> out;
    for (const Shown& b : boxes) out.push_back(b.text);
    return out;
  }
};
