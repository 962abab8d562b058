#include "video/encode/mf/mf_device_manager.h"

#include <d3d10.h>

HRESULT mf_protect_device(ID3D11Device* device) {
  if (!device) return E_POINTER;
  ComPtr<ID3D11DeviceContext> context;
  device->GetImmediateContext(context.put());
  ComPtr<ID3D10Multithread> multithread;
  HRESULT hr = context ? context->QueryInterface(__uuidof(ID3D10Multithread), multithread.put_void()) : E_FAIL;
  if (SUCCEEDED(hr)) multithread->SetMultithreadProtected(TRUE);
  return hr;
}

HRESULT mf_device_manager_for(ID3D11Device* device, ComPtr<IMFDXGIDeviceManager>* manager) {
  HRESULT hr = mf_protect_device(device);
  UINT token = 0;
  ComPtr<IMFDXGIDeviceManager> made;
  if (SUCCEEDED(hr)) hr = MFCreateDXGIDeviceManager(&token, made.put());
  if (SUCCEEDED(hr)) hr = made->ResetDevice(device, token);
  if (SUCCEEDED(hr)) *manager = std::move(made);
  return hr;
}
