// Screen capture on Windows' own services under Wine: the adapters and the
// Direct3D 11 device, the failure balloon, the first-run encoder default;
// the capture runtime missing (as under Wine) and the GDI source in its
// place, whose frames must equal what a window drew; and the compositor and
// window reads answered with values of machines Wine is not (a 59.94 Hz
// display, windows with invisible resize borders, rounded corners, display
// affinity).
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "capture/capture.h"
#include "capture/capture_service.h"
#include "capture/win32/d3d11_device.h"
#include "capture/win32/wgc_interfaces.h"
#include "capture/win32/wgc_runtime.h"
#include "capture/win32/window_calls.h"
#include "core/app_state.h"
#include "core/trace.h"
#include "support/fake_ui.h"
#include "video/encode/media_writer.h"
#include "video/intake/governor.h"
#include "win32/win32_temp.h"

namespace {

// ---- The device ----------------------------------------------------------

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_reset();
    g_ui_service = &ui_;
  }
  void TearDown() override {
    direct3d_calls_set(nullptr);
    media_platform_set(nullptr);
    g_ui_service = nullptr;
  }
  FakeUi ui_;
};

// Wine reports one adapter; both preferences give it, and a device made for
// any setting sits on it with at least feature level 11_0.
TEST_F(DeviceTest, AdaptersAndTheDeviceOnThePreferredOne) {
  const std::vector<DxgiAdapterInfo> power = list_adapters(true);
  const std::vector<DxgiAdapterInfo> speed = list_adapters(false);
  ASSERT_FALSE(power.empty());
  ASSERT_EQ(power.size(), speed.size());
  for (const DxgiAdapterInfo& a : power) {
    std::printf("adapter %s luid=%016llx vendor=0x%04x device=0x%04x\n", a.name.c_str(),
                static_cast<unsigned long long>(a.luid), a.vendor_id, a.device_id);
  }
  EXPECT_NE(power[0].luid, 0u);
  if (power.size() == 1) EXPECT_EQ(power[0].luid, speed[0].luid);

  const struct {
    uint32_t hardware, integrated;
    uint64_t luid;
  } cases[] = {{1, 1, power[0].luid}, {1, 0, speed[0].luid}, {0, 1, 0}, {0, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "HardwareEncoder=" << c.hardware << " PreferIntegrated=" << c.integrated);
    g_app.config.HardwareEncoder = c.hardware;
    g_app.config.HardwarePreferIntegrated = c.integrated;
    std::shared_ptr<CaptureDevice> device = create_capture_device();
    ASSERT_TRUE(device);
    ID3D11Device* d3d = capture_d3d11_device(*device);
    ASSERT_NE(d3d, nullptr);
    EXPECT_GE(d3d->GetFeatureLevel(), D3D_FEATURE_LEVEL_11_0);
    // The default adapter, when none is chosen, is the system's first.
    EXPECT_EQ(device->adapter_luid, c.luid != 0 ? c.luid : list_adapters(false)[0].luid);
    EXPECT_FALSE(device->adapter_name.empty());
  }
  EXPECT_TRUE(ui_.notes.empty());
}

// What the device is asked for, and the balloon when it cannot be made:
// only level 11_0, no flags, the chosen adapter with the "unknown" driver
// type or none with the hardware one; without hardware encoding no DXGI
// factory at all.
struct DeviceCall {
  int factories = 0;
  int devices = 0;
  bool adapter = false;
  D3D_DRIVER_TYPE type = D3D_DRIVER_TYPE_NULL;
  UINT flags = 99;
  std::vector<D3D_FEATURE_LEVEL> levels;
  UINT sdk = 0;
  int enum_adapters1 = 0;
};
DeviceCall g_call;

HRESULT WINAPI counting_factory(REFIID iid, void** out) {
  ++g_call.factories;
  return CreateDXGIFactory1(iid, out);
}
HRESULT WINAPI failing_device(IDXGIAdapter* adapter, D3D_DRIVER_TYPE type, HMODULE, UINT flags,
                              const D3D_FEATURE_LEVEL* levels, UINT count, UINT sdk, ID3D11Device** out,
                              D3D_FEATURE_LEVEL*, ID3D11DeviceContext**) {
  ++g_call.devices;
  g_call.adapter = adapter != nullptr;
  g_call.type = type;
  g_call.flags = flags;
  g_call.levels.assign(levels, levels + count);
  g_call.sdk = sdk;
  if (out) *out = nullptr;
  return DXGI_ERROR_UNSUPPORTED;  // a GPU without feature level 11_0
}

TEST_F(DeviceTest, AsksForLevel11OnlyAndReportsAFailure) {
  Direct3DCalls calls;
  calls.create_factory = counting_factory;
  calls.create_device = failing_device;
  direct3d_calls_set(&calls);
  for (uint32_t hardware : {1u, 0u}) {
    SCOPED_TRACE(testing::Message() << "HardwareEncoder=" << hardware);
    g_call = DeviceCall{};
    ui_.notes.clear();
    g_app.config.HardwareEncoder = hardware;
    EXPECT_FALSE(create_capture_device());
    EXPECT_EQ(g_call.devices, 1);
    EXPECT_EQ(g_call.adapter, hardware != 0);
    EXPECT_EQ(g_call.type, hardware != 0 ? D3D_DRIVER_TYPE_UNKNOWN : D3D_DRIVER_TYPE_HARDWARE);
    EXPECT_EQ(g_call.flags, 0u);
    EXPECT_EQ(g_call.levels, std::vector<D3D_FEATURE_LEVEL>{D3D_FEATURE_LEVEL_11_0});
    EXPECT_EQ(g_call.sdk, UINT(D3D11_SDK_VERSION));
    EXPECT_EQ(g_call.factories, hardware != 0 ? 1 : 0);
    ASSERT_EQ(ui_.notes.size(), 1u);
    EXPECT_EQ(ui_.notes[0].text, "Cannot to create D3D11 device!");
    EXPECT_EQ(ui_.notes[0].caption, "Error");
    EXPECT_EQ(ui_.notes[0].kind, NOTIFY_ERROR);
  }
}

// A DXGI factory of a system before IDXGIFactory6 (Windows 10 before 1803):
// Wine's own, with that interface hidden. The adapters then come in the
// system's order through EnumAdapters1.
struct OldFactory final : IDXGIFactory1 {
  IDXGIFactory1* real = nullptr;
  ULONG refs = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
    if (IsEqualGUID(id, __uuidof(IDXGIFactory6))) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    if (IsEqualGUID(id, __uuidof(IUnknown)) || IsEqualGUID(id, __uuidof(IDXGIFactory1))) {
      AddRef();
      *out = this;
      return S_OK;
    }
    return real->QueryInterface(id, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    if (--refs == 0) {
      real->Release();
      delete this;
      return 0;
    }
    return refs;
  }
  HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID g, UINT n, const void* d) override {
    return real->SetPrivateData(g, n, d);
  }
  HRESULT STDMETHODCALLTYPE SetPrivateDataInterface(REFGUID g, const IUnknown* u) override {
    return real->SetPrivateDataInterface(g, u);
  }
  HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID g, UINT* n, void* d) override {
    return real->GetPrivateData(g, n, d);
  }
  HRESULT STDMETHODCALLTYPE GetParent(REFIID id, void** out) override { return real->GetParent(id, out); }
  HRESULT STDMETHODCALLTYPE EnumAdapters(UINT i, IDXGIAdapter** a) override { return real->EnumAdapters(i, a); }
  HRESULT STDMETHODCALLTYPE MakeWindowAssociation(HWND w, UINT f) override {
    return real->MakeWindowAssociation(w, f);
  }
  HRESULT STDMETHODCALLTYPE GetWindowAssociation(HWND* w) override { return real->GetWindowAssociation(w); }
  HRESULT STDMETHODCALLTYPE CreateSwapChain(IUnknown* d, DXGI_SWAP_CHAIN_DESC* desc, IDXGISwapChain** s) override {
    return real->CreateSwapChain(d, desc, s);
  }
  HRESULT STDMETHODCALLTYPE CreateSoftwareAdapter(HMODULE m, IDXGIAdapter** a) override {
    return real->CreateSoftwareAdapter(m, a);
  }
  HRESULT STDMETHODCALLTYPE EnumAdapters1(UINT i, IDXGIAdapter1** a) override {
    ++g_call.enum_adapters1;
    return real->EnumAdapters1(i, a);
  }
  BOOL STDMETHODCALLTYPE IsCurrent() override { return real->IsCurrent(); }
};

HRESULT WINAPI old_factory(REFIID iid, void** out) {
  auto* f = new OldFactory;
  if (FAILED(CreateDXGIFactory1(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(&f->real)))) {
    delete f;
    return E_FAIL;
  }
  HRESULT hr = f->QueryInterface(iid, out);
  f->Release();
  return hr;
}

TEST_F(DeviceTest, WithoutFactory6TheSystemOrderServes) {
  const std::vector<DxgiAdapterInfo> by_preference = list_adapters(false);
  Direct3DCalls calls;
  calls.create_factory = old_factory;
  direct3d_calls_set(&calls);
  g_call = DeviceCall{};
  const std::vector<DxgiAdapterInfo> listed = list_adapters(false);
  ASSERT_EQ(listed.size(), by_preference.size());
  EXPECT_GT(g_call.enum_adapters1, 0);
  EXPECT_EQ(listed.at(0).luid, by_preference.at(0).luid);
  g_app.config.HardwareEncoder = 1;
  std::shared_ptr<CaptureDevice> device = create_capture_device();
  ASSERT_TRUE(device);
  EXPECT_EQ(device->adapter_luid, listed[0].luid);
}

// The first-run HardwareEncoder value comes from the media platform's answer
// for the preferred adapter; this build's platform has no encoders.
VideoEncoderRequest g_asked;
bool g_answer = false;
bool recording_probe(const VideoEncoderRequest& r, std::string* name) {
  g_asked = r;
  if (name) *name = "probe";
  return g_answer;
}

TEST_F(DeviceTest, FirstRunHardwareDefaultAsksForAnEncoderOnTheAdapter) {
  EXPECT_FALSE(hardware_encoder_default());
  MediaPlatform probe{recording_probe, nullptr, nullptr};
  media_platform_set(&probe);
  const uint64_t luid = list_adapters(Config{}.HardwarePreferIntegrated != 0).at(0).luid;
  for (bool answer : {true, false}) {
    g_answer = answer;
    g_asked = VideoEncoderRequest{};
    EXPECT_EQ(hardware_encoder_default(), answer);
    EXPECT_TRUE(g_asked.hardware);
    EXPECT_EQ(g_asked.adapter_luid, luid);
    EXPECT_EQ(g_asked.codec, VIDEO_H264);
    EXPECT_EQ(g_asked.profile, 100u);
    EXPECT_EQ(g_asked.input, PIXEL_NV12);
  }
}

// ---- A window with known pixels --------------------------------------------

// A borderless, topmost window filled with four coloured quadrants.
constexpr COLORREF kQuadrants[4] = {RGB(0xd0, 0x20, 0x30), RGB(0x10, 0xc0, 0x40), RGB(0x20, 0x40, 0xe0),
                                    RGB(0xf0, 0xe0, 0x10)};

LRESULT CALLBACK pattern_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT r;
    GetClientRect(hwnd, &r);
    const LONG mx = r.right / 2, my = r.bottom / 2;
    const RECT parts[4] = {{0, 0, mx, my}, {mx, 0, r.right, my}, {0, my, mx, r.bottom}, {mx, my, r.right, r.bottom}};
    for (int i = 0; i < 4; ++i) {
      HBRUSH b = CreateSolidBrush(kQuadrants[i]);
      FillRect(dc, &parts[i], b);
      DeleteObject(b);
    }
    EndPaint(hwnd, &ps);
    return 0;
  }
  if (msg == WM_ERASEBKGND) return 1;
  return DefWindowProcW(hwnd, msg, wp, lp);
}

class PatternWindow {
 public:
  PatternWindow(int x, int y, int w, int h) : w_(w), h_(h) {
    static const bool registered = [] {
      WNDCLASSW wc{};
      wc.lpfnWndProc = pattern_proc;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = L"FvCapturePattern";
      wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
      return RegisterClassW(&wc) != 0;
    }();
    (void)registered;
    hwnd_ = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"FvCapturePattern", L"pattern", WS_POPUP | WS_VISIBLE,
                            x, y, w, h, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    UpdateWindow(hwnd_);
    pump(300);
  }
  ~PatternWindow() {
    if (hwnd_) DestroyWindow(hwnd_);
  }
  HWND hwnd() const { return hwnd_; }
  // The colour the window shows at its own pixel (x, y), as B, G, R bytes.
  uint32_t expected(int x, int y) const {
    const COLORREF c = kQuadrants[(y >= h_ / 2 ? 2 : 0) + (x >= w_ / 2 ? 1 : 0)];
    return uint32_t(GetBValue(c)) | uint32_t(GetGValue(c)) << 8 | uint32_t(GetRValue(c)) << 16;
  }
  // Keeps the window painted for `ms`.
  static void pump(DWORD ms) {
    const DWORD until = GetTickCount() + ms;
    do {
      MSG m;
      while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
      Sleep(5);
    } while (int(until - GetTickCount()) > 0);
  }

 private:
  HWND hwnd_ = nullptr;
  int w_, h_;
};

// The frames that reach the frame handler: kept as copies of their recorded
// part.
struct Delivered {
  std::mutex mutex;
  int frames = 0;
  int closed = 0;
  int32_t w = 0, h = 0;
  int32_t content_w = 0, content_h = 0;
  std::vector<uint32_t> pixels;  // of the last frame's content rectangle
  int64_t last_time = 0;
  bool times_rise = true;
};
Delivered g_delivered;

bool keep_frame(Capture*, const CapturedFrame* f) {
  std::lock_guard<std::mutex> lock(g_delivered.mutex);
  if (!f) {
    ++g_delivered.closed;
    return true;
  }
  const Rect& r = f->content_rect;
  g_delivered.w = r.width();
  g_delivered.h = r.height();
  g_delivered.content_w = f->content_width;
  g_delivered.content_h = f->content_height;
  g_delivered.pixels.resize(size_t(r.width()) * size_t(r.height()));
  for (int32_t y = 0; y < r.height(); ++y) {
    const uint8_t* row = f->texture.data + size_t(r.top + y) * size_t(f->texture.stride) + size_t(r.left) * 4;
    for (int32_t x = 0; x < r.width(); ++x) {
      uint32_t v;
      std::memcpy(&v, row + size_t(x) * 4, 4);
      g_delivered.pixels[size_t(y) * size_t(r.width()) + size_t(x)] = v & 0xffffff;
    }
  }
  if (f->time <= g_delivered.last_time) g_delivered.times_rise = false;
  g_delivered.last_time = f->time;
  ++g_delivered.frames;
  return true;
}

class CaptureWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    app_reset();
    g_ui_service = &ui_;
    set_run_trace_folder(dir_.path());
    g_app.config.WriteDiagnostics = 1;
    capture_runtime_init();
    g_app.capture.on_frame = keep_frame;
    {
      std::lock_guard<std::mutex> lock(g_delivered.mutex);
      g_delivered.frames = g_delivered.closed = 0;
      g_delivered.last_time = 0;
      g_delivered.times_rise = true;
    }
  }
  void TearDown() override {
    capture_stop(&g_app.capture);
    win32_window_calls_set(nullptr);
    set_run_trace_folder("");
    g_ui_service = nullptr;
  }

  // Runs the open target until `frames` frames came (at most `ms`), pumping
  // the test's windows meanwhile; then stops it.
  int run_capture(int frames, DWORD ms, bool cursor = false) {
    EXPECT_TRUE(capture_start(&g_app.capture, cursor, false));
    const DWORD until = GetTickCount() + ms;
    int got = 0;
    do {
      PatternWindow::pump(20);
      std::lock_guard<std::mutex> lock(g_delivered.mutex);
      got = g_delivered.frames;
    } while (got < frames && int(until - GetTickCount()) > 0);
    capture_stop(&g_app.capture);
    return got;
  }

  std::string trace() { return read_bytes(dir_ / "frelvanta-runtrace.txt"); }

  // Pixels of the last frame that differ from what `window` shows, for a
  // frame whose top-left pixel is the window's pixel (ox, oy).
  static int mismatches(const PatternWindow& window, int ox, int oy) {
    std::lock_guard<std::mutex> lock(g_delivered.mutex);
    int bad = 0;
    for (int32_t y = 0; y < g_delivered.h; ++y)
      for (int32_t x = 0; x < g_delivered.w; ++x)
        bad += g_delivered.pixels[size_t(y) * size_t(g_delivered.w) + size_t(x)] != window.expected(ox + x, oy + y);
    return bad;
  }

  FakeUi ui_;
  Win32TempDir dir_;
};

// Under Wine the runtime's classes are not registered: the service says so
// in the trace and reads the screen with GDI instead; a region of the
// monitor then holds exactly what the window drew there, frame after frame.
TEST_F(CaptureWin32Test, RuntimeMissingFallsBackToGdiWithExactPixels) {
  const WgcRuntime& rt = wgc_runtime();
  ASSERT_NE(rt.missing, nullptr) << "the capture runtime is available here";
  std::printf("capture runtime missing: %s (0x%08lx)\n", rt.missing, static_cast<unsigned long>(rt.result));

  PatternWindow window(64, 48, 160, 120);
  HMONITOR monitor = MonitorFromWindow(window.hwnd(), MONITOR_DEFAULTTONULL);
  ASSERT_NE(monitor, nullptr);
  g_app.config.HardwareEncoder = 0;
  std::shared_ptr<CaptureDevice> device = create_capture_device();
  ASSERT_TRUE(device);
  // The region: the window's rectangle with 8 pixels of the screen around it
  // left out, so only its own pixels are compared.
  const Rect region{72, 56, 216, 160};
  ASSERT_TRUE(open_monitor_target(device, MonitorId(uintptr_t(monitor)), &region));
  EXPECT_GE(run_capture(4, 5000), 4);
  {
    std::lock_guard<std::mutex> lock(g_delivered.mutex);
    EXPECT_EQ(g_delivered.w, region.width());
    EXPECT_EQ(g_delivered.h, region.height());
    EXPECT_TRUE(g_delivered.times_rise);
  }
  EXPECT_EQ(mismatches(window, 8, 8), 0);
  EXPECT_NE(trace().find("capture.source kind=gdi target=monitor result=open"), std::string::npos) << trace();
}

// A window target is read at its visible frame bounds: the frames are the
// window's own pixels, whole, at its size, and follow it when it moves.
TEST_F(CaptureWin32Test, GdiWindowTargetIsTheWindowsOwnPixels) {
  PatternWindow window(300, 200, 120, 90);
  g_app.config.HardwareEncoder = 0;
  ASSERT_TRUE(open_window_target(create_capture_device(), WindowId(uintptr_t(window.hwnd())), false, false));
  EXPECT_EQ(g_app.capture.crop.width(), 120);
  EXPECT_EQ(g_app.capture.crop.height(), 90);
  EXPECT_GE(run_capture(3, 5000), 3);
  EXPECT_EQ(g_delivered.w, 120);
  EXPECT_EQ(g_delivered.h, 90);
  EXPECT_EQ(mismatches(window, 0, 0), 0);

  SetWindowPos(window.hwnd(), nullptr, 420, 260, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  PatternWindow::pump(200);
  g_delivered.frames = 0;
  ASSERT_TRUE(open_window_target(create_capture_device(), WindowId(uintptr_t(window.hwnd())), false, false));
  EXPECT_GE(run_capture(3, 5000), 3);
  EXPECT_EQ(mismatches(window, 0, 0), 0);
  EXPECT_NE(trace().find("capture.source kind=gdi target=window result=open"), std::string::npos);
}

// With MouseCursor on, the pointer over the window is drawn into the frame;
// without it the frame is the window alone.
TEST_F(CaptureWin32Test, GdiDrawsTheCursorWhenAsked) {
  PatternWindow window(500, 100, 100, 100);
  SetCursorPos(550, 150);
  g_app.config.HardwareEncoder = 0;
  int differing[2] = {0, 0};
  for (bool cursor : {false, true}) {
    ASSERT_TRUE(open_window_target(create_capture_device(), WindowId(uintptr_t(window.hwnd())), false, false));
    {
      std::lock_guard<std::mutex> lock(g_delivered.mutex);
      g_delivered.frames = 0;
    }
    EXPECT_GE(run_capture(2, 5000, cursor), 2);
    differing[cursor] = mismatches(window, 0, 0);
  }
  EXPECT_EQ(differing[0], 0);
  EXPECT_GT(differing[1], 20) << "no cursor drawn";
}

// ---- Reads answered by a stand-in -------------------------------------------

// A window whose GetWindowRect would be (100, 100)-(500, 400): the compositor
// reports its visible frame 7 pixels in on the sides and the bottom, as
// Windows 10 draws invisible resize borders there.
struct FakeReads {
  RECT frame{107, 100, 493, 393};
  bool frame_fails = false;
  HRESULT frame_result = E_INVALIDARG;  // when it fails
  BOOL composed = TRUE;
  RECT window_rect{100, 100, 500, 400};
  RECT client{0, 0, 370, 262};
  POINT client_origin{115, 131};
  UNSIGNED_RATIO rate{60000, 1001};
  HRESULT timing_result = S_OK;
  DWORD affinity = 0;
  DWORD corners = 2;  // DWMWCP_ROUND
  bool corners_supported = true;
  std::vector<DWORD> corner_sets;
};
FakeReads g_reads;

HRESULT WINAPI fake_get_attribute(HWND, DWORD attribute, PVOID out, DWORD size) {
  if (attribute == DWMWA_EXTENDED_FRAME_BOUNDS && size == sizeof(RECT) && !g_reads.frame_fails) {
    std::memcpy(out, &g_reads.frame, sizeof(RECT));
    return S_OK;
  }
  if (attribute == DWMWA_EXTENDED_FRAME_BOUNDS) return g_reads.frame_result;
  if (attribute == kDwmwaWindowCornerPreference && size == 4 && g_reads.corners_supported) {
    std::memcpy(out, &g_reads.corners, 4);
    return S_OK;
  }
  return E_INVALIDARG;
}
HRESULT WINAPI fake_set_attribute(HWND, DWORD attribute, LPCVOID value, DWORD size) {
  if (attribute != kDwmwaWindowCornerPreference || size != 4 || !g_reads.corners_supported) return E_INVALIDARG;
  DWORD v;
  std::memcpy(&v, value, 4);
  g_reads.corner_sets.push_back(v);
  return S_OK;
}
HRESULT WINAPI fake_timing(HWND window, DWM_TIMING_INFO* info) {
  if (window != nullptr || info->cbSize != 292) return E_INVALIDARG;
  info->rateCompose = g_reads.rate;
  return g_reads.timing_result;
}
HRESULT WINAPI fake_composition(BOOL* on) {
  *on = g_reads.composed;
  return S_OK;
}
BOOL WINAPI fake_window_rect(HWND, LPRECT r) {
  *r = g_reads.window_rect;
  return TRUE;
}
BOOL WINAPI fake_client_rect(HWND, LPRECT r) {
  *r = g_reads.client;
  return TRUE;
}
BOOL WINAPI fake_client_to_screen(HWND, LPPOINT p) {
  p->x += g_reads.client_origin.x;
  p->y += g_reads.client_origin.y;
  return TRUE;
}
BOOL WINAPI fake_affinity(HWND, DWORD* a) {
  *a = g_reads.affinity;
  return TRUE;
}

class FakedReadsTest : public CaptureWin32Test {
 protected:
  void SetUp() override {
    CaptureWin32Test::SetUp();
    g_reads = FakeReads{};
    calls_.get_window_attribute = fake_get_attribute;
    calls_.set_window_attribute = fake_set_attribute;
    calls_.composition_timing = fake_timing;
    calls_.composition_enabled = fake_composition;
    calls_.get_window_rect = fake_window_rect;
    calls_.get_client_rect = fake_client_rect;
    calls_.client_to_screen = fake_client_to_screen;
    calls_.display_affinity = fake_affinity;
    win32_window_calls_set(&calls_);
  }
  Win32WindowCalls calls_;
};

// The compositor's rate is kept as the fraction it is, through the rate
// set-up of a recording; unreadable or zero, it is unknown and 60/1 is used.
TEST_F(FakedReadsTest, CompositorRateIsAFraction) {
  PatternWindow window(100, 100, 50, 50);
  Capture& c = g_app.capture;
  c.window = WindowId(uintptr_t(window.hwnd()));
  const struct {
    UNSIGNED_RATIO rate;
    HRESULT result;
    bool known;
    uint32_t num, den;  // the recording's rate
  } cases[] = {
      {{60000, 1001}, S_OK, true, 60000, 1001}, {{144, 1}, S_OK, true, 144, 1},
      {{59940, 1000}, S_OK, true, 59940, 1000}, {{0, 1}, S_OK, false, 60, 1},
      {{60, 0}, S_OK, false, 60, 1},            {{60000, 1001}, E_FAIL, false, 60, 1},
  };
  g_app.config.VideoMaxFramerate = 0;
  for (const auto& k : cases) {
    SCOPED_TRACE(testing::Message() << k.rate.uiNumerator << "/" << k.rate.uiDenominator);
    g_reads.rate = k.rate;
    g_reads.timing_result = k.result;
    uint32_t num = 0, den = 0;
    const bool known = capture_display_rate(c, &num, &den);
    EXPECT_EQ(known, k.known);
    const FrameRate rate = governor_rate_setup(known, num, den);
    EXPECT_EQ(rate.num, k.num);
    EXPECT_EQ(rate.den, k.den);
  }
  c.window = 0;
}

// The crop of a window frame starts at the visible frame bounds, not at the
// window rectangle; the client area is placed from there; a frame whose
// bounds cannot be read is dropped (empty crop).
TEST_F(FakedReadsTest, FrameBoundsAreTheFrameOrigin) {
  PatternWindow window(100, 100, 400, 300);
  Capture& c = g_app.capture;
  c.window = WindowId(uintptr_t(window.hwnd()));
  Rect bounds;
  int32_t sx = 0, sy = 0;
  ASSERT_TRUE(c.service->frame_bounds(c.window, &bounds, &sx, &sy));
  EXPECT_EQ(sx, 107);
  EXPECT_EQ(sy, 100);

  const struct {
    uint8_t client_only;
    int32_t w, h;
    Rect want;
  } cases[] = {
      {0, 386, 293, {0, 0, 386, 293}},
      {0, 300, 200, {0, 0, 386, 293}},  // the whole visible window, not clamped to the frame
      {1, 386, 293, {8, 31, 378, 293}},
      {1, 200, 100, {8, 31, 200, 100}},  // the client area cut to what the frame holds
  };
  for (const auto& k : cases) {
    c.client_area_only = k.client_only;
    const Rect r = target_crop_rect(c, k.w, k.h);
    EXPECT_EQ(r.left, k.want.left);
    EXPECT_EQ(r.top, k.want.top);
    EXPECT_EQ(r.right, k.want.right);
    EXPECT_EQ(r.bottom, k.want.bottom);
  }
  // The client origin left of and above the frame: 0 on those sides.
  g_reads.client_origin = POINT{100, 95};
  const Rect r = target_crop_rect(c, 386, 293);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  // Bounds that cannot be read while the desktop is composed: dropped.
  g_reads.frame_fails = true;
  EXPECT_TRUE(target_crop_rect(c, 386, 293).empty());
  // A compositor without frame bounds (composition off; Wine answers "not
  // implemented"): the window rectangle is the visible frame.
  c.client_area_only = 0;
  for (int k = 0; k < 2; ++k) {
    g_reads.composed = k == 0 ? FALSE : TRUE;
    g_reads.frame_result = k == 0 ? E_INVALIDARG : E_NOTIMPL;
    ASSERT_TRUE(c.service->frame_bounds(c.window, &bounds, &sx, &sy));
    EXPECT_EQ(sx, 100);
    EXPECT_EQ(sy, 100);
    const Rect whole = target_crop_rect(c, 400, 300);
    EXPECT_EQ(whole.width(), 400);
    EXPECT_EQ(whole.height(), 300);
  }
  c.window = 0;
  c.client_area_only = 0;
}

// Read through GDI with those bounds, the frames are the window's pixels
// from 7 pixels in: the invisible border is not recorded.
TEST_F(FakedReadsTest, GdiWindowFramesBeginAtTheVisibleFrame) {
  PatternWindow window(100, 100, 400, 300);
  g_app.config.HardwareEncoder = 0;
  ASSERT_TRUE(open_window_target(create_capture_device(), WindowId(uintptr_t(window.hwnd())), false, false));
  EXPECT_GE(run_capture(2, 5000), 2);
  EXPECT_EQ(g_delivered.w, 386);
  EXPECT_EQ(g_delivered.h, 293);
  EXPECT_EQ(g_delivered.content_w, 386);
  EXPECT_EQ(mismatches(window, 7, 0), 0);
}

// A window that asks to stay out of captures is refused before any device
// is made; KeepRoundedWindowCorners off squares the corners while recorded
// and the stop gives them back (and again at a second stop); a system
// without the attribute changes nothing.
TEST_F(FakedReadsTest, DisplayAffinityAndCornerPreference) {
  PatternWindow window(100, 100, 400, 300);
  Capture& c = g_app.capture;
  const WindowId id = WindowId(uintptr_t(window.hwnd()));
  for (DWORD affinity : {DWORD(WDA_MONITOR), DWORD(WDA_EXCLUDEFROMCAPTURE), DWORD(0)}) {
    g_reads.affinity = affinity;
    EXPECT_EQ(c.service->excluded_from_capture(id), affinity != 0);
  }

  g_app.config.HardwareEncoder = 0;
  ASSERT_TRUE(open_window_target(create_capture_device(), id, false, true));
  EXPECT_EQ(c.restore_corners, 1);
  EXPECT_EQ(c.saved_corner_preference, 2u);
  capture_stop(&c);
  capture_stop(&c);
  EXPECT_EQ(g_reads.corner_sets, (std::vector<DWORD>{kDwmwcpDoNotRound, 2, 2}));

  g_reads.corner_sets.clear();
  g_reads.corners_supported = false;
  ASSERT_TRUE(open_window_target(create_capture_device(), id, false, true));
  EXPECT_EQ(c.restore_corners, 0);
  capture_stop(&c);
  EXPECT_TRUE(g_reads.corner_sets.empty());
}

}  // namespace

// ---- The capture runtime's path, on stand-in runtime objects -----------------
//
// Wine has no capture runtime, so its objects are stood in for here, with
// the declarations the source uses; the Direct3D 11 device and the textures
// are Wine's real ones. This runs the source's own work: the session's
// settings, the handler objects and their registration, a frame from the
// pool through the surface's DXGI access to the CPU copy, the re-creation,
// the Closed event, and a stop that waits for a handler still running.
namespace {

template <typename I>
struct Fake : I {
  std::atomic<ULONG> refs{1};
  const GUID* iid = nullptr;
  virtual bool extra(REFIID, void**) { return false; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
    if (IsEqualGUID(id, *iid) || IsEqualGUID(id, __uuidof(IUnknown)) || IsEqualGUID(id, __uuidof(IInspectable))) {
      this->AddRef();
      *out = static_cast<I*>(this);
      return S_OK;
    }
    if (extra(id, out)) return S_OK;
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }  // owned by the test
};
template <typename I>
struct FakeInspectable : Fake<I> {
  HRESULT STDMETHODCALLTYPE GetIids(ULONG*, IID**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel*) override { return E_NOTIMPL; }
};

struct FakeClosable : FakeInspectable<wgc::IClosable> {
  int closes = 0;
  FakeClosable() { iid = &wgc::kIidClosable; }
  HRESULT STDMETHODCALLTYPE Close() override {
    ++closes;
    return S_OK;
  }
};

struct FakeAccess : Fake<wgc::IDirect3DDxgiInterfaceAccess> {
  ID3D11Texture2D* texture = nullptr;
  FakeAccess() { iid = &wgc::kIidDxgiInterfaceAccess; }
  HRESULT STDMETHODCALLTYPE GetInterface(REFIID id, void** out) override {
    return texture->QueryInterface(id, out);
  }
};

struct FakeSurface : FakeInspectable<IInspectable> {
  FakeAccess access;
  FakeSurface() { iid = &__uuidof(IInspectable); }
  bool extra(REFIID id, void** out) override {
    if (!IsEqualGUID(id, wgc::kIidDxgiInterfaceAccess)) return false;
    access.AddRef();
    *out = &access;
    return true;
  }
};

struct FakeFrame : FakeInspectable<wgc::IDirect3D11CaptureFrame> {
  FakeSurface surface;
  int64_t time = 0;
  wgc::SizeInt32 content{0, 0};
  FakeFrame() { iid = &wgc::kIidCaptureFrame; }
  HRESULT STDMETHODCALLTYPE get_Surface(IInspectable** v) override {
    surface.AddRef();
    *v = &surface;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_SystemRelativeTime(wgc::TimeSpan* v) override {
    v->Duration = time;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ContentSize(wgc::SizeInt32* v) override {
    *v = content;
    return S_OK;
  }
};

struct FakeCursorSetting : FakeInspectable<wgc::IGraphicsCaptureSession2> {
  int value = -1;
  FakeCursorSetting() { iid = &wgc::kIidCaptureSession2; }
  HRESULT STDMETHODCALLTYPE get_IsCursorCaptureEnabled(boolean* v) override {
    *v = boolean(value);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_IsCursorCaptureEnabled(boolean v) override {
    value = v;
    return S_OK;
  }
};
struct FakeBorderSetting : FakeInspectable<wgc::IGraphicsCaptureSession3> {
  int value = -1;
  FakeBorderSetting() { iid = &wgc::kIidCaptureSession3; }
  HRESULT STDMETHODCALLTYPE get_IsBorderRequired(boolean* v) override {
    *v = boolean(value);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_IsBorderRequired(boolean v) override {
    value = v;
    return S_OK;
  }
};

struct FakeSession : FakeInspectable<wgc::IGraphicsCaptureSession> {
  FakeCursorSetting cursor;
  FakeBorderSetting border;
  FakeClosable closable;
  int starts = 0;
  FakeSession() { iid = &wgc::kIidCaptureSession; }
  bool extra(REFIID id, void** out) override {
    IUnknown* u = IsEqualGUID(id, wgc::kIidCaptureSession2)   ? static_cast<IUnknown*>(&cursor)
                  : IsEqualGUID(id, wgc::kIidCaptureSession3) ? static_cast<IUnknown*>(&border)
                  : IsEqualGUID(id, wgc::kIidClosable)        ? static_cast<IUnknown*>(&closable)
                                                              : nullptr;
    if (!u) return false;
    u->AddRef();
    *out = u;
    return true;
  }
  HRESULT STDMETHODCALLTYPE StartCapture() override {
    ++starts;
    return S_OK;
  }
};

struct FakeItem : FakeInspectable<wgc::IGraphicsCaptureItem> {
  wgc::SizeInt32 size{64, 48};
  wgc::EventHandler* closed = nullptr;
  FakeItem() { iid = &wgc::kIidGraphicsCaptureItem; }
  HRESULT STDMETHODCALLTYPE get_DisplayName(HSTRING*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Size(wgc::SizeInt32* v) override {
    *v = size;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE add_Closed(wgc::EventHandler* h, wgc::EventToken* t) override {
    closed = h;
    t->value = 2;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE remove_Closed(wgc::EventToken t) override {
    if (t.value == 2) closed = nullptr;
    return S_OK;
  }
};

struct FakePool : FakeInspectable<wgc::IDirect3D11CaptureFramePool> {
  FakeSession session;
  FakeClosable closable;
  FakeFrame* next = nullptr;
  wgc::EventHandler* arrived = nullptr;
  std::vector<std::pair<int32_t, int32_t>> recreated;
  FakePool() { iid = &wgc::kIidFramePool; }
  bool extra(REFIID id, void** out) override {
    if (!IsEqualGUID(id, wgc::kIidClosable)) return false;
    closable.AddRef();
    *out = &closable;
    return true;
  }
  HRESULT STDMETHODCALLTYPE Recreate(IInspectable*, int32_t format, int32_t buffers, wgc::SizeInt32 s) override {
    if (format == kWgcPixelFormatBgra8 && buffers == 2) recreated.push_back({s.Width, s.Height});
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE TryGetNextFrame(wgc::IDirect3D11CaptureFrame** f) override {
    *f = std::exchange(next, nullptr);
    if (*f) (*f)->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE add_FrameArrived(wgc::EventHandler* h, wgc::EventToken* t) override {
    arrived = h;
    t->value = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE remove_FrameArrived(wgc::EventToken t) override {
    if (t.value == 1) arrived = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CreateCaptureSession(wgc::IGraphicsCaptureItem*, wgc::IGraphicsCaptureSession** s) override {
    session.AddRef();
    *s = &session;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_DispatcherQueue(IInspectable**) override { return E_NOTIMPL; }
};

struct FakeStatics : FakeInspectable<wgc::IDirect3D11CaptureFramePoolStatics2> {
  FakePool pool;
  wgc::SizeInt32 created{0, 0};
  FakeStatics() { iid = &wgc::kIidFramePoolStatics2; }
  HRESULT STDMETHODCALLTYPE CreateFreeThreaded(IInspectable*, int32_t format, int32_t buffers, wgc::SizeInt32 s,
                                               wgc::IDirect3D11CaptureFramePool** out) override {
    if (format != kWgcPixelFormatBgra8 || buffers != 2) return E_INVALIDARG;
    created = s;
    pool.AddRef();
    *out = &pool;
    return S_OK;
  }
};

struct FakeInterop : Fake<wgc::IGraphicsCaptureItemInterop> {
  FakeItem item;
  HMONITOR monitor = nullptr;
  FakeInterop() { iid = &wgc::kIidGraphicsCaptureItemInterop; }
  HRESULT STDMETHODCALLTYPE CreateForWindow(HWND, REFIID, void**) override { return E_INVALIDARG; }
  HRESULT STDMETHODCALLTYPE CreateForMonitor(HMONITOR m, REFIID id, void** out) override {
    if (!IsEqualGUID(id, wgc::kIidGraphicsCaptureItem)) return E_NOINTERFACE;
    monitor = m;
    item.AddRef();
    *out = &item;
    return S_OK;
  }
};

FakeInspectable<IInspectable> g_runtime_device;
HRESULT WINAPI fake_wrap_device(IDXGIDevice* dxgi, IInspectable** out) {
  if (!dxgi) return E_INVALIDARG;
  g_runtime_device.iid = &wgc::kIidDirect3DDevice;
  g_runtime_device.AddRef();
  *out = &g_runtime_device;
  return S_OK;
}

// Keeps what arrives; can hold a frame call until released.
struct RuntimeSink final : SourceSink {
  std::atomic<int> frames{0}, closes{0};
  std::vector<uint32_t> first_row;
  GpuPicture gpu;
  int64_t time = 0;
  int32_t content_w = 0, image_w = 0;
  HANDLE hold = nullptr;  // when set, a frame call waits for it
  std::atomic<bool> left{false};
  CaptureSource* source = nullptr;
  bool stop_inside = false, stop_result = true;
  void frame_arrived(const SourceFrame& f) override {
    gpu = f.gpu;
    time = f.time;
    content_w = f.content_width;
    image_w = f.image.width;
    first_row.assign(size_t(f.image.width), 0);
    if (f.image.data) std::memcpy(first_row.data(), f.image.data, first_row.size() * 4);
    if (stop_inside) stop_result = source->stop();
    ++frames;
    if (hold) WaitForSingleObject(hold, 5000);
    left = true;
  }
  void closed(bool) override { ++closes; }
};

HRESULT invoke(wgc::EventHandler* h) { return h->vtbl->Invoke(h, nullptr, nullptr); }

}  // namespace

TEST_F(CaptureWin32Test, RuntimePathOnStandInObjects) {
  g_app.config.HardwareEncoder = 0;
  std::shared_ptr<CaptureDevice> device = create_capture_device();
  ASSERT_TRUE(device);
  ID3D11Device* d3d = capture_d3d11_device(*device);

  FakeInterop interop;
  FakeStatics statics;
  WgcRuntime rt;
  rt.item_interop = &interop;
  rt.pool_statics = &statics;
  rt.create_device = fake_wrap_device;
  HMONITOR monitor = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  int32_t w = 0, h = 0;
  CaptureSource* source = wgc_open_monitor(rt, d3d, monitor, &w, &h);
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(interop.monitor, monitor);
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 48);
  EXPECT_EQ(statics.created.Width, 64);

  RuntimeSink sink;
  sink.source = source;
  ASSERT_TRUE(source->start(true, false, &sink));
  FakePool& pool = statics.pool;
  EXPECT_EQ(pool.session.starts, 1);
  EXPECT_EQ(pool.session.cursor.value, 1);
  EXPECT_EQ(pool.session.border.value, 0);
  ASSERT_NE(pool.arrived, nullptr);
  ASSERT_NE(interop.item.closed, nullptr);

  // The handler objects: agile, not counted, nothing else.
  wgc::EventHandler* arrived = pool.arrived;
  void* out = nullptr;
  EXPECT_EQ(arrived->vtbl->QueryInterface(arrived, wgc::kIidFrameArrivedHandler, nullptr), E_POINTER);
  for (const GUID* id : {&wgc::kIidFrameArrivedHandler, &wgc::kIidAgileObject, &__uuidof(IUnknown)}) {
    out = nullptr;
    EXPECT_EQ(arrived->vtbl->QueryInterface(arrived, *id, &out), S_OK);
    EXPECT_EQ(out, arrived);
  }
  EXPECT_EQ(arrived->vtbl->QueryInterface(arrived, wgc::kIidClosedHandler, &out), E_NOINTERFACE);
  EXPECT_EQ(arrived->vtbl->AddRef(arrived), 1u);
  EXPECT_EQ(arrived->vtbl->Release(arrived), 1u);
  wgc::EventHandler* closed = interop.item.closed;
  EXPECT_EQ(closed->vtbl->QueryInterface(closed, wgc::kIidClosedHandler, &out), S_OK);

  // A 64x48 texture whose first row counts up; the frame says its content
  // is 80x60 (the window grew): the picture comes as it is.
  std::vector<uint32_t> pixels(64 * 48);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = 0xff000000u | uint32_t(i * 2654435761u >> 8);
  D3D11_TEXTURE2D_DESC desc{};
  desc.Width = 64;
  desc.Height = 48;
  desc.MipLevels = desc.ArraySize = 1;
  desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
  desc.SampleDesc.Count = 1;
  desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
  D3D11_SUBRESOURCE_DATA init{pixels.data(), 64 * 4, 0};
  ID3D11Texture2D* texture = nullptr;
  ASSERT_EQ(d3d->CreateTexture2D(&desc, &init, &texture), S_OK);
  FakeFrame frame;
  frame.surface.access.texture = texture;
  frame.time = 123456789;
  frame.content = wgc::SizeInt32{80, 60};

  // From another thread, as the runtime calls.
  auto from_runtime = [](wgc::EventHandler* h) {
    std::thread t([h] { EXPECT_EQ(invoke(h), S_OK); });
    t.join();
  };
  pool.next = &frame;
  from_runtime(arrived);
  ASSERT_EQ(sink.frames.load(), 1);
  EXPECT_EQ(sink.gpu.texture, texture);
  EXPECT_EQ(sink.gpu.width, 64);
  EXPECT_EQ(sink.time, 123456789);
  EXPECT_EQ(sink.content_w, 80);
  ASSERT_EQ(sink.image_w, 64);
  for (int x = 0; x < 64; ++x) EXPECT_EQ(sink.first_row[size_t(x)], pixels[size_t(x)]) << x;
  EXPECT_EQ(frame.refs.load(), 1u);  // the frame was released after the call
  source->recreate(80, 60);
  EXPECT_EQ(pool.recreated, (std::vector<std::pair<int32_t, int32_t>>{{80, 60}}));

  // No frame in the pool: nothing is delivered.
  from_runtime(arrived);
  EXPECT_EQ(sink.frames.load(), 1);
  from_runtime(closed);
  EXPECT_EQ(sink.closes.load(), 1);

  // A stop from inside a frame call only ends delivery.
  sink.stop_inside = true;
  pool.next = &frame;
  from_runtime(arrived);
  EXPECT_FALSE(sink.stop_result);
  EXPECT_EQ(pool.arrived, nullptr);  // unregistered
  EXPECT_EQ(pool.session.closable.closes, 1);
  // Called by the runtime after that: nothing more is delivered.
  pool.next = &frame;
  from_runtime(arrived);
  EXPECT_EQ(sink.frames.load(), 2);
  delete source;
  EXPECT_EQ(pool.closable.closes, 1);

  // A stop from another thread waits for a frame call that is still running.
  source = wgc_open_monitor(rt, d3d, monitor, &w, &h);
  ASSERT_NE(source, nullptr);
  RuntimeSink held;
  held.source = source;
  held.hold = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(source->start(false, true, &held));
  EXPECT_EQ(pool.session.border.value, 1);
  pool.next = &frame;
  std::thread runtime_thread([h = pool.arrived] { invoke(h); });
  while (held.frames.load() == 0) Sleep(1);
  std::thread release([&held] {
    Sleep(200);
    SetEvent(held.hold);
  });
  EXPECT_TRUE(source->stop());
  EXPECT_TRUE(held.left.load());
  EXPECT_FALSE(source->abandoned());
  release.join();
  runtime_thread.join();
  delete source;
  CloseHandle(held.hold);
  texture->Release();
}
