// The update request with libcurl: HTTPS only (also after redirects),
// certificate verification on, 5-second connect and idle limits, a deadline
// for the whole request, and the body limit enforced while it arrives.
#include <curl/curl.h>

#include <mutex>
#include <string>

#include "platform/text.h"
#include "dialogs/update_check.h"

namespace {
struct Transfer {
  CURL* curl = nullptr;
  std::string body;
  bool too_large = false;
  bool status_checked = false;
  long status = 0;
  bool status_failed = false;
};

// Status first, then the size: a refused response is reported by its
// status, and a body that would reach 8,193 bytes stops the transfer.
size_t on_body(char* data, size_t size, size_t count, void* user) {
  Transfer* t = static_cast<Transfer*>(user);
  size_t n = size * count;
  if (!t->status_checked) {
    t->status_checked = true;
    if (curl_easy_getinfo(t->curl, CURLINFO_RESPONSE_CODE, &t->status) != CURLE_OK) t->status_failed = true;
  }
  if (t->status_failed || t->status != 200) return 0;
  if (n > 0 && t->body.size() + n > kUpdateBodyLimit) {
    t->too_large = true;
    return 0;
  }
  t->body.append(data, n);
  return n;
}

struct CurlHandle {
  CURL* h = curl_easy_init();
  ~CurlHandle() {
    if (h) curl_easy_cleanup(h);
  }
};
struct UrlHandle {
  CURLU* h = curl_url();
  ~UrlHandle() {
    if (h) curl_url_cleanup(h);
  }
};
}  // namespace

bool fetch_update_metadata(const UpdateEndpoint& endpoint, std::string* text, std::string* error) {
  static std::once_flag init_once;
  std::call_once(init_once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

  UrlHandle url;
  char* scheme = nullptr;
  if (!url.h || curl_url_set(url.h, CURLUPART_URL, endpoint.url.c_str(), 0) != CURLUE_OK ||
      curl_url_get(url.h, CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) {
    *error = "Failed to parse update URL.";
    return false;
  }
  bool https = equals_ignore_case(scheme, "https");
  curl_free(scheme);
  if (!https) {
    *error = "Update URL must use HTTPS.";
    return false;
  }

  CurlHandle curl;
  if (!curl.h) {
    *error = "Failed to initialize update check session.";
    return false;
  }
  Transfer t;
  t.curl = curl.h;
  CURL* h = curl.h;
  bool set_ok = curl_easy_setopt(h, CURLOPT_CURLU, url.h) == CURLE_OK &&
                curl_easy_setopt(h, CURLOPT_USERAGENT, kUpdateUserAgent) == CURLE_OK &&
                curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https") == CURLE_OK &&
                curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
                curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "https") == CURLE_OK &&
                curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L) == CURLE_OK &&
                curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
                curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK &&
                curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, kUpdateTimeoutMs) == CURLE_OK &&
                // No byte for five seconds ends the transfer, as a receive time-out would.
                curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK &&
                curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kUpdateTimeoutMs / 1000) == CURLE_OK &&
                // ...and a trickle of bytes cannot hold it past the deadline.
                curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, endpoint.deadline_ms) == CURLE_OK &&
                curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
                curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, on_body) == CURLE_OK &&
                curl_easy_setopt(h, CURLOPT_WRITEDATA, &t) == CURLE_OK &&
                (endpoint.ca_file.empty() ||
                 curl_easy_setopt(h, CURLOPT_CAINFO, endpoint.ca_file.c_str()) == CURLE_OK);
  if (!set_ok) {
    *error = "Failed to open update request.";
    return false;
  }

  CURLcode rc = curl_easy_perform(h);
  if (t.status_failed) {
    *error = "Failed to read update server response.";
    return false;
  }
  if (!t.status_checked) {
    // No body byte arrived: the status comes from the headers, if any came.
    if (rc != CURLE_OK) {
      *error = rc == CURLE_COULDNT_CONNECT || rc == CURLE_COULDNT_RESOLVE_HOST ? "Failed to connect to update server."
                                                                            : "Failed to fetch update information.";
      return false;
    }
    if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &t.status) != CURLE_OK) {
      *error = "Failed to read update server response.";
      return false;
    }
  }
  if (t.status != 200) {
    *error = format_cut(kUpdateErrorUnits, "Update server returned HTTP %u.", static_cast<unsigned>(t.status));
    return false;
  }
  if (t.too_large) {
    *error = "Update response is too large.";
    return false;
  }
  if (rc != CURLE_OK) {
    *error = "Failed while reading update response.";
    return false;
  }
  if (t.body.empty()) {
    *error = "Update response was empty.";
    return false;
  }
  return decode_update_body(t.body, text, error);
}
