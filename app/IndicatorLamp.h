#pragma once

#include <QColor>
#include <QWidget>

#include "host/Host.h"

namespace tarvex {

// A small rounded-rectangle lamp with a black outline.
class IndicatorLamp : public QWidget {
    Q_OBJECT
  public:
    explicit IndicatorLamp(QWidget* parent = nullptr);

    void SetState(Lamp state);
    Lamp State() const { return state_; }
    QColor Colour() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Lamp state_ = Lamp::ButtonFace;
};

}  // namespace tarvex
