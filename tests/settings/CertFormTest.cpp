// The certificate dialog on its own: what it shows, that every key but the
// trust button leaves things as they were, and a pin that cannot be written.
#include "platform/TestHooks.h"
#include "settings/CertForm.h"
#include "settings/files/PinnedKeys.h"
#include "support/Gui.h"
#include "support/WindowRules.h"

#include <QCryptographicHash>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

ServerCertificate sample(bool nameMatches) {
  ServerCertificate c;
  c.host = QStringLiteral("pop.example.jp");
  c.port = 995;
  c.subject = QStringLiteral("CN=mail.example.jp,O=灯火亭");
  c.issuer = QStringLiteral("CN=mail.example.jp,O=灯火亭");
  c.notBefore = QDateTime(QDate(2026, 4, 1), QTime(12, 0), Qt::UTC);
  c.notAfter = QDateTime(QDate(2036, 3, 31), QTime(12, 0), Qt::UTC);
  c.sha256 = QByteArray::fromHex("00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff");
  c.spkiSha256 = QCryptographicHash::hash("key", QCryptographicHash::Sha256);
  c.nameMatches = nameMatches;
  return c;
}

// CertForm::ask with the dialog answered by `answer` once it is up.
bool askAnswering(const ServerCertificate& c, std::function<void(CertForm*)> answer) {
  const testhooks::Scoped hook(testhooks::certForm, std::function<void(QDialog*)>([answer](QDialog* d) {
                                 QTimer::singleShot(0, d, [d, answer] { answer(static_cast<CertForm*>(d)); });
                               }));
  return CertForm::ask(c);
}

}  // namespace

TEST(CertificateDialog, ShowsTheCertificateAndSaysWhenTheNameDiffers) {
  TempHome home;
  for (bool matches : {true, false}) {
    CertForm f(sample(matches));
    f.show();
    pump();
    EXPECT_EQ(f.objectName(), QStringLiteral("CertForm"));
    EXPECT_EQ(f.windowTitle(), QStringLiteral("証明書の確認"));
    EXPECT_EQ(f.ServerText->text(), QStringLiteral("pop.example.jp:995"));
    EXPECT_EQ(f.SubjectText->text(), QStringLiteral("CN=mail.example.jp,O=灯火亭"));
    EXPECT_EQ(f.FingerprintText->text(),
              QStringLiteral("00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF"));
    EXPECT_TRUE(f.ValidityText->text().startsWith(QStringLiteral("2026/04/01"))) << f.ValidityText->text().toStdString();
    EXPECT_TRUE(f.ValidityText->text().contains(QStringLiteral(" ～ 2036/03/31"))) << f.ValidityText->text().toStdString();
    EXPECT_EQ(f.NameWarning->isVisible(), !matches);
    EXPECT_EQ(f.TrustCommand->text(), QStringLiteral("この証明書を信頼する"));
    EXPECT_EQ(f.DistrustCommand->text(), QStringLiteral("信頼しない"));
    EXPECT_TRUE(f.DistrustCommand->isDefault());
    EXPECT_TRUE(keepsScreenReaderRules(&f));
  }
}

TEST(CertificateDialog, OnlyTheTrustButtonPinsTheKey) {
  TempHome home;
  const ServerCertificate c = sample(false);
  EXPECT_FALSE(askAnswering(c, [](CertForm* f) { QTest::keyClick(f, Qt::Key_Escape); }));
  EXPECT_FALSE(askAnswering(c, [](CertForm* f) { QTest::keyClick(f, Qt::Key_Return); }));
  EXPECT_FALSE(askAnswering(c, [](CertForm* f) { f->DistrustCommand->click(); }));
  EXPECT_FALSE(QFile::exists(pins::filePath()));

  EXPECT_TRUE(askAnswering(c, [](CertForm* f) { f->TrustCommand->click(); }));
  const std::optional<pins::Pin> pin = pins::find(QStringLiteral("pop.example.jp"), 995);
  ASSERT_TRUE(pin);
  EXPECT_EQ(pin->key, c.pin());
  EXPECT_TRUE(pin->anyName);
}

TEST(CertificateDialog, APinThatCannotBeWrittenIsSaidAndNotTrusted) {
  TempHome home(false);  // no data folder
  MsgBoxAnswerer boxes;
  EXPECT_FALSE(askAnswering(sample(true), [](CertForm* f) { f->TrustCommand->click(); }));
  ASSERT_EQ(boxes.seen().size(), 1);
  EXPECT_TRUE(boxes.seen()[0].text.startsWith(QStringLiteral("信頼した証明書の鍵を「"))) << boxes.seen()[0].text.toStdString();
  EXPECT_FALSE(pins::find(QStringLiteral("pop.example.jp"), 995));
}
