#ifndef K27_SIM_CLIENT_WATCH_H_
#define K27_SIM_CLIENT_WATCH_H_

// The client's process, learnt from the calls it makes. On Windows the COM
// launch service starts a local server, not the client, so the parent
// process says nothing about who the client is; the local RPC call under
// each COM call does: it carries the calling process's id. Only calls on
// the objects the server handed out count: the creation itself
// (IClassFactory::CreateInstance) and LockServer are made by the COM service
// on the client's behalf on Windows (under Wine by the client itself).

#include <windows.h>

// From inside a call on a handed-out object: learns the calling process, once. Where the platform
// cannot tell, the server goes on without it (it still ends when its
// objects are released, or when it was never used).
void NoteCallingClient();

// Set once the client process is known.
HANDLE ClientKnownEvent();
// A handle that is signalled when the client process ends; null until known.
HANDLE ClientProcess();

#endif  // K27_SIM_CLIENT_WATCH_H_
