// Prints the ANSI code page that this Windows session runs under, so that a
// test of texts outside it can make sure it is the one it means to test.

#include <windows.h>

#include <cstdio>

int main() {
  std::printf("%u\n", ::GetACP());
  return 0;
}
