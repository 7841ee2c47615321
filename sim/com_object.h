#ifndef K27_SIM_COM_OBJECT_H_
#define K27_SIM_COM_OBJECT_H_

// IUnknown for the simulator's objects: one interface each, counted so the
// server knows when its client has let go of everything, and each owned by
// the run (session) whose creation handed it out. An object no client is
// ever given (HoldInterfaces) is not counted and belongs to no run.

#include <objbase.h>

#include <memory>

#include "server_state.h"
#include "sessions.h"

enum class Counted { kYes, kNo };

template <class Interface>
class ComObject : public Interface {
 public:
  explicit ComObject(std::shared_ptr<Session> session, Counted counted = Counted::kYes)
      : session_(std::move(session)), counted_(counted == Counted::kYes) {
    if (counted_) ObjectCreated();
    if (session_) SessionObjectMade(*session_);
  }
  virtual ~ComObject() {
    if (session_) SessionObjectGone(*session_);
    if (counted_) ObjectDestroyed();
  }
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

 protected:
  Session* session() const { return session_.get(); }
  const std::shared_ptr<Session>& shared_session() const { return session_; }

 private:
  const std::shared_ptr<Session> session_;
  const bool counted_;
  volatile LONG refs_ = 1;
};

#endif  // K27_SIM_COM_OBJECT_H_
