// The least client: CoCreateInstance of the local server, one call
// (IPersist::GetClassID, standing for "GetVersion"), Release. Loops N times
// in one process (argument; default 1). Prints one line per round.
//   REPRO_CLILOG  log file (time-stamped lines)
//   REPRO_STA     1: single-threaded apartment (default: multithreaded)
//   REPRO_STALL   1: after the first creation, wait for ever instead of
//                 calling (stands for a client hung there, to be killed)
#include <windows.h>
#include <objbase.h>
#include <cstdio>
#include <cstdlib>
#include "common.h"

#define CLOG(...) LogTo("REPRO_CLILOG", __VA_ARGS__)

int main(int argc, char** argv) {
  int rounds = argc > 1 ? atoi(argv[1]) : 1;
  bool sta = EnvInt("REPRO_STA", 0) != 0;
  CLOG("client start rounds=%d", rounds);
  if (FAILED(CoInitializeEx(nullptr, sta ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED))) return 2;
  int failures = 0;
  for (int i = 0; i < rounds; ++i) {
    IPersist* p = nullptr;
    unsigned long long t0 = NowMs();
    CLOG("round %d CoCreateInstance", i);
    HRESULT hr = CoCreateInstance(ReproClsid(), nullptr, CLSCTX_LOCAL_SERVER, IID_IPersist, (void**)&p);
    unsigned long long t1 = NowMs();
    CLOG("round %d created hr=0x%08lx in %llu ms", i, (unsigned long)hr, t1 - t0);
    HRESULT call = E_FAIL;
    if (SUCCEEDED(hr) && EnvInt("REPRO_STALL", 0)) {
      CLOG("round %d stalling before the first call", i);
      Sleep(INFINITE);
    }
    if (SUCCEEDED(hr)) {
      CLSID c{};
      call = p->GetClassID(&c);
      CLOG("round %d call hr=0x%08lx", i, (unsigned long)call);
      p->Release();
      CLOG("round %d released", i);
    }
    if (FAILED(hr) || FAILED(call)) ++failures;
    printf("round %d create 0x%08lx call 0x%08lx %llu ms\n", i, (unsigned long)hr, (unsigned long)call, NowMs() - t0);
    fflush(stdout);
  }
  CoUninitialize();
  CLOG("client end failures=%d", failures);
  return failures ? 1 : 0;
}
