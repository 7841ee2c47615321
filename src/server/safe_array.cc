#include "server/safe_array.h"

#include <climits>
#include <cstring>
#include <new>

#include "run/fatal_exit.h"

namespace {

[[noreturn]] void Invalid() { FatalExit(1, "DEVICE DETECT RESPONSE INVALID"); }

}  // namespace

ReceivedArray LockReceivedArray(SAFEARRAY* array, VARTYPE type, size_t element_size) {
  if (!array) Invalid();
  VARTYPE actual = VT_EMPTY;
  if (FAILED(SafeArrayGetVartype(array, &actual)) || actual != type) Invalid();
  if (SafeArrayGetElemsize(array) != element_size) Invalid();
  if (SafeArrayLock(array) != S_OK) Invalid();
  // More than one dimension would make the first one's bounds describe a
  // different number of elements than the data holds.
  if (SafeArrayGetDim(array) != 1) Invalid();
  LONG lower = 0;
  LONG upper = 0;
  if (FAILED(SafeArrayGetLBound(array, 1, &lower))) Invalid();
  if (FAILED(SafeArrayGetUBound(array, 1, &upper))) Invalid();
  const int64_t count = int64_t{upper} - int64_t{lower} + 1;
  // The bounds are computed in 32 bits; they must agree with the element
  // count that sized the data.
  if (count < 0 || static_cast<uint64_t>(count) != array->rgsabound[0].cElements) Invalid();
  if (count > 0 && !array->pvData) Invalid();
  return ReceivedArray{array, static_cast<const uint8_t*>(array->pvData), static_cast<size_t>(count)};
}

void ReleaseReceivedArray(const ReceivedArray& received) {
  SafeArrayUnlock(received.array);
  SafeArrayDestroy(received.array);
}

SAFEARRAY* CreateSentByteArray(const uint8_t* data, size_t size) {
  if (size > ULONG_MAX) throw std::bad_alloc();
  SAFEARRAYBOUND bound;
  bound.cElements = static_cast<ULONG>(size);
  bound.lLbound = 0;
  SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
  if (!array) throw std::bad_alloc();
  // A fresh array of our own can only fail to lock when it could not be
  // had in the first place.
  if (SafeArrayLock(array) != S_OK) throw std::bad_alloc();
  if (size > 0) std::memcpy(array->pvData, data, size);
  return array;
}

void DestroySentArray(SAFEARRAY* array) {
  SafeArrayUnlock(array);
  SafeArrayDestroy(array);
}
