/* The few Windows definitions that the copy of vkd3d-shader in Wine's sources
 * takes from Wine's own headers, for a native build of the compiler. */
#ifndef FV_VKD3D_WINDOWS_SHIM_H
#define FV_VKD3D_WINDOWS_SHIM_H
#include <stdint.h>
typedef uint16_t WCHAR;
typedef int32_t HRESULT;
typedef struct _GUID { uint32_t Data1; uint16_t Data2; uint16_t Data3; uint8_t Data4[8]; } GUID;
typedef GUID IID;
typedef const GUID *REFGUID;
typedef const IID *REFIID;
typedef unsigned int UINT;
typedef int INT;
typedef float FLOAT;
#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_ABORT ((HRESULT)0x80004004)
#define E_FAIL ((HRESULT)0x80004005)
#define E_OUTOFMEMORY ((HRESULT)0x8007000e)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define DXGI_ERROR_NOT_FOUND ((HRESULT)0x887a0002)
#define DXGI_ERROR_MORE_DATA ((HRESULT)0x887a0003)
#define DXGI_ERROR_UNSUPPORTED ((HRESULT)0x887a0004)
#include <stddef.h>
#define CONTAINING_RECORD(address, type, field) \
    ((type *)((char *)(address) - offsetof(type, field)))
#ifndef min
#define min(a, b) (((a) < (b)) ? (a) : (b))
#endif
#ifndef max
#define max(a, b) (((a) > (b)) ? (a) : (b))
#endif
#endif
