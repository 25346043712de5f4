#pragma once

#include <QWidget>
#include <functional>

namespace vistrale {

// The controller's own view inside the preview window: black, rounded, and told when
// its size changes so that the controls follow.
class PreviewContentView : public QWidget {
public:
    explicit PreviewContentView(QWidget* parent = nullptr);
    void setResizeHandler(std::function<void()> handler) { onResize = std::move(handler); }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    std::function<void()> onResize;
};

} // namespace vistrale
