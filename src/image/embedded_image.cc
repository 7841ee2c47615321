#include "image/embedded_image.h"

#include <windows.h>

#include "run/fatal_exit.h"

CodeBlock LoadEmbeddedImage() {
  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(kImageResourceId), kImageResourceType);
  if (!found) FatalExit(1, "CODE RESOURCE NOT FOUND");
  DWORD size = SizeofResource(nullptr, found);
  if (size < kMinimumImageResourceSize) FatalExit(1, "CODE RESOURCE TOO SMALL");
  HGLOBAL loaded = LoadResource(nullptr, found);
  if (!loaded) FatalExit(1, "COULD NOT LOAD CODE RESOURCE");
  const void* data = LockResource(loaded);
  if (!data) FatalExit(1, "COULD NOT LOCK CODE RESOURCE");
  return InflateImage(static_cast<const uint8_t*>(data), size);
}
