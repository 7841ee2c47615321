#ifndef K27_SIM_CLIENT_WATCH_H_
#define K27_SIM_CLIENT_WATCH_H_

// The client's process, learnt from the calls it makes. On Windows the COM
// launch service starts a local server, not the client, so the parent
// process says nothing about who the client is; the local RPC call under
// each COM call does: it carries the calling process's id. Only calls on
// the objects the server handed out count: the creation itself
// (IClassFactory::CreateInstance) and LockServer are made by the COM service
// on the client's behalf on Windows (under Wine by the client itself).
//
// The process behind the creation is watched as well, until the client is
// known: a client that dies between its creation and its first call (killed
// while it waits for the creation's answer) would otherwise leave a server
// that waits for ever where nothing releases what it handed out. On Windows
// that process is the COM service, which does not end, and COM's own
// clean-up of a dead client's references ends the server instead.

#include <windows.h>
#include <rpc.h>

// The process behind the RPC call in progress on this thread, opened to be
// waited on, and its id; null where the platform cannot tell (with the
// status), or for the server itself.
HANDLE OpenCallingProcess(RPC_STATUS& status, unsigned long& pid);

// From inside a call on a handed-out object: learns the calling process, once. Where the platform
// cannot tell, the server goes on without it (it still ends when its
// objects are released, or when it was never used).
void NoteCallingClient();

// From inside the creation: learns the process that asked for it, once.
void NoteCreatingProcess();

// Set (auto-reset) whenever the client or the creating process becomes known.
HANDLE WatchChangedEvent();
// A handle that is signalled when the client process ends; null until known.
HANDLE ClientProcess();
// The same for the process behind the creation; null until known.
HANDLE CreatingProcess();

#endif  // K27_SIM_CLIENT_WATCH_H_
