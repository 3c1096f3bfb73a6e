#pragma once

#include <QWidget>

namespace tarvex {

// The counters of the continuous memory test.
class TStdTest : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kClientWidth = 202;
    static constexpr int kClientHeight = 122;

    explicit TStdTest(QWidget* parent = nullptr);
};

}  // namespace tarvex
