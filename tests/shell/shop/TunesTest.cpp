// The shop's tunes: the note lists hold whole bars, the build ships what the
// lists say, and each tune, rendered by FluidSynth's file renderer through
// the sound font the program plays it with, lasts as long as its notes and
// is well audible.
#include "platform/sound/Mci.h"
#include "shell/shop/Tunes.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Stat {
  double seconds = -1, rms = -1, peak = -1;
};

// sox's "stat" of a WAV file.
Stat soxStat(const QString& wav) {
  QProcess sox;
  sox.start(QStringLiteral("sox"), {wav, QStringLiteral("-n"), QStringLiteral("stat")});
  EXPECT_TRUE(sox.waitForFinished(60000));
  const QString out = QString::fromLocal8Bit(sox.readAllStandardError());
  auto number = [&](const char* label) {
    const QRegularExpression re(QString::fromLatin1(label) + QStringLiteral(":\\s*([0-9.]+)"));
    const QRegularExpressionMatch m = re.match(out);
    return m.hasMatch() ? m.captured(1).toDouble() : -1.0;
  };
  return {number("Length \\(seconds\\)"), number("RMS\\s+amplitude"), number("Maximum amplitude")};
}

bool run(const QString& program, const QStringList& args) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(120000)) return false;
  return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

}  // namespace

TEST(TuneLists, BarsAreCheckedAndLengthsFollowTheTempoMap) {
  std::string error;
  tunes::parseNotes("E4:q E4:q D4:q | B3:h |", 3, &error);
  EXPECT_NE(error.find("bar 2"), std::string::npos) << error;
  error.clear();
  tunes::parseNotes("H4:q", 1, &error);
  EXPECT_NE(error.find("H4"), std::string::npos) << error;
  error.clear();
  const std::vector<tunes::Note> n = tunes::parseNotes("[E3 G3 B3]:h. | F#4:e. Bb3:s r:h |", 3, &error);
  EXPECT_TRUE(error.empty()) << error;
  ASSERT_EQ(n.size(), 4u);
  EXPECT_EQ(n[0].keys, (std::vector<int>{52, 55, 59}));
  EXPECT_EQ(n[1].keys, std::vector<int>{66});
  EXPECT_EQ(n[1].ticks, tunes::kTicksPerQuarter * 3 / 4);
  EXPECT_EQ(n[2].keys, std::vector<int>{58});
  EXPECT_TRUE(n[3].keys.empty());

  // Four quarters at 60 a minute, then four at 120: six seconds.
  tunes::Tune t;
  t.tempi = {{0, 60}, {4 * tunes::kTicksPerQuarter, 120}};
  t.parts = {tunes::Part{0, 0, 100, 90, tunes::parseNotes("C4:w | C4:w |", 4, &error)}};
  EXPECT_DOUBLE_EQ(tunes::lengthSeconds(t), 6.0);
}

TEST(ShopTunes, ShippedAsTheirListsSayAMinuteOrLessEach) {
  std::string error;
  const std::vector<tunes::Tune> all = tunes::shopTunes(&error);
  ASSERT_TRUE(error.empty()) << error;
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].fileName, "Kouka.mid");
  EXPECT_EQ(all[1].fileName, "Kouka2.mid");
  for (const tunes::Tune& t : all) {
    EXPECT_GT(tunes::lengthSeconds(t), 30) << t.fileName;
    EXPECT_LE(tunes::lengthSeconds(t), 60) << t.fileName;
    QFile shipped(QStringLiteral(":/home/Sound/") + QString::fromStdString(t.fileName));
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly)) << t.fileName;
    const std::vector<std::uint8_t> smf = tunes::toSmf(t);
    EXPECT_EQ(shipped.readAll(), QByteArray(reinterpret_cast<const char*>(smf.data()), qsizetype(smf.size())));
  }
}

TEST(ShopTunes, RenderedEachLastsAsLongAsItsNotesAndIsAudible) {
  for (const char* tool : {"fluidsynth", "sox"})
    ASSERT_FALSE(QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) << tool << " is not installed";
  const QString font = mci::soundFontPath();
  ASSERT_FALSE(font.isEmpty()) << "no General MIDI sound font installed";
  std::string error;
  QTemporaryDir dir;
  for (const tunes::Tune& t : tunes::shopTunes(&error)) {
    const QString name = QString::fromStdString(t.fileName);
    const QString mid = dir.filePath(name), wav = dir.filePath(name + QStringLiteral(".wav")),
                  sounding = dir.filePath(name + QStringLiteral(".sounding.wav"));
    QFile::copy(QStringLiteral(":/home/Sound/") + name, mid);
    ASSERT_TRUE(run(QStringLiteral("fluidsynth"), {QStringLiteral("-ni"), QStringLiteral("-q"), QStringLiteral("-g"),
                                                   QString::number(mci::synthGain()), QStringLiteral("-r"),
                                                   QStringLiteral("44100"), QStringLiteral("-F"), wav, font, mid}))
        << name.toStdString();
    // The renderer goes on for the last notes to fade and then two seconds
    // more; the tune is what sounds, up to where it falls below -50 dB.
    ASSERT_TRUE(run(QStringLiteral("sox"), {wav, sounding, QStringLiteral("reverse"), QStringLiteral("silence"),
                                            QStringLiteral("1"), QStringLiteral("0.01"), QStringLiteral("-50d"),
                                            QStringLiteral("reverse")}));
    const Stat whole = soxStat(wav), heard = soxStat(sounding);
    const double expected = tunes::lengthSeconds(t);
    EXPECT_NEAR(heard.seconds, expected, expected * 0.05) << name.toStdString();
    EXPECT_GT(whole.seconds, heard.seconds - 0.01);
    // Well above silence (-40 dB), and not clipped.
    EXPECT_GT(heard.rms, 0.02) << name.toStdString();
    EXPECT_LT(heard.peak, 0.99) << name.toStdString();
  }
}
