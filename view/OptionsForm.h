#pragma once

#include <QWidget>

namespace tarvex {

// The options window: the page-by-page view of the image and the range editors.
class TOptions : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kClientWidth = 637;
    static constexpr int kClientHeight = 328;

    explicit TOptions(QWidget* parent = nullptr);
};

}  // namespace tarvex
