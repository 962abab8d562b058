#pragma once
// The capture's Direct3D 11 device shared with Media Foundation: a DXGI
// device manager reset to it, for hardware encoders that read the pooled
// surfaces where they lie.
#include <d3d11.h>
#include <mfapi.h>

#include "platform/win32/com_ptr.h"

// Turns on the multithread protection of the device's immediate context
// (the encoder, the writer's uploads and the capture share it) and makes a
// device manager for the device. Negative results are the failing call's.
HRESULT mf_device_manager_for(ID3D11Device* device, ComPtr<IMFDXGIDeviceManager>* manager);

// Only the multithread protection.
HRESULT mf_protect_device(ID3D11Device* device);
