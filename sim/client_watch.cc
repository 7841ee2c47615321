#include "client_watch.h"

#include <rpc.h>
#include <rpcdcep.h>

#include "journal.h"

namespace {

volatile HANDLE g_client = nullptr;
volatile LONG g_reported_failure = 0;

}  // namespace

HANDLE ClientKnownEvent() {
  static HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

HANDLE ClientProcess() { return g_client; }

void NoteCallingClient() {
  if (g_client) return;
  unsigned long pid = 0;
  // A null binding means the call in progress on this thread.
  const RPC_STATUS status = I_RpcBindingInqLocalClientPID(nullptr, &pid);
  HANDLE process = nullptr;
  if (status == RPC_S_OK && pid != 0 && pid != GetCurrentProcessId()) {
    process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  }
  if (!process) {
    if (InterlockedExchange(&g_reported_failure, 1) == 0) {
      JournalWrite({{"op", "Client"}, {"client_pid", nullptr}, {"rpc_status", status}, {"reported_pid", pid}});
    }
    return;
  }
  if (InterlockedCompareExchangePointer(const_cast<PVOID*>(&g_client), process, nullptr) != nullptr) {
    CloseHandle(process);  // another call got there first
    return;
  }
  JournalWrite({{"op", "Client"}, {"client_pid", pid}});
  SetEvent(ClientKnownEvent());
}
