// The update request with WinHTTP in synchronous mode: HTTPS only, the
// system's certificate checks, 5-second time-outs, a deadline for the whole
// request, and the body limit enforced while it arrives.
#include <algorithm>
#include <string>

#include "platform/text.h"
#include "dialogs/update_check.h"

#include <windows.h>
#include <winhttp.h>

#include "platform/win32/wide.h"

namespace {
constexpr DWORD kHostUnits = 256;
constexpr DWORD kPathUnits = 1024;
constexpr DWORD kExtraUnits = 256;
constexpr size_t kRequestPathUnits = 1279;

// Closes a WinHTTP handle on every path out.
struct InternetHandle {
  HINTERNET h = nullptr;
  ~InternetHandle() {
    if (h) WinHttpCloseHandle(h);
  }
};

// The whole request ends by its deadline: before each wait on the server the
// request's time-outs are cut to what is left (never above the 5-second step
// limits), and no wait starts once nothing is left.
class RequestDeadline {
 public:
  explicit RequestDeadline(long total_ms)
      : end_(GetTickCount64() + static_cast<ULONGLONG>(total_ms > 0 ? total_ms : 0)) {}
  // False when the deadline has passed.
  bool limit(HINTERNET request) const {
    const ULONGLONG now = GetTickCount64();
    if (now >= end_) return false;
    const DWORD left = static_cast<DWORD>(std::min<ULONGLONG>(end_ - now, 0x7FFFFFFF));
    const int step = static_cast<int>(std::min<DWORD>(left, static_cast<DWORD>(kUpdateTimeoutMs)));
    WinHttpSetTimeouts(request, step, step, step, step);
    // The headers as a whole, however slowly they trickle in.
    DWORD whole = left;
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &whole, sizeof whole);
    return true;
  }

 private:
  ULONGLONG end_;
};

bool fail(std::string* error, const char* text) {
  *error = text;
  return false;
}
}  // namespace

bool fetch_update_metadata(const UpdateEndpoint& endpoint, std::string* text, std::string* error) {
  const RequestDeadline deadline(endpoint.deadline_ms);
  std::wstring url = to_wide(endpoint.url);
  wchar_t host[kHostUnits] = {};
  wchar_t path[kPathUnits] = {};
  wchar_t extra[kExtraUnits] = {};
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = host;
  parts.dwHostNameLength = kHostUnits;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = kPathUnits;
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = kExtraUnits;
  if (url.empty() || !WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts))
    return fail(error, "Failed to parse update URL.");
  if (parts.nScheme != INTERNET_SCHEME_HTTPS) return fail(error, "Update URL must use HTTPS.");
  std::wstring request_path = path[0] ? path : L"/";
  request_path += extra;
  if (request_path.size() > kRequestPathUnits) return fail(error, "Failed to parse update URL.");

  std::wstring agent = to_wide(kUpdateUserAgent);
  InternetHandle session{WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, 0)};
  if (!session.h) return fail(error, "Failed to initialize update check session.");
  const int timeout = static_cast<int>(kUpdateTimeoutMs);
  WinHttpSetTimeouts(session.h, timeout, timeout, timeout, timeout);
  InternetHandle connection{WinHttpConnect(session.h, host, parts.nPort, 0)};
  if (!connection.h) return fail(error, "Failed to connect to update server.");
  InternetHandle request{WinHttpOpenRequest(connection.h, L"GET", request_path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                            WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE)};
  if (!request.h) return fail(error, "Failed to open update request.");
  if (!deadline.limit(request.h) ||
      !WinHttpSendRequest(request.h, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request.h, nullptr))
    return fail(error, "Failed to fetch update information.");

  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!WinHttpQueryHeaders(request.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
    return fail(error, "Failed to read update server response.");
  if (status != 200) {
    *error = format_cut(kUpdateErrorUnits, "Update server returned HTTP %u.", static_cast<unsigned>(status));
    return false;
  }

  std::string body;
  for (;;) {
    DWORD available = 0;
    if (!deadline.limit(request.h) || !WinHttpQueryDataAvailable(request.h, &available))
      return fail(error, "Failed while reading update response.");
    if (available == 0) break;
    if (body.size() + available > kUpdateBodyLimit) return fail(error, "Update response is too large.");
    size_t at = body.size();
    body.resize(at + available);
    DWORD read = 0;
    if (!WinHttpReadData(request.h, body.data() + at, available, &read))
      return fail(error, "Failed while downloading update response.");
    body.resize(at + read);
  }
  if (body.empty()) return fail(error, "Update response was empty.");
  return decode_update_body(body, text, error);
}
