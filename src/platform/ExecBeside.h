#pragma once
// Continuing in another program of the same folder, in the same process:
// how the entry hands a command line on. Plain C, so that the small entry
// needs no library for it.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <unistd.h>

// Runs `program` from the folder of this executable with `argv`; returns
// only when it could not, with the reason on standard error and 127.
inline int execBeside(const char* program, char** argv) {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) {
    std::fprintf(stderr, "tomoshibi: %s\n", std::strerror(errno));
    return 127;
  }
  path[n] = '\0';
  char* slash = std::strrchr(path, '/');
  const size_t folder = slash ? size_t(slash - path + 1) : 0;
  if (folder + std::strlen(program) >= sizeof path) {
    std::fprintf(stderr, "tomoshibi: %s\n", std::strerror(ENAMETOOLONG));
    return 127;
  }
  std::strcpy(path + folder, program);
  execv(path, argv);
  std::fprintf(stderr, "tomoshibi: %s: %s\n", path, std::strerror(errno));
  return 127;
}
