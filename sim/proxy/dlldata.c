/* The proxy/stub DLL that marshals the device server's interfaces between
 * the tool and the server. Its factory class is fixed so that registration
 * always writes the same keys. */
#define REGISTER_PROXY_DLL
#define PROXY_CLSID_IS \
  { 0x5c7535a9, 0xdb5a, 0x4e1a, { 0xaa, 0xaa, 0x6f, 0xb3, 0x21, 0x5e, 0xe1, 0x82 } }

#include <rpcproxy.h>

EXTERN_PROXY_FILE(k27server)

PROXYFILE_LIST_START
  REFERENCE_PROXY_FILE(k27server),
PROXYFILE_LIST_END

DLLDATA_ROUTINES(aProxyFileList, GET_DLL_CLSID)
