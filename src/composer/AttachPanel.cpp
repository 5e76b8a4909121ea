#include "AttachPanel.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

QString FileTitle(const QString& path) { return QFileInfo(path).fileName(); }

void AttachFirstFile(const AttachPanel& p) {
  p.more->setEnabled(true);
  const QString path = p.choose ? p.choose() : QString();
  if (!path.isEmpty()) {
    p.list->setText(path);
    p.titles->addItem(FileTitle(path));
  }
  p.first->setEnabled(false);
}

void AttachMoreFile(const AttachPanel& p) {
  p.titles->show();
  if (p.list->text().isEmpty()) return;
  const QString path = p.choose ? p.choose() : QString();
  if (path.isEmpty()) return;
  p.list->setText(p.list->text() + u',' + path);
  p.titles->addItem(FileTitle(path));
}

void CancelAttachments(const AttachPanel& p) {
  p.list->clear();
  p.titles->clear();
  p.titles->hide();
  p.more->setEnabled(false);
  p.cancel->setEnabled(false);
  p.first->setEnabled(true);
}
