#ifndef K27_SIM_SERVER_OBJECTS_H_
#define K27_SIM_SERVER_OBJECTS_H_

#include <objbase.h>

// The class factory registered with COM; it lives as long as the process.
IClassFactory* ServerFactory();

// Keeps COM's registration of every interface the server hands out (the
// class factory's, the device server's, the device's and its code
// programming's) for the process's life, by marshalling one object of each
// for good. Without it, under Wine, a client's release of the last object of
// an interface right after a call on it has answered can hang for ever:
// Wine's RPC run-time, unregistering the interface, can miss the end of that
// call and wait for it (tests/wine-com-hang shows it with no code of this
// project). Windows does not run that code; holding the registrations
// changes nothing there. Called once, before the class is registered.
void HoldInterfaces();

#endif  // K27_SIM_SERVER_OBJECTS_H_
