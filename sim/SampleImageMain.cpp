// zetak-sample-image FILE: writes a small multi-segment system image for the
// demo and for trying the tool without a real firmware file.

#include <cstdio>

#include "sim/ImageBuilder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: zetak-sample-image FILE\n");
    return 2;
  }
  if (!voltrix::writeImageFile(argv[1], voltrix::sampleImage())) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
