#ifndef K27_SIM_COM_OBJECT_H_
#define K27_SIM_COM_OBJECT_H_

// IUnknown for the simulator's objects: one interface each, counted so the
// server knows when its client has let go of everything.

#include <objbase.h>

#include "server_state.h"

template <class Interface>
class ComObject : public Interface {
 public:
  ComObject() { ObjectCreated(); }
  virtual ~ComObject() { ObjectDestroyed(); }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, __uuidof(Interface))) {
      *out = static_cast<Interface*>(this);
      this->AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

 private:
  volatile LONG refs_ = 1;
};

#endif  // K27_SIM_COM_OBJECT_H_
