// The console key read taken from the Universal C Runtime, as a build with a
// UCRT toolchain would take it: the import check must refuse this program.

#include <conio.h>

int main() { return _ungetch(_getch()); }
