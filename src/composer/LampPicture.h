#pragma once
// The lamp in the corner of the compose window, drawn for the size it is
// shown at.
#include <QPixmap>
#include <QSize>

QPixmap paintLamp(const QSize& size);
