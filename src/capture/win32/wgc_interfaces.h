#pragma once
// What the screen-capture runtime (Windows.Graphics.Capture) and the DWM
// need from headers that mingw-w64 10 does not ship: the runtime interfaces
// used through their ABI, the interop interfaces, the event-handler layout,
// and two constants of newer SDKs. Nothing here is linked: every interface
// id is a constant below and every function is looked up at run time
// (wgc_runtime.cpp).
//
// Interface ids are those of Microsoft's Windows.Graphics.Capture and
// Windows.Graphics.DirectX.Direct3D11 reference pages (the interop ones from
// the pages of windows.graphics.capture.interop.h and
// windows.graphics.directx.direct3d11.interop.h). A vtable lists its methods
// after those of its base, in the order the comment above it names.
#include <windows.h>
#include <inspectable.h>

#include <cstdint>

// DWM attributes and values newer than mingw-w64 10's dwmapi.h (Windows 11).
constexpr DWORD kDwmwaWindowCornerPreference = 33;  // DWMWA_WINDOW_CORNER_PREFERENCE
constexpr DWORD kDwmwcpDoNotRound = 1;              // DWMWCP_DONOTROUND

// Windows.Graphics.DirectX.DirectXPixelFormat.B8G8R8A8UIntNormalized
constexpr int32_t kWgcPixelFormatBgra8 = 87;

namespace wgc {

// Windows.Graphics.SizeInt32.
struct SizeInt32 {
  int32_t Width;
  int32_t Height;
};

// Windows.Foundation.TimeSpan: 100-nanosecond units.
struct TimeSpan {
  int64_t Duration;
};

// EventRegistrationToken.
struct EventToken {
  int64_t value;
};

constexpr GUID kIidGraphicsCaptureItemInterop = {
    0x3628e81b, 0x3cac, 0x4c60, {0xb7, 0xf4, 0x23, 0xce, 0x0e, 0x0c, 0x33, 0x56}};
constexpr GUID kIidGraphicsCaptureItem = {
    0x79c3f95b, 0x31f7, 0x4ec2, {0xa4, 0x64, 0x63, 0x2e, 0xf5, 0xd3, 0x07, 0x60}};
constexpr GUID kIidFramePoolStatics2 = {
    0x589b103f, 0x6bbc, 0x5df5, {0xa9, 0x91, 0x02, 0xe2, 0x8b, 0x3b, 0x66, 0xd5}};
constexpr GUID kIidFramePool = {
    0x24eb6d22, 0x1975, 0x422e, {0x82, 0xe7, 0x78, 0x0d, 0xbd, 0x8d, 0xdf, 0x24}};
constexpr GUID kIidCaptureFrame = {
    0xfa50c623, 0x38da, 0x4b32, {0xac, 0xf3, 0xfa, 0x97, 0x34, 0xad, 0x80, 0x0e}};
constexpr GUID kIidCaptureSession = {
    0x814e42a9, 0xf70f, 0x4ad7, {0x93, 0x9b, 0xfd, 0xdc, 0xc6, 0xeb, 0x88, 0x0d}};
constexpr GUID kIidCaptureSession2 = {
    0x2c39ae40, 0x7d2e, 0x5044, {0x80, 0x4e, 0x8b, 0x67, 0x99, 0xd4, 0xcf, 0x9e}};
constexpr GUID kIidCaptureSession3 = {
    0xf2cdd966, 0x22ae, 0x5ea1, {0x95, 0x96, 0x3a, 0x28, 0x93, 0x44, 0xc3, 0xbe}};
constexpr GUID kIidClosable = {
    0x30d5a829, 0x7fa4, 0x4026, {0x83, 0xbb, 0xd7, 0x5b, 0xae, 0x4e, 0xa9, 0x9e}};
constexpr GUID kIidDxgiInterfaceAccess = {
    0xa9b3d012, 0x3df2, 0x4ee3, {0xb8, 0xd1, 0x86, 0x95, 0xf4, 0x57, 0xd3, 0xc1}};
constexpr GUID kIidDirect3DDevice = {
    0xa37624ab, 0x8d5f, 0x4650, {0x9d, 0x3e, 0x9e, 0xae, 0x3d, 0x9b, 0xc6, 0x70}};
// TypedEventHandler<Direct3D11CaptureFramePool, Object> and
// TypedEventHandler<GraphicsCaptureItem, Object>.
constexpr GUID kIidFrameArrivedHandler = {
    0x51a947f7, 0x79cf, 0x5a3e, {0xa3, 0xa5, 0x12, 0x89, 0xcf, 0xa6, 0xdf, 0xe8}};
constexpr GUID kIidClosedHandler = {
    0xe9c610c0, 0xa68c, 0x5bd9, {0x80, 0x21, 0x85, 0x89, 0x34, 0x6e, 0xee, 0xe2}};
constexpr GUID kIidAgileObject = {
    0x94ea2b94, 0xe9cc, 0x49e0, {0xc0, 0xff, 0xee, 0x64, 0xca, 0x8f, 0x5b, 0x90}};

// An event handler as the runtime calls it: a pointer to a table of
// QueryInterface, AddRef, Release and Invoke (the layout of every
// TypedEventHandler<TSender, TResult>, a delegate deriving from IUnknown).
struct EventHandler;
struct EventHandlerVtbl {
  HRESULT(STDMETHODCALLTYPE* QueryInterface)(EventHandler* self, REFIID iid, void** out);
  ULONG(STDMETHODCALLTYPE* AddRef)(EventHandler* self);
  ULONG(STDMETHODCALLTYPE* Release)(EventHandler* self);
  HRESULT(STDMETHODCALLTYPE* Invoke)(EventHandler* self, IInspectable* sender, IInspectable* args);
};
struct EventHandler {
  const EventHandlerVtbl* vtbl;
};

struct IGraphicsCaptureSession;
struct IDirect3D11CaptureFrame;

// Order: Windows.Foundation.IClosable in Wine's windows.foundation.idl.
struct IClosable : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

// Order: Wine's windows.graphics.capture.interop.idl.
struct IGraphicsCaptureItemInterop : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateForWindow(HWND window, REFIID iid, void** result) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateForMonitor(HMONITOR monitor, REFIID iid, void** result) = 0;
};

// Order: Wine's windows.graphics.directx.direct3d11.interop.idl.
struct IDirect3DDxgiInterfaceAccess : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetInterface(REFIID iid, void** object) = 0;
};

// Order: IGraphicsCaptureItem in Wine's windows.graphics.capture.idl.
struct IGraphicsCaptureItem : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_DisplayName(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Size(SizeInt32* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_Closed(EventHandler* handler, EventToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_Closed(EventToken token) = 0;
};

// Order: IDirect3D11CaptureFramePool in Wine's windows.graphics.capture.idl.
// The device is the runtime's IDirect3DDevice (an IInspectable).
struct IDirect3D11CaptureFramePool : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE Recreate(IInspectable* device, int32_t pixel_format, int32_t buffers,
                                             SizeInt32 size) = 0;
  virtual HRESULT STDMETHODCALLTYPE TryGetNextFrame(IDirect3D11CaptureFrame** result) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_FrameArrived(EventHandler* handler, EventToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_FrameArrived(EventToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateCaptureSession(IGraphicsCaptureItem* item,
                                                         IGraphicsCaptureSession** result) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_DispatcherQueue(IInspectable** value) = 0;
};

// Order: IDirect3D11CaptureFramePoolStatics2 in Wine's windows.graphics.capture.idl.
struct IDirect3D11CaptureFramePoolStatics2 : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE CreateFreeThreaded(IInspectable* device, int32_t pixel_format, int32_t buffers,
                                                       SizeInt32 size, IDirect3D11CaptureFramePool** result) = 0;
};

// Order: IDirect3D11CaptureFrame in Wine's windows.graphics.capture.idl. The
// surface is the runtime's IDirect3DSurface (an IInspectable).
struct IDirect3D11CaptureFrame : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Surface(IInspectable** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_SystemRelativeTime(TimeSpan* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ContentSize(SizeInt32* value) = 0;
};

// Order: IGraphicsCaptureSession, ...Session2 and ...Session3 in Wine's
// windows.graphics.capture.idl (a property's get before its put).
struct IGraphicsCaptureSession : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE StartCapture() = 0;
};
struct IGraphicsCaptureSession2 : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_IsCursorCaptureEnabled(boolean* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_IsCursorCaptureEnabled(boolean value) = 0;
};
struct IGraphicsCaptureSession3 : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_IsBorderRequired(boolean* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_IsBorderRequired(boolean value) = 0;
};

}  // namespace wgc
