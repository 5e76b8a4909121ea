// The program's entry, `tomoshibi`: it loads nothing but the C library.
// It answers --version itself and hands every other command line on, in
// the same process, to the program beside it that does the work: the
// headless one for a send, a check, an export or an import (which scripts
// and timers run again and again), the full program for everything else.
// Neither waits for the other's libraries to load.
#include "platform/ExecBeside.h"
#include "platform/Version.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kFullProgram = "tomoshibi-main";
constexpr const char* kHeadlessProgram = "tomoshibi-headless";

bool headlessWord(const char* a) {
  static const char* const kWords[] = {"--send", "--check", "--export-mbox", "--import"};
  for (const char* w : kWords)
    if (std::strcmp(a, w) == 0) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // Alone: with anything else, the full program judges the whole line.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::fputs(kVersionLine, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  const char* next = kFullProgram;
  for (int i = 1; i < argc; ++i)
    if (headlessWord(argv[i])) next = kHeadlessProgram;
  return execBeside(next, argv);
}
