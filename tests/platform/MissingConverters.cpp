// Loaded with LD_PRELOAD: iconv_open fails for the charsets named in
// TOMOSHIBI_MISSING_CONVERTERS (comma-separated), as on a C library
// installed without them.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <iconv.h>
#include <string>

extern "C" iconv_t iconv_open(const char* to, const char* from) {
  using Real = iconv_t (*)(const char*, const char*);
  static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "iconv_open"));
  if (const char* missing = std::getenv("TOMOSHIBI_MISSING_CONVERTERS")) {
    const std::string list = std::string(",") + missing + ",";
    for (const char* name : {to, from}) {
      if (list.find(std::string(",") + name + ",") != std::string::npos) {
        errno = EINVAL;
        return reinterpret_cast<iconv_t>(-1);
      }
    }
  }
  return real(to, from);
}
