// A minimal COM local server with the life cycle under study: it registers
// its class for one use in the multithreaded apartment, hands out one object
// implementing IPersist, and when that object (and any factory lock) is
// released it revokes the class, waits, and ends itself with ExitProcess.
// Optionally it also watches the process behind the creation and, once
// known, the process behind the first call on the object, and ends when the
// watched process ends.
//
// Settings come from the environment (the server inherits the client's
// under Wine):
//   REPRO_REGCLS   single (default) | multi
//   REPRO_EXIT_MS  sleep between revoking and ExitProcess (default 100);
//                  -1: do not end when released: serve further creations
//                  until the watched client ends (REPRO_WATCH=1), or until
//                  60 s pass with nothing alive
//   REPRO_WATCH    1: watch the creator/client processes (default 0)
//   REPRO_SRVLOG   log file (time-stamped lines)
//   REPRO_SPIN     1: run a thread that only burns CPU (contention inside
//                  the server, to widen scheduling windows; see README.md)
//   REPRO_SRVCPU   n: keep the server on CPU n
//   REPRO_PIN      1: keep the class factory and a spare IPersist object
//                  marshalled table-strong for the server's life, so that the
//                  client's releases never remove the last stub of an
//                  interface (a work-around to test, see README.md)
#include <windows.h>
#include <objbase.h>
#include <rpc.h>
#include <rpcdcep.h>
#include "common.h"

#define SLOG(...) LogTo("REPRO_SRVLOG", __VA_ARGS__)

static volatile LONG g_objects = 0;
static volatile LONG g_created = 0;
static HANDLE g_released;
static HANDLE g_watch_changed;
static volatile HANDLE g_creator = nullptr;
static volatile HANDLE g_client = nullptr;
static bool g_watch = false;

static HANDLE CallingProcess(unsigned long& pid, RPC_STATUS& st) {
  pid = 0;
  st = I_RpcBindingInqLocalClientPID(nullptr, &pid);
  if (st != RPC_S_OK || pid == 0 || pid == GetCurrentProcessId()) return nullptr;
  return OpenProcess(SYNCHRONIZE, FALSE, pid);
}

static void Note(volatile HANDLE& slot, const char* what) {
  unsigned long pid;
  RPC_STATUS st;
  HANDLE h = CallingProcess(pid, st);
  SLOG("%s pid=%lu rpc_status=%ld handle=%p", what, pid, (long)st, h);
  if (!g_watch || !h) {
    if (h) CloseHandle(h);
    return;
  }
  if (InterlockedCompareExchangePointer((PVOID*)&slot, h, nullptr) != nullptr) {
    CloseHandle(h);
    return;
  }
  SetEvent(g_watch_changed);
}

static void ObjectCreated() {
  InterlockedIncrement(&g_objects);
  InterlockedExchange(&g_created, 1);
}
static void ObjectDestroyed() {
  if (InterlockedDecrement(&g_objects) == 0) SetEvent(g_released);
}

struct Thing final : IPersist {
  LONG refs = 1;
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IPersist) {
      *out = static_cast<IPersist*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG r = InterlockedDecrement(&refs);
    if (r == 0) {
      SLOG("object released");
      delete this;
      ObjectDestroyed();
    }
    return r;
  }
  // The "GetVersion" call of the study.
  STDMETHODIMP GetClassID(CLSID* out) override {
    if (!g_client) Note(g_client, "first call from");
    *out = ReproClsid();
    return S_OK;
  }
};

struct Factory : IClassFactory {
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (!g_client && !g_creator) Note(g_creator, "creation from");
    Thing* t = new Thing;
    ObjectCreated();
    HRESULT hr = t->QueryInterface(riid, out);
    t->Release();
    SLOG("CreateInstance answers hr=0x%08lx", (unsigned long)hr);
    return hr;
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    SLOG("LockServer %d", lock);
    if (lock) ObjectCreated(); else ObjectDestroyed();
    return S_OK;
  }
};

static Factory g_factory;

static DWORD WINAPI Spin(void*) {
  for (;;) __asm__ volatile("" ::: "memory");
  return 0;
}

// Marshals `unk` table-strong into a stream that is never released.
static void MarshalForLife(IUnknown* unk, REFIID iid) {
  IStream* stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) return;
  HRESULT hr = CoMarshalInterface(stream, iid, unk, MSHCTX_LOCAL, nullptr, MSHLFLAGS_TABLESTRONG);
  SLOG("pinned marshal hr=0x%08lx", (unsigned long)hr);
}

[[noreturn]] static void EndServer(DWORD cookie, const char* reason, int exit_ms) {
  HRESULT hr = CoRevokeClassObject(cookie);
  SLOG("Exit (%s) revoke=0x%08lx", reason, (unsigned long)hr);
  if (exit_ms > 0) Sleep(exit_ms);
  SLOG("ExitProcess");
  ExitProcess(0);
}

int main() {
  SLOG("start cmdline=%s", GetCommandLineA());
  const bool multi = [] {
    char v[16];
    return GetEnvironmentVariableA("REPRO_REGCLS", v, sizeof v) && lstrcmpiA(v, "multi") == 0;
  }();
  const int exit_ms = EnvInt("REPRO_EXIT_MS", 100);
  g_watch = EnvInt("REPRO_WATCH", 0) != 0;
  g_released = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_watch_changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (EnvInt("REPRO_SRVCPU", -1) >= 0) SetProcessAffinityMask(GetCurrentProcess(), 1u << EnvInt("REPRO_SRVCPU", 0));
  if (EnvInt("REPRO_SPIN", 0)) CloseHandle(CreateThread(nullptr, 0, Spin, nullptr, 0, nullptr));
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 2;
  if (EnvInt("REPRO_PIN", 0)) {
    MarshalForLife(&g_factory, IID_IClassFactory);
    MarshalForLife(new Thing, IID_IPersist);  // not counted: never released
  }
  DWORD cookie = 0;
  HRESULT hr = CoRegisterClassObject(ReproClsid(), &g_factory, CLSCTX_LOCAL_SERVER,
                                     multi ? REGCLS_MULTIPLEUSE : REGCLS_SINGLEUSE, &cookie);
  SLOG("registered %s hr=0x%08lx", multi ? "multi" : "single", (unsigned long)hr);
  if (FAILED(hr)) return 2;
  const ULONGLONG deadline = GetTickCount64() + 30000;
  for (;;) {
    HANDLE client = g_client;
    HANDLE watched = client ? client : g_creator;
    HANDLE waits[3] = {g_released, g_watch_changed, watched};
    DWORD timeout = INFINITE;
    if (!g_created) {
      ULONGLONG now = GetTickCount64();
      timeout = now >= deadline ? 0 : (DWORD)(deadline - now);
    }
    DWORD woke = WaitForMultipleObjects(watched ? 3 : 2, waits, FALSE, timeout);
    if (woke == WAIT_OBJECT_0) {
      if (exit_ms < 0) {
        // Stays, serving further creations, until the watched client ends
        // (or, without a watch, 60 s after the last release).
        ResetEvent(g_released);
        if (!g_watch && WaitForSingleObject(g_released, 60000) == WAIT_TIMEOUT) EndServer(cookie, "stayed 60 s", 0);
        continue;
      }
      EndServer(cookie, "released", exit_ms);
    }
    if (woke == WAIT_OBJECT_0 + 2) EndServer(cookie, client ? "client gone" : "creator gone", exit_ms);
    if (woke == WAIT_TIMEOUT && !g_created) EndServer(cookie, "never created", exit_ms);
    if (woke == WAIT_FAILED) EndServer(cookie, "wait failed", exit_ms);
  }
}
