#ifndef K27_IMAGE_EMBEDDED_IMAGE_H_
#define K27_IMAGE_EMBEDDED_IMAGE_H_

#include "image/inflate.h"

// The firmware image carried in the tool: resource type "IMAGE", id 1001.
constexpr int kImageResourceId = 1001;
constexpr const char* kImageResourceType = "IMAGE";
// A smaller resource cannot be the image.
constexpr unsigned kMinimumImageResourceSize = 1024;

// Finds, checks and inflates the embedded image; ends the run on failure.
CodeBlock LoadEmbeddedImage();

#endif  // K27_IMAGE_EMBEDDED_IMAGE_H_
