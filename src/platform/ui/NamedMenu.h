#pragma once
// Menu items carry their names, as every control does, so that other
// windows and outside checks can find them.
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <functional>

inline QAction* addNamedItem(QMenu* menu, const char* name, const QString& caption) {
  QAction* a = menu->addAction(caption);
  a->setObjectName(QString::fromLatin1(name));
  return a;
}

inline QAction* addNamedSeparator(QMenu* menu, const char* name) {
  QAction* a = menu->addSeparator();
  a->setObjectName(QString::fromLatin1(name));
  return a;
}

// The body's document and editing items, by their names, in the windows
// that show a body as a text document (the viewer and the compose window).
// Each window builds them into its menus "ファイル" and "編集", in its own
// order and among its own items.
struct BodyMenuItems {
  QMenu* mFile = nullptr;
  QAction* mnew = nullptr;
  QAction* mopen = nullptr;
  QAction* msave = nullptr;
  QAction* mprint = nullptr;
  QAction* mline = nullptr;
  QAction* mend = nullptr;
  QMenu* medit = nullptr;
  QAction* mall = nullptr;
  QAction* matamajump = nullptr;
  QAction* mbunmatujump = nullptr;
  QAction* mcut = nullptr;
  QAction* mcopy = nullptr;
  QAction* mpaste = nullptr;

  // The menus "ファイル(&F)" and `editCaption` on `bar`, with the body's
  // items; `fileOwn` adds the window's own items before "印刷", `editOwn`
  // its own after the jumps and before "切り取り".
  void addBodyMenus(QMenuBar* bar, const QString& editCaption, const std::function<void(QMenu*)>& fileOwn,
                    const std::function<void(QMenu*)>& editOwn) {
    mFile = bar->addMenu(QStringLiteral("ファイル(&F)"));
    mFile->setObjectName(QStringLiteral("mFile"));
    mnew = addNamedItem(mFile, "mnew", QStringLiteral("新規作成"));
    mopen = addNamedItem(mFile, "mopen", QStringLiteral("開く"));
    msave = addNamedItem(mFile, "msave", QStringLiteral("名前を付けて保存"));
    fileOwn(mFile);
    mprint = addNamedItem(mFile, "mprint", QStringLiteral("印刷"));
    mline = addNamedSeparator(mFile, "mline");
    mend = addNamedItem(mFile, "mend", QStringLiteral("終了"));
    medit = bar->addMenu(editCaption);
    medit->setObjectName(QStringLiteral("medit"));
    mall = addNamedItem(medit, "mall", QStringLiteral("全て選択"));
    matamajump = addNamedItem(medit, "matamajump", QStringLiteral("文頭へジャンプ"));
    mbunmatujump = addNamedItem(medit, "mbunmatujump", QStringLiteral("文末へジャンプ"));
    editOwn(medit);
    mcut = addNamedItem(medit, "mcut", QStringLiteral("切り取り"));
    mcopy = addNamedItem(medit, "mcopy", QStringLiteral("コピー"));
    mpaste = addNamedItem(medit, "mpaste", QStringLiteral("貼り付け"));
  }

  // Each body item runs the window's handler of its name.
  template <class Window>
  void connectBodyMenus(Window* w) const {
    QObject::connect(mnew, &QAction::triggered, w, &Window::mnew_Click);
    QObject::connect(mopen, &QAction::triggered, w, &Window::mopen_Click);
    QObject::connect(msave, &QAction::triggered, w, &Window::msave_Click);
    QObject::connect(mprint, &QAction::triggered, w, &Window::mprint_Click);
    QObject::connect(mend, &QAction::triggered, w, &Window::mend_Click);
    QObject::connect(mall, &QAction::triggered, w, &Window::mall_Click);
    QObject::connect(matamajump, &QAction::triggered, w, &Window::matamajump_Click);
    QObject::connect(mbunmatujump, &QAction::triggered, w, &Window::mbunmatujump_Click);
    QObject::connect(mcut, &QAction::triggered, w, &Window::mcut_Click);
    QObject::connect(mcopy, &QAction::triggered, w, &Window::mcopy_Click);
    QObject::connect(mpaste, &QAction::triggered, w, &Window::mpaste_Click);
  }
};
