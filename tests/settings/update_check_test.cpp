// The update check: its text rules alone, then the whole request against a
// local HTTPS server whose certificate only this test trusts.
#include "dialogs/update_check.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "core/ui_service.h"
#include "settings/fake_dialog_host.h"
#include "dialogs/settings_dialog.h"
#include "dialogs/settings_ids.h"
#include "dialogs/settings_template.h"
#include "support/temp_dir.h"
#include "support/wait.h"

TEST(UpdateMetadata, LineRules) {
  struct Case {
    const char* text;
    bool ok;
    const char* version;
    const char* description;
    const char* url;
    const char* error;
  } cases[] = {
      {"version=3.4.0\ndescription=Better\nurl=https://a.test/x", true, "3.4.0", "Better", "https://a.test/x", ""},
      {"VERSION: 3.4.0 \r\n  Link:   https://a.test/l\r\n", true, "3.4.0", "A newer version is available.",
       "https://a.test/l", ""},
      {"# comment\n; another\n\n   \n3.4.0\nPositional text\nhttps://a.test/p\nignored\n", true, "3.4.0",
       "Positional text", "https://a.test/p", ""},
      // "link =" has a space before the separator: not a key line.
      {"version=1\nlink = https://a.test/x\nurl=https://a.test/u", true, "1", "link = https://a.test/x",
       "https://a.test/u", ""},
      {"version=1\nversion=2\nurl=https://a.test/a\nlink=HTTPS://a.test/b", true, "2", "A newer version is available.",
       "HTTPS://a.test/b", ""},
      {"url=https://a.test/x", false, "", "", "https://a.test/x", "Update metadata missing version."},
      {"version=3.4.0\ndescription=x", false, "3.4.0", "x", "", "Update metadata missing URL."},
      {"version=3.4.0\nurl=http://a.test/x", false, "3.4.0", "", "http://a.test/x",
       "Update URL must start with https://"},
      {"version=\nurl=https://a.test", false, "", "", "https://a.test", "Update metadata missing version."},
      // What is shown loses its control characters: C0 but tab, DEL, and C1
      // as code points (U+0085 and U+009B go; U+00A0 and the euro sign,
      // whose UTF-8 holds the byte 0x82, stay).
      {"version=99\rInjected: yes\ndescription=\x1b[31mRed\x07 \x7f\talert\nurl=https://a.test/x", true,
       "99Injected: yes", "[31mRed \talert", "https://a.test/x", ""},
      {"version=\x1b 3.4\xC2\x85.0\ndescription=\xC2\x9B""1m\xC2\xA0\xE2\x82\xAC 5\nurl=https://a.test", true, "3.4.0",
       "1m\xC2\xA0\xE2\x82\xAC 5", "https://a.test", ""},
      {"version=\x1b\x07\x01\nurl=https://a.test", false, "", "", "https://a.test", "Update metadata missing version."},
      // The URL must name a host and hold no control characters.
      {"version=1\nurl=https:///etc/passwd", false, "1", "", "https:///etc/passwd",
       "Update metadata format is invalid."},
      {"version=1\nurl=https://", false, "1", "", "https://", "Update metadata format is invalid."},
      {"version=1\nurl=https://user@:443/x", false, "1", "", "https://user@:443/x",
       "Update metadata format is invalid."},
      {"version=1\nurl=https://\\evil.test/", false, "1", "", "https://\\evil.test/",
       "Update metadata format is invalid."},
      {"version=1\nurl=https://a.test:80x/", false, "1", "", "https://a.test:80x/",
       "Update metadata format is invalid."},
      {"version=1\nurl=https://a.test/\x1b[2J", false, "1", "", "https://a.test/\x1b[2J",
       "Update metadata format is invalid."},
      {"version=1\nurl=https://[::1]:8443/x", true, "1", "A newer version is available.", "https://[::1]:8443/x", ""},
      {"version=1\nurl=https://me@a.test:8443?q#f", true, "1", "A newer version is available.",
       "https://me@a.test:8443?q#f", ""},
  };
  for (const Case& c : cases) {
    UpdateResult r;
    EXPECT_EQ(parse_update_metadata(c.text, &r), c.ok) << c.text;
    EXPECT_EQ(r.version, c.version) << c.text;
    EXPECT_EQ(r.url, c.url) << c.text;
    EXPECT_EQ(r.error, c.error) << c.text;
    if (c.ok) {
      EXPECT_EQ(r.description, c.description) << c.text;
    }
  }
  // Values are cut to their fields (63, 511 and 511 units).
  UpdateResult r;
  std::string text = "version=" + std::string(100, '9') + "\ndescription=" + std::string(600, 'd') +
                     "\nurl=https://" + std::string(600, 'u');
  ASSERT_TRUE(parse_update_metadata(text, &r));
  EXPECT_EQ(r.version.size(), 63u);
  EXPECT_EQ(r.description.size(), 511u);
  EXPECT_EQ(r.url.size(), 511u);
}

TEST(UpdateMetadata, VersionComparison) {
  struct Case {
    const char* published;
    int expected;
  } cases[] = {
      {"3.3.0", 0},  {"3.3", 0},           {"3.3.0.0", 0}, {"3.3.1", 1},   {"3.4", 1},
      {"3.10.0", 1}, {"v3.3.1-beta2", 1},  {"3.2.9", -1},  {"2", -1},      {"3.3.0.1", 1},
      {"", -1},      {"99999999999.0", 1}, {"3.3.0.0.9", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(compare_versions(c.published, kRunningVersion), c.expected) << c.published;
  // Components saturate at 4,294,967,295.
  EXPECT_EQ(compare_versions("4294967295", "99999999999"), 0);
}

TEST(UpdateMetadata, Decoding) {
  std::string text, error;
  EXPECT_TRUE(decode_update_body("version=3.4.0\xE2\x82\xAC", &text, &error));
  EXPECT_EQ(text, "version=3.4.0\xE2\x82\xAC");
  EXPECT_TRUE(decode_update_body("Caf\xE9 \x80", &text, &error)) << "not UTF-8: the ANSI code page";
  EXPECT_EQ(text, "Caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_TRUE(decode_update_body("\xEF\xBB\xBFversion=1", &text, &error));
  EXPECT_EQ(text, "version=1") << "a byte-order mark does not hide the first key";
  EXPECT_TRUE(decode_update_body(std::string(4095, 'a'), &text, &error));
  EXPECT_FALSE(decode_update_body(std::string(4096, 'a'), &text, &error));
  EXPECT_EQ(error, "Update response encoding is invalid.");
}

namespace {
// The local server, started once for the suite.
class UpdateServer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    std::string cert = dir_->file("cert.pem"), key = dir_->file("key.pem");
    std::string cmd = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost "
                      "-addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout " + key + " -out " + cert +
                      " >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << "openssl";
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      execlp("python3", "python3", FV_UPDATE_SERVER_SCRIPT, cert.c_str(), key.c_str(), nullptr);
      _exit(127);
    }
    close(out[1]);
    FILE* f = fdopen(out[0], "r");
    ASSERT_EQ(fscanf(f, "%d %d", &port_, &silent_port_), 2) << "server did not start";
    fclose(f);
    ca_file_ = cert;
  }
  static void TearDownTestSuite() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    delete dir_;
  }
  void TearDown() override { set_update_endpoint_for_tests(nullptr); }

  static UpdateEndpoint at(const std::string& path, int port = 0) {
    return UpdateEndpoint{"https://localhost:" + std::to_string(port ? port : port_) + path, ca_file_};
  }
  static UpdateResult check(const UpdateEndpoint& endpoint) {
    set_update_endpoint_for_tests(&endpoint);
    UpdateResult r;
    run_update_check(&r);
    set_update_endpoint_for_tests(nullptr);
    return r;
  }

  static inline TempDir* dir_ = nullptr;
  static inline pid_t pid_ = -1;
  static inline int port_ = 0, silent_port_ = 0;
  static inline std::string ca_file_;
};

// The request's own time-outs are ten seconds and more.
constexpr std::chrono::seconds kCheckEnds{15};
}  // namespace

TEST_F(UpdateServer, Responses) {
  struct Case {
    const char* path;
    uint32_t ok, newer;
    const char* version;
    const char* description;
    const char* url;
    const char* error;
  } cases[] = {
      {"/uptodate", 1, 0, "3.3.0", "A newer version is available.", "https://example.test/d", ""},
      {"/newer", 1, 1, "3.3.1", "description = ignored", "https://example.test/n", ""},
      {"/positional", 1, 1, "3.4.0", "A positional description", "https://example.test/p", ""},
      {"/latin1", 1, 1, "3.4.0", "Caf\xC3\xA9", "https://example.test/l", ""},
      {"/agent", 1, 0, "3.3.0", "A newer version is available.", "https://example.test/Frelvanta/3.3.0", ""},
      {"/redirect-https", 1, 1, "3.3.1", "description = ignored", "https://example.test/n", ""},
      {"/httpurl", 0, 0, "", "", "", "Update URL must start with https://"},
      {"/exact", 1, 0, "3.3.0", "A newer version is available.", "https://example.test/d", ""},
      {"/over", 0, 0, "", "", "", "Update response is too large."},
      {"/missing", 0, 0, "", "", "", "Update server returned HTTP 404."},
      {"/empty", 0, 0, "", "", "", "Update response was empty."},
      {"/toolong", 0, 0, "", "", "", "Update response encoding is invalid."},
      {"/redirect-http", 0, 0, "", "", "", "Failed to fetch update information."},
  };
  for (const Case& c : cases) {
    UpdateResult r = check(at(c.path));
    EXPECT_EQ(r.ok, c.ok) << c.path;
    EXPECT_EQ(r.newer, c.newer) << c.path;
    EXPECT_EQ(r.error, c.error) << c.path;
    if (c.ok) {
      EXPECT_EQ(r.version, c.version) << c.path;
      EXPECT_EQ(r.description, c.description) << c.path;
      EXPECT_EQ(r.url, c.url) << c.path;
    }
  }
}

TEST_F(UpdateServer, RefusedBeforeContact) {
  // Plain HTTP is never requested, and a certificate nobody vouches for fails.
  EXPECT_EQ(check(UpdateEndpoint{"http://localhost:" + std::to_string(port_) + "/uptodate", ca_file_}).error,
            "Update URL must use HTTPS.");
  EXPECT_EQ(check(UpdateEndpoint{"https://", ca_file_}).error, "Failed to parse update URL.");
  EXPECT_EQ(check(UpdateEndpoint{"https://localhost:" + std::to_string(port_) + "/uptodate", ""}).error,
            "Failed to fetch update information.");
}

TEST_F(UpdateServer, SilentServerTimesOutWhileTheDialogStaysUsable) {
  UpdateEndpoint endpoint = at("/uptodate", silent_port_);
  set_update_endpoint_for_tests(&endpoint);
  SettingsDialogProc proc(nullptr);
  FakeDialogHost d(build_settings_template(), &proc);
  g_update_check_running.store(0);
  // The click returns at once; the request runs on its own thread.
  ASSERT_TRUE(begin_update_check(d));
  EXPECT_EQ(d.item_text(ID_UPDATE_LINK), "Checking for updates...");
  EXPECT_FALSE(d.item_enabled(ID_UPDATE_LINK));
  EXPECT_FALSE(begin_update_check(d)) << "a second click while the check runs starts nothing";
  d.set_item_text(ID_OUTPUT_FOLDER, "still answering");
  EXPECT_EQ(d.item_text(ID_OUTPUT_FOLDER), "still answering");
  ASSERT_TRUE(wait_until([&] {
    std::lock_guard<std::mutex> lock(d.box->mutex);
    return !d.box->queue.empty();
  }, kCheckEnds));
  d.deliver_posted();
  ASSERT_EQ(d.messages.size(), 1u);
  EXPECT_EQ(d.messages[0].text, "Failed to fetch update information.");
  EXPECT_EQ(d.messages[0].type, MB_ICONWARNING);
  EXPECT_EQ(g_update_check_running.load(), 0u);
  EXPECT_TRUE(d.item_enabled(ID_UPDATE_LINK));
}

TEST_F(UpdateServer, DialogClosedWhileTheCheckRuns) {
  UpdateEndpoint endpoint = at("/slow");
  set_update_endpoint_for_tests(&endpoint);
  {
    SettingsDialogProc proc(nullptr);
    FakeDialogHost d(build_settings_template(), &proc);
    g_update_check_running.store(0);
    ASSERT_TRUE(begin_update_check(d));
    // The dialog goes away: its mailbox refuses the result.
    std::lock_guard<std::mutex> lock(d.box->mutex);
    d.box->closed = true;
  }
  // The thread frees the result itself and clears the flag it set.
  EXPECT_TRUE(wait_until([] { return g_update_check_running.load() == 0; }, kCheckEnds));
}

// A server that sends a byte every half second satisfies every per-step
// limit, and its answers would run for ten minutes: the deadline ends the
// check with the message of the step it interrupts, and the dialog answers
// meanwhile. The build's own deadline, through the dialog as a click starts
// it; a shorter one for the other step.
TEST_F(UpdateServer, DripFedAnswersEndByTheDeadline) {
  struct Case {
    const char* path;
    long deadline_ms;
    const char* error;
  } cases[] = {
      {"/drip-body", kUpdateDeadlineMs, "Failed while reading update response."},
      {"/drip-headers", 2000, "Failed to fetch update information."},
  };
  for (const Case& c : cases) {
    UpdateEndpoint endpoint = at(c.path);
    endpoint.deadline_ms = c.deadline_ms;
    set_update_endpoint_for_tests(&endpoint);
    SettingsDialogProc proc(nullptr);
    FakeDialogHost d(build_settings_template(), &proc);
    g_update_check_running.store(0);
    ASSERT_TRUE(begin_update_check(d)) << c.path;
    EXPECT_FALSE(d.item_enabled(ID_UPDATE_LINK)) << c.path;
    d.set_item_text(ID_OUTPUT_FOLDER, c.path);
    EXPECT_EQ(d.item_text(ID_OUTPUT_FOLDER), c.path);
    ASSERT_TRUE(wait_until([&] {
      std::lock_guard<std::mutex> lock(d.box->mutex);
      return !d.box->queue.empty();
    }, std::chrono::seconds(90))) << c.path << ": the check was still running after 90 s";
    d.deliver_posted();
    ASSERT_EQ(d.messages.size(), 1u) << c.path;
    EXPECT_EQ(d.messages[0].text, c.error) << c.path;
    EXPECT_EQ(d.messages[0].type, MB_ICONWARNING) << c.path;
    EXPECT_TRUE(d.item_enabled(ID_UPDATE_LINK)) << c.path;
    EXPECT_EQ(g_update_check_running.load(), 0u) << c.path;
  }
}
