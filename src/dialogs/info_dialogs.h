#pragma once
// The About, Donate and Update-available dialogs, opened from the settings
// dialog (Donate also from the tray menu).
#include <cstdint>
#include <string>
#include <vector>

class DialogHost;
struct UpdateResult;

struct DonationCoin {
  const char* label;
  std::string address;
};
// The five coins in display order; addresses come from the build options
// (empty when the build names none).
std::vector<DonationCoin> donation_coins();

std::vector<uint8_t> build_about_template();   // empty when it exceeds 4,096 bytes
std::vector<uint8_t> build_donate_template();
std::vector<uint8_t> build_update_available_template();

void show_about_dialog(DialogHost* owner);
void show_donate_dialog(DialogHost* owner);
void show_update_available_dialog(DialogHost* owner, const UpdateResult& result);
