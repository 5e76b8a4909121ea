// The replay test of one fuzz target, built in every tree with tests: each
// crash a fuzzing run once found (tests/data/fuzz-regressions/<target>/)
// is a test case of its own, and the seeds are run through the target as
// one more, without libFuzzer.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <gtest/gtest.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

void runOne(const QString& path) {
  static const bool initialized = [] {
    if (LLVMFuzzerInitialize) {
      int argc = 0;
      char** argv = nullptr;
      LLVMFuzzerInitialize(&argc, &argv);
    }
    return true;
  }();
  (void)initialized;
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
  // A copy of its own, as libFuzzer gives: reading past it is caught.
  const QByteArray bytes = f.readAll();
  std::unique_ptr<uint8_t[]> copy(new uint8_t[size_t(bytes.size()) + 1]);
  memcpy(copy.get(), bytes.constData(), size_t(bytes.size()));
  EXPECT_EQ(LLVMFuzzerTestOneInput(copy.get(), size_t(bytes.size())), 0) << path.toStdString();
}

class Replay : public ::testing::Test {
 public:
  explicit Replay(QStringList files) : files_(std::move(files)) {}
  void TestBody() override {
    for (const QString& f : files_) {
      SCOPED_TRACE(f.toStdString());
      runOne(f);
    }
  }

 private:
  QStringList files_;
};

QStringList seedFiles() {
  QFile list(QStringLiteral(FUZZ_SEED_LIST));
  QStringList out;
  if (!list.open(QIODevice::ReadOnly)) return out;
  for (const QByteArray& line : list.readAll().split('\n'))
    if (!line.isEmpty()) out << QFile::decodeName(line);
  return out;
}

// Each target's cases under its own name: fuzz_<target>.Seeds,
// fuzz_<target>.Regression_<file>.
constexpr const char* kSuite = "fuzz_" FUZZ_TARGET;

// Test names: letters, digits and '_' only.
std::string testName(const QString& file) {
  std::string out;
  for (QChar c : file) out += (c.isLetterOrNumber() && c.unicode() < 0x80) ? char(c.unicode()) : '_';
  return out;
}

const bool registered = [] {
  const QDir regressions(QStringLiteral(FUZZ_REGRESSIONS));
  for (const QFileInfo& f : regressions.entryInfoList(QDir::Files, QDir::Name)) {
    const QString path = f.filePath();
    ::testing::RegisterTest(kSuite, ("Regression_" + testName(f.fileName())).c_str(), nullptr, nullptr, __FILE__, __LINE__,
                            [path]() -> ::testing::Test* { return new Replay({path}); });
  }
  ::testing::RegisterTest(kSuite, "Seeds", nullptr, nullptr, __FILE__, __LINE__,
                          []() -> ::testing::Test* { return new Replay(seedFiles()); });
  return true;
}();

}  // namespace
