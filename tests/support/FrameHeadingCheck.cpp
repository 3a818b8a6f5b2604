#include "tests/support/FrameHeadingCheck.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QImage>
#include <QPixmap>
#include <gtest/gtest.h>

namespace {

// The row of the frame's top edge line in its own drawing, to the right of the heading: row 0
// when the line starts the drawing, else the first row that differs from the background
// above it.
int DrawnTopEdge(const QGroupBox* frame)
{
    const QImage image =
        const_cast<QGroupBox*>(frame)->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const int x = image.width() - 6;
    const QRgb first = image.pixel(x, 0);
    for (int y = 1; y < image.height(); ++y) {
        if (image.pixel(x, y) != first) {
            return y == 1 ? 0 : y;
        }
    }
    return -1;
}

} // namespace

void ExpectHeadingOnTopEdge(const QAbstractButton* heading, const QGroupBox* frame)
{
    const std::string name = heading->objectName().toStdString();
    ASSERT_EQ(heading->parentWidget(), frame->parentWidget()) << name;
    ASSERT_TRUE(heading->isVisible() && frame->isVisible()) << name;
    const QRect head = heading->geometry();
    const QRect box = frame->geometry();

    const int edge = DrawnTopEdge(frame);
    ASSERT_GE(edge, 0) << name;
    const int edgeY = box.top() + edge;
    EXPECT_LT(head.top(), edgeY) << name << ": the heading lies above the frame's edge";
    EXPECT_GT(head.bottom(), edgeY) << name << ": the heading lies below the frame's edge";
    EXPECT_GT(head.left(), box.left()) << name;
    EXPECT_LT(head.right(), box.right()) << name;
    EXPECT_GE(head.width(), heading->sizeHint().width()) << name << ": the caption is cut";

    // Drawn over the frame, not hidden behind it.
    const QWidget* hit = frame->parentWidget()->childAt(head.center());
    EXPECT_TRUE(hit == heading || heading->isAncestorOf(hit)) << name;

    for (const QWidget* child : frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isVisible() && !child->isWindow()) {
            EXPECT_GE(child->mapTo(frame->parentWidget(), QPoint(0, 0)).y(), head.bottom())
                << name << " covers " << child->objectName().toStdString();
        }
    }
}
