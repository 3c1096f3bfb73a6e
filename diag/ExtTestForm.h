#pragma once

#include <QWidget>

namespace tarvex {

// The interface signals test: which lines to drive and where to probe them.
class TExtTest : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kClientWidth = 338;
    static constexpr int kClientHeight = 202;

    explicit TExtTest(QWidget* parent = nullptr);
};

}  // namespace tarvex
