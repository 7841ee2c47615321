#include "k27image/resource_update.h"

bool WriteWithImageResource(const std::filesystem::path&, const std::vector<uint8_t>*, const std::filesystem::path&,
                            std::string& error) {
  error = "embedding needs the Windows build of k27image (run it under Wine)";
  return false;
}
