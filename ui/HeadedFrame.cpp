#include "ui/HeadedFrame.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEvent>
#include <QStyleOptionGroupBox>
#include <QStylePainter>

namespace {

// Where the heading starts, in from the frame's left edge.
constexpr int kIndent = 8;

} // namespace

HeadedFrame::HeadedFrame(QAbstractButton* heading, QWidget* parent)
    : QGroupBox(parent), m_heading(heading)
{
    heading->raise();
    // The base class measured its contents before this class could move the edge.
    QEvent styleChange(QEvent::StyleChange);
    QCoreApplication::sendEvent(this, &styleChange);
}

void HeadedFrame::changeEvent(QEvent* event)
{
    QGroupBox::changeEvent(event);
    if (event->type() == QEvent::StyleChange || event->type() == QEvent::FontChange) {
        // The base class has just measured its contents: they start below the whole heading.
        QMargins margins = contentsMargins();
        if (m_heading && margins.top() < m_heading->sizeHint().height()) {
            margins.setTop(m_heading->sizeHint().height());
            setContentsMargins(margins);
        }
    }
}

int HeadedFrame::EdgeOffset() const
{
    return m_heading ? m_heading->sizeHint().height() / 2 : 0;
}

void HeadedFrame::initStyleOption(QStyleOptionGroupBox* option) const
{
    QGroupBox::initStyleOption(option);
    const int offset = EdgeOffset();
    option->rect.setTop(option->rect.top() + offset);
}

void HeadedFrame::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionGroupBox option;
    initStyleOption(&option);
    // The line breaks off behind the heading, as behind a caption.
    if (m_heading && m_heading->isVisible()) {
        const QRect gap = m_heading->geometry().translated(-pos()).adjusted(-2, 0, 2, 0);
        painter.setClipRegion(QRegion(rect()).subtracted(gap));
    }
    painter.drawComplexControl(QStyle::CC_GroupBox, option);
}

QSize HeadedFrame::minimumSizeHint() const
{
    QSize size = QGroupBox::minimumSizeHint();
    if (m_heading) {
        size.setWidth(qMax(size.width(), m_heading->sizeHint().width() + 2 * kIndent));
    }
    return size;
}

void HeadedFrame::PlaceHeading()
{
    if (!m_heading) {
        return;
    }
    const QSize hint = m_heading->sizeHint();
    m_heading->setGeometry(x() + kIndent, y(), qMin(hint.width(), width() - 2 * kIndent),
                           hint.height());
}

void HeadedFrame::moveEvent(QMoveEvent* event)
{
    QGroupBox::moveEvent(event);
    PlaceHeading();
}

void HeadedFrame::resizeEvent(QResizeEvent* event)
{
    QGroupBox::resizeEvent(event);
    PlaceHeading();
}

void HeadedFrame::showEvent(QShowEvent* event)
{
    QGroupBox::showEvent(event);
    PlaceHeading();
}
