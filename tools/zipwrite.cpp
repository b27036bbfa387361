// zipwrite ARCHIVE FILE...
// Adds each FILE to a new ARCHIVE under its base name and prints the result
// code of every step.
#include <cstdio>
#include <string>

#include "zip/zip_archive.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: zipwrite ARCHIVE FILE...\n");
    return 2;
  }
  auto archive = Zip::OpenArchive(argv[1]);
  if (!archive) {
    std::printf("open %s: 0x%X\n", argv[1], static_cast<unsigned>(Zip::AR_CANNOT_OPEN));
    return 1;
  }
  int failures = 0;
  for (int i = 2; i < argc; ++i) {
    const std::string path = argv[i];
    const size_t slash = path.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const uint32_t result = Zip::AddArchiveEntry(archive.get(), name, path);
    std::printf("add %s: 0x%X\n", name.c_str(), static_cast<unsigned>(result));
    if (result != Zip::AR_OK) ++failures;
  }
  const uint32_t closed = Zip::CloseArchive(std::move(archive));
  std::printf("close: 0x%X\n", static_cast<unsigned>(closed));
  return closed == Zip::AR_OK && failures == 0 ? 0 : 1;
}
