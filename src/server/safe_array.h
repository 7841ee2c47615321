#ifndef K27_SERVER_SAFE_ARRAY_H_
#define K27_SERVER_SAFE_ARRAY_H_

#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <cstdint>

// An array received from the server, checked and locked: its elements from
// the first one, whatever its lower bound.
struct ReceivedArray {
  SAFEARRAY* array = nullptr;
  const uint8_t* data = nullptr;
  size_t count = 0;
};

// Checks a received array before anything is read from it: present, of
// element type `type` (each element `element_size` bytes), locked with
// exactly S_OK, one-dimensional with readable bounds. Ends the run with
// "DEVICE DETECT RESPONSE INVALID" otherwise.
ReceivedArray LockReceivedArray(SAFEARRAY* array, VARTYPE type, size_t element_size);

// Unlocks and destroys a received array once its stage is done with it.
void ReleaseReceivedArray(const ReceivedArray& received);

// A byte array to send: lower bound 0, exactly `size` elements, filled with
// `data`, and locked until it is destroyed. An array that cannot be had
// raises std::bad_alloc.
SAFEARRAY* CreateSentByteArray(const uint8_t* data, size_t size);

// Unlocks and destroys a sent array right after the call that took it.
void DestroySentArray(SAFEARRAY* array);

#endif  // K27_SERVER_SAFE_ARRAY_H_
