#include "client_watch.h"

#include <rpc.h>
#include <rpcdcep.h>

#include "journal.h"

namespace {

volatile HANDLE g_client = nullptr;
volatile HANDLE g_creator = nullptr;
volatile LONG g_reported_failure = 0;

// Stores `process` in `slot` unless another call got there first.
bool Keep(volatile HANDLE& slot, HANDLE process) {
  if (InterlockedCompareExchangePointer(const_cast<PVOID*>(&slot), process, nullptr) != nullptr) {
    CloseHandle(process);
    return false;
  }
  return true;
}

}  // namespace

HANDLE OpenCallingProcess(RPC_STATUS& status, unsigned long& pid) {
  pid = 0;
  // A null binding means the call in progress on this thread.
  status = I_RpcBindingInqLocalClientPID(nullptr, &pid);
  if (status != RPC_S_OK || pid == 0 || pid == GetCurrentProcessId()) return nullptr;
  return OpenProcess(SYNCHRONIZE, FALSE, pid);
}

HANDLE WatchChangedEvent() {
  static HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  return event;
}

HANDLE ClientProcess() { return g_client; }
HANDLE CreatingProcess() { return g_creator; }

void NoteCreatingProcess() {
  if (g_creator || g_client) return;
  RPC_STATUS status = RPC_S_OK;
  unsigned long pid = 0;
  HANDLE process = OpenCallingProcess(status, pid);
  if (process && Keep(g_creator, process)) SetEvent(WatchChangedEvent());
}

void NoteCallingClient() {
  if (g_client) return;
  RPC_STATUS status = RPC_S_OK;
  unsigned long pid = 0;
  HANDLE process = OpenCallingProcess(status, pid);
  if (!process) {
    if (InterlockedExchange(&g_reported_failure, 1) == 0) {
      JournalWrite({{"op", "Client"}, {"client_pid", nullptr}, {"rpc_status", status}, {"reported_pid", pid}});
    }
    return;
  }
  if (!Keep(g_client, process)) return;
  JournalWrite({{"op", "Client"}, {"client_pid", pid}});
  SetEvent(WatchChangedEvent());
}
