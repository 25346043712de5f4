#pragma once

#include <QImage>
#include <QWidget>

class QPdfDocument;
class QPdfPageRenderer;

namespace vistrale {

// Shows one page of a PDF at a time, fitted into the widget on black, drawn on white
// at the widget's pixel size. Pages turn with the arrow and page keys, space, Home,
// End and the wheel. Pages are rendered on Qt PDF's render thread; the widget keeps
// the last picture until the new one is there, and does no work while nothing
// changes. Main thread.
class PdfPageView : public QWidget {
public:
    // The document must outlive the view.
    explicit PdfPageView(QPdfDocument& document, QWidget* parent = nullptr);
    ~PdfPageView() override;

    int currentPage() const { return page; }
    void setPage(int number);
    int pageCount() const;
    // Whether the current page at the current size has been drawn.
    bool pageShown() const { return shownPage == page && shownSize == targetSize(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // Where the page goes in the widget.
    QRectF pageRect() const;
    // The page picture's pixel size for the widget's current size.
    QSize targetSize() const;
    void requestRender();

    QPdfDocument& document;
    QPdfPageRenderer* renderer;
    int page = 0;
    QImage picture;
    int shownPage = -1;
    QSize shownSize;
    quint64 pendingRequest = 0;
    int wheelAngle = 0;
};

} // namespace vistrale
