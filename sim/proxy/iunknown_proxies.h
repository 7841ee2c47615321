/* The generated proxy code calls these three; mingw's unknwn.h declares
 * them only for C++. Forced into every proxy source. */
#ifndef K27_SIM_PROXY_IUNKNOWN_PROXIES_H_
#define K27_SIM_PROXY_IUNKNOWN_PROXIES_H_

#include <unknwn.h>

#ifndef __cplusplus
HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown* This, REFIID riid, void** ppvObject);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown* This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown* This);
#endif

#endif
