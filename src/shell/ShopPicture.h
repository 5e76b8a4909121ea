#pragma once
#include <QPixmap>

// The still picture of the shop front shown on the main window.
QPixmap paintShopPicture(const QSize& size);
