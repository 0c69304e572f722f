#include "app/VrProgressBar.h"

#include <QLinearGradient>
#include <QPainter>
#include <algorithm>

namespace {
constexpr int kBevel = 1; // lowered outer bevel, no inner bevel
}

TVrProgressBar::TVrProgressBar(QWidget* parent) : QWidget(parent)
{
    // No text of its own: the status label lies over it.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int TVrProgressBar::FilledWidth() const
{
    const int inner = std::max(0, width() - 2 * kBevel);
    const long long span = static_cast<long long>(max_) - min_;
    if (span <= 0) return 0;
    return static_cast<int>(static_cast<long long>(inner) * (position_ - min_) / span);
}

void TVrProgressBar::SetPosition(int position)
{
    const int filledBefore = FilledWidth();
    position_ = std::clamp(position, min_, max_);
    Changed(filledBefore);
}

void TVrProgressBar::SetMax(int max)
{
    if (max <= min_) return;
    const int filledBefore = FilledWidth();
    max_ = max;
    position_ = std::min(position_, max_);
    Changed(filledBefore);
}

void TVrProgressBar::SetMin(int min)
{
    if (min >= max_) return;
    const int filledBefore = FilledWidth();
    min_ = min;
    position_ = std::max(position_, min_);
    Changed(filledBefore);
}

// Painting costs far more than a byte on the line, so the bar is repainted
// only when the filled part actually changes on screen; then at once, with the
// label and frame lying over it, without waiting for the event loop. Only the
// columns between the old and the new end of the fill change: painting just
// those costs a fraction of the whole bar, the label and the frame.
void TVrProgressBar::Changed(int filledBefore)
{
    const int filledNow = FilledWidth();
    if (filledNow == filledBefore || !isVisible()) return;
    const int from = std::min(filledBefore, filledNow);
    const int to = std::max(filledBefore, filledNow);
    repaint(kBevel + from, kBevel, to - from, height() - 2 * kBevel);
}

void TVrProgressBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect outer = rect();
    painter.fillRect(outer, palette().button());
    // Lowered bevel: dark on top and left, light on bottom and right.
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(outer.topLeft(), outer.topRight());
    painter.drawLine(outer.topLeft(), outer.bottomLeft());
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(outer.bottomLeft(), outer.bottomRight());
    painter.drawLine(outer.topRight(), outer.bottomRight());

    const QRect inner = outer.adjusted(kBevel, kBevel, -kBevel, -kBevel);
    const int filled = FilledWidth();
    if (filled <= 0) return;
    QLinearGradient gradient(inner.topLeft(), inner.topRight());
    gradient.setColorAt(0.0, QColor(0x00, 0x00, 0x80)); // navy
    gradient.setColorAt(1.0, QColor(0x00, 0xFF, 0xFF)); // aqua
    painter.fillRect(QRect(inner.left(), inner.top(), filled, inner.height()), gradient);
}
