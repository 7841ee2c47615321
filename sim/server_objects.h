#ifndef K27_SIM_SERVER_OBJECTS_H_
#define K27_SIM_SERVER_OBJECTS_H_

#include <objbase.h>

// The server's class, as the tool creates it.
extern const CLSID kDeviceServerClsid;

// The class factory registered with COM; it lives as long as the process.
IClassFactory* ServerFactory();

#endif  // K27_SIM_SERVER_OBJECTS_H_
