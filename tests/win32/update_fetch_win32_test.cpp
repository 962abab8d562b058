// The update request through WinHTTP: what is refused before a request is
// made, and a local HTTPS server (started by with_update_server.sh) whose
// certificate nobody trusts is refused as well.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "dialogs/update_check.h"

namespace {
UpdateResult check(const std::string& url, long deadline_ms = kUpdateDeadlineMs) {
  UpdateEndpoint endpoint{url, {}, deadline_ms};
  set_update_endpoint_for_tests(&endpoint);
  UpdateResult r;
  run_update_check(&r);
  set_update_endpoint_for_tests(nullptr);
  return r;
}
}  // namespace

TEST(WinHttpUpdateFetch, RefusedBeforeAnyRequest) {
  struct Case {
    const char* url;
    const char* error;
  } cases[] = {
      {"http://localhost/latest.txt", "Update URL must use HTTPS."},
      {"not a url", "Failed to parse update URL."},
      // WinHTTP knows only its two schemes: any other is not a URL to it.
      {"ftp://localhost/latest.txt", "Failed to parse update URL."},
      {"", "Failed to parse update URL."},
  };
  for (const Case& c : cases) {
    UpdateResult r = check(c.url);
    EXPECT_EQ(r.ok, 0u) << c.url;
    EXPECT_EQ(r.error, c.error) << c.url;
  }
}

TEST(WinHttpUpdateFetch, UntrustedCertificateIsRefused) {
  const char* port = std::getenv("FV_UPDATE_PORT");
  if (!port) GTEST_SKIP() << "run through with_update_server.sh";
  UpdateResult r = check(std::string("https://localhost:") + port + "/uptodate");
  EXPECT_EQ(r.ok, 0u);
  EXPECT_EQ(r.error, "Failed to fetch update information.");
}

// A server that accepts and never answers, with a deadline shorter than the
// 5-second step limits: the request ends with the message of the step it was
// in (the time-outs are cut to what is left of the deadline).
TEST(WinHttpUpdateFetch, SilentServerEndsWithTheStepsMessage) {
  const char* port = std::getenv("FV_UPDATE_SILENT_PORT");
  if (!port) GTEST_SKIP() << "run through with_update_server.sh";
  UpdateResult r = check(std::string("https://localhost:") + port + "/uptodate", 1500);
  EXPECT_EQ(r.ok, 0u);
  EXPECT_EQ(r.error, "Failed to fetch update information.");
}
