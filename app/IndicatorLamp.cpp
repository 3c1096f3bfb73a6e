#include "app/IndicatorLamp.h"

#include <QPainter>
#include <algorithm>

namespace tarvex {

IndicatorLamp::IndicatorLamp(QWidget* parent) : QWidget(parent) {}

void IndicatorLamp::SetState(Lamp state) {
    if (state != state_) {
        state_ = state;
        update();
    }
}

QColor IndicatorLamp::Colour() const {
    switch (state_) {
        case Lamp::Red:
            return QColor(255, 0, 0);
        case Lamp::Green:
            return QColor(0, 255, 0);
        case Lamp::Yellow:
            return QColor(255, 255, 0);
        case Lamp::ButtonFace:
            break;
    }
    return palette().color(QPalette::Button);
}

void IndicatorLamp::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Colour());
    // A quarter of the shorter side, as the classic shape control rounds its corners.
    const double radius = std::min(width(), height()) / 4.0;
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
}

}  // namespace tarvex
