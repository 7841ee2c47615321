// The least program: prints one line, exits 0. Run in a loop from Unix
// (`wine small.exe`) or started by spawn.exe, to count failed starts.
#include <cstdio>
int main() {
  std::puts("small");
  return 0;
}
