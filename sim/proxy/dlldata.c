/* The proxy/stub DLL that marshals the device server's interfaces between
 * the tool and the server, with its factory class fixed. */
#include "bench/proxy_class.h"

#define REGISTER_PROXY_DLL
#define PROXY_CLSID_IS K27_PROXY_CLASS

#include <rpcproxy.h>

EXTERN_PROXY_FILE(k27server)

PROXYFILE_LIST_START
  REFERENCE_PROXY_FILE(k27server),
PROXYFILE_LIST_END

DLLDATA_ROUTINES(aProxyFileList, GET_DLL_CLSID)
