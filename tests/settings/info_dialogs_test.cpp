// About, Donate and Update-available in a fake host. This executable builds
// the dialogs with links and donation addresses, as a release build would.
#include "dialogs/info_dialogs.h"

#include <gtest/gtest.h>

#include "core/ui_service.h"
#include "settings/fake_dialog_host.h"
#include "dialogs/settings_ids.h"
#include "dialogs/update_check.h"

namespace {
class InfoDialogs : public ::testing::Test {
 protected:
  void SetUp() override { FakeDialogRunner::install(); }
  void TearDown() override { set_dialog_runner(nullptr); }
};
}  // namespace

TEST_F(InfoDialogs, DonateListsFiveCoinsAndCopiesOnlyTheAddress) {
  std::vector<std::string> lines;
  FakeDialogRunner::scripts["Donate to Frelvanta"] = [&](FakeDialogHost& d) {
    lines = d.list_texts(ID_DONATE_LIST);
    EXPECT_EQ(d.list_selection(ID_DONATE_LIST), 0);
    EXPECT_TRUE(d.item_enabled(ID_DONATE_COPY));
    d.list_select(ID_DONATE_LIST, 1);
    d.click(ID_DONATE_COPY);
    EXPECT_EQ(d.clipboard, "0xTestEth");
    d.list_select(ID_DONATE_LIST, 2);
    d.proc->on_command(d, ID_DONATE_LIST, LBN_DBLCLK);
    EXPECT_EQ(d.clipboard, "ltc1test");
    d.clipboard.clear();
    d.list_select(ID_DONATE_LIST, -1);
    d.click(ID_DONATE_COPY);
    EXPECT_EQ(d.clipboard, "") << "no selection copies nothing";
    EXPECT_TRUE(d.messages.empty());
    d.clipboard_works = false;
    d.list_select(ID_DONATE_LIST, 0);
    d.click(ID_DONATE_COPY);
    ASSERT_EQ(d.messages.size(), 1u);
    EXPECT_EQ(d.messages[0].text, "Failed to copy donation address to clipboard.");
    EXPECT_EQ(d.messages[0].caption, "Frelvanta");
    EXPECT_EQ(d.messages[0].type, MB_ICONERROR);
    EXPECT_FALSE(d.ended) << "the dialog stays open";
    d.proc->on_command(d, ID_CANCEL, BN_CLICKED);  // Esc or the close box
    EXPECT_EQ(d.result, 1);
  };
  show_donate_dialog(nullptr);
  EXPECT_EQ(lines, (std::vector<std::string>{"BTC: bc1test", "ETH: 0xTestEth", "LTC: ltc1test", "SOL: SoLtest",
                                             "USDT (ERC20): 0xTestEth"}));
}

TEST_F(InfoDialogs, AboutLinksOpenAndLeaveItOpen) {
  FakeDialogRunner::scripts["About Frelvanta"] = [&](FakeDialogHost& d) {
    EXPECT_EQ(d.item_text(ID_ABOUT_ENGINE_LINK), "https://project.test/frelvanta");
    EXPECT_TRUE(d.proc->is_link(ID_ABOUT_ENGINE_LINK));
    EXPECT_TRUE(d.proc->is_link(ID_ABOUT_CONTRIBUTOR_LINK));
    d.proc->on_command(d, ID_ABOUT_ENGINE_LINK, STN_CLICKED);
    d.proc->on_command(d, ID_ABOUT_CONTRIBUTOR_LINK, STN_CLICKED);
    EXPECT_EQ(d.opened_urls, (std::vector<std::string>{"https://project.test/frelvanta", "https://people.test/"}));
    EXPECT_FALSE(d.ended);
    d.proc->on_command(d, ID_CANCEL, BN_CLICKED);
    EXPECT_EQ(d.result, 1) << "closed any way, About returns 1";
  };
  show_about_dialog(nullptr);
  EXPECT_EQ(FakeDialogRunner::opened, (std::vector<std::string>{"About Frelvanta"}));
}

TEST_F(InfoDialogs, UpdateAvailableShowsTheResultAndOpensTheUrl) {
  UpdateResult r;
  r.ok = r.newer = 1;
  r.version = "3.4.0";
  r.description = std::string(600, 'd');
  r.url = "https://example.test/get";
  for (int button : {ID_VIEW_UPDATE, ID_UPDATE_CLOSE, ID_CANCEL}) {
    FakeDialogRunner::scripts["Frelvanta Update Available"] = [&](FakeDialogHost& d) {
      EXPECT_EQ(d.item_text(ID_UPDATE_VERSION), "3.4.0");
      EXPECT_EQ(d.item_text(ID_UPDATE_DESCRIPTION), std::string(511, 'd')) << "cut to its 512-unit block";
      if (button == ID_CANCEL) d.proc->on_command(d, ID_CANCEL, BN_CLICKED);  // Esc or the close box
      else d.click(button);
      EXPECT_EQ(d.opened_urls.size(), button == ID_VIEW_UPDATE ? 1u : 0u);
      EXPECT_EQ(d.result, 1);
    };
    show_update_available_dialog(nullptr, r);
  }
}
