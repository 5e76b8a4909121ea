#pragma once
// The certificate dialog "証明書の確認": a server's certificate that could
// not be verified, shown for the user to judge (server, subject, issuer,
// validity, SHA-256 fingerprint). "この証明書を信頼する" pins the server's
// key (settings/files/PinnedKeys.h); "信頼しない" or Esc leaves everything
// as it was.
#include "platform/ServerCertificate.h"

#include <QDialog>

class QLabel;
class QPushButton;

class CertForm : public QDialog {
  Q_OBJECT
 public:
  // Shows `certificate` and waits for the answer. True when the user
  // trusted it and its key is pinned; a pin that cannot be written is said
  // in a message box and counts as not trusted.
  static bool ask(const ServerCertificate& certificate, QWidget* parent = nullptr);

  explicit CertForm(const ServerCertificate& certificate, QWidget* parent = nullptr);

  QLabel* IntroLabel;
  QLabel* ServerText;
  QLabel* SubjectText;
  QLabel* IssuerText;
  QLabel* ValidityText;
  QLabel* FingerprintText;
  QLabel* NameWarning;  // shown when the certificate names another server
  QLabel* WarningLabel;
  QPushButton* TrustCommand;
  QPushButton* DistrustCommand;
};
