// Build tool: writes the shop's tunes as standard MIDI files into the folder
// named on the command line.
#include "Tunes.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  std::string error;
  const std::vector<tunes::Tune> all = tunes::shopTunes(&error);
  if (!error.empty()) {
    std::fprintf(stderr, "tune lists: %s\n", error.c_str());
    return 1;
  }
  for (const tunes::Tune& t : all) {
    const std::vector<std::uint8_t> smf = tunes::toSmf(t);
    const std::string path = std::string(argv[1]) + "/" + t.fileName;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(smf.data()), std::streamsize(smf.size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
