#pragma once
// The line program's commands for signing keys and images:
//   --keygen BASENAME         writes BASENAME.pub and BASENAME.key (0600)
//   --sign --key FILE IMAGE   prints the image's base64 signature and
//                             writes it to IMAGE.sig
// Each returns the program's exit code and writes only to `out` and `err`.

#include <cstdio>
#include <string>

namespace voltrix {

int runKeygen(const std::string& basename, std::FILE* out, std::FILE* err);
int runSign(const std::string& keyFile, const std::string& imagePath, std::FILE* out,
            std::FILE* err);

}  // namespace voltrix
