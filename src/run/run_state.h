#ifndef K27_RUN_RUN_STATE_H_
#define K27_RUN_RUN_STATE_H_

#include <cstdint>

#include "image/inflate.h"
#include "image/validate_image.h"

// What passes between the stages, held by the driver for the whole run.
// Nothing here is released one by one: the process end reclaims it.
struct RunState {
  CodeBlock code;
  ProfileView profile;  // inside code
};

#endif  // K27_RUN_RUN_STATE_H_
