#include "dialogs/emblem.h"

#include <algorithm>

#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

namespace velmora::dialogs {

namespace {

constexpr int kWidth = 142;
constexpr int kHeight = 71;
constexpr int kMastTop = 24;  // the waves above it stay inside the frame

// The 16 colours of the classic palette.
const QList<QRgb>& SixteenColours() {
  static const QList<QRgb> table = {
      qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
      qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
      qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
      qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
  return table;
}

const QColor kNavy(0, 0, 128);
const QColor kBlue(0, 0, 255);
const QColor kWhite(255, 255, 255);
const QColor kSilver(192, 192, 192);
const QColor kGray(128, 128, 128);
const QColor kYellow(255, 255, 0);
const QColor kAqua(0, 255, 255);
const QColor kTeal(0, 128, 128);
const QColor kRed(255, 0, 0);
const QColor kLime(0, 255, 0);

void DrawMast(QPainter& painter) {
  // A lattice mast on a ground line, its lamp at the top.
  painter.setPen(kSilver);
  painter.drawLine(4, 62, 60, 62);
  painter.setPen(kWhite);
  const QPoint top(30, kMastTop);
  painter.drawLine(top, QPoint(21, 61));
  painter.drawLine(top, QPoint(39, 61));
  for (int y = kMastTop + 6; y <= 54; y += 8) {
    const int half = (y - kMastTop) * 9 / (61 - kMastTop);
    const int next = std::min(y + 7, 61);
    painter.drawLine(30 - half, y, 30 + half, next);
    painter.drawLine(30 + half, y, 30 - half, next);
  }
  painter.setPen(kRed);
  painter.setBrush(kRed);
  painter.drawRect(29, kMastTop - 3, 2, 2);
}

void DrawWaves(QPainter& painter) {
  painter.setBrush(Qt::NoBrush);
  const QPoint centre(30, kMastTop - 2);
  const QColor colours[] = {kYellow, kYellow, kAqua};
  int radius = 6;
  for (const QColor& colour : colours) {
    painter.setPen(QPen(colour, 2));
    const QRect box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    painter.drawArc(box, -40 * 16, 80 * 16);   // to the right
    painter.drawArc(box, 140 * 16, 80 * 16);   // to the left
    radius += 6;
  }
}

void DrawBits(QPainter& painter) {
  // One character on the line, least significant bit first: start bit, 0x56 ('V'), stop bit.
  const int left = 62;
  const int bitWidth = 7;
  const int high = 36;
  const int low = 50;
  bool levels[10] = {false};
  const unsigned character = 0x56;
  for (int bit = 0; bit < 8; ++bit) levels[bit + 1] = ((character >> bit) & 1u) != 0;
  levels[9] = true;

  painter.setPen(kTeal);
  for (int x = left; x <= left + 10 * bitWidth; x += bitWidth) painter.drawLine(x, 30, x, 56);
  painter.setPen(QPen(kLime, 2));
  QPolygon trace;
  trace << QPoint(left - 6, high);
  bool level = true;
  for (int bit = 0; bit < 10; ++bit) {
    const int x = left + bit * bitWidth;
    if (levels[bit] != level) {
      trace << QPoint(x, level ? high : low) << QPoint(x, levels[bit] ? high : low);
      level = levels[bit];
    }
  }
  trace << QPoint(left + 10 * bitWidth + 6, level ? high : low);
  painter.drawPolyline(trace);
}

}  // namespace

QImage DrawEmblem() {
  QImage canvas(kWidth, kHeight, QImage::Format_RGB32);
  canvas.fill(kNavy);
  {
    QPainter painter(&canvas);
    // No smoothing: every pixel keeps one of the 16 colours.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(kBlue);
    painter.drawRect(0, 0, kWidth - 1, kHeight - 1);
    painter.setPen(kGray);
    painter.drawRect(2, 2, kWidth - 5, kHeight - 5);
    DrawMast(painter);
    DrawWaves(painter);
    DrawBits(painter);
  }
  return canvas.convertToFormat(QImage::Format_Indexed8, SixteenColours(), Qt::ThresholdDither);
}

}  // namespace velmora::dialogs
