#include "platform/system/widgets/uHWndGrab.h"

#include <QEvent>
#include <QWidget>
#include <cmath>

namespace {

double TwipsPerPixel(int logicalDpi)
{
    return logicalDpi > 0 ? 1440.0 / logicalDpi : 15.0;
}

QSize FrameOf(const QWidget* window)
{
    return window->frameGeometry().size() - window->geometry().size();
}

} // namespace

uHWndGrab::uHWndGrab(QWidget* window) : QObject(window), m_window(window)
{
    m_window->installEventFilter(this);
    Apply();
}

void uHWndGrab::setMinWidth(qint32 twips)
{
    m_minWidth = twips;
    Apply();
}

void uHWndGrab::setMinHeight(qint32 twips)
{
    m_minHeight = twips;
    Apply();
}

void uHWndGrab::setMaxWidth(qint32 twips)
{
    m_maxWidth = twips;
    Apply();
}

void uHWndGrab::setMaxHeight(qint32 twips)
{
    m_maxHeight = twips;
    Apply();
}

void uHWndGrab::setEnabled(bool enabled)
{
    m_enabled = enabled;
    Apply();
}

int uHWndGrab::TwipsToPixelsX(const QWidget* widget, qint32 twips)
{
    return int(std::lround(twips / TwipsPerPixel(widget->logicalDpiX())));
}

int uHWndGrab::TwipsToPixelsY(const QWidget* widget, qint32 twips)
{
    return int(std::lround(twips / TwipsPerPixel(widget->logicalDpiY())));
}

qint32 uHWndGrab::WidthInTwips(const QWidget* window)
{
    return qint32(
        std::lround(window->frameGeometry().width() * TwipsPerPixel(window->logicalDpiX())));
}

qint32 uHWndGrab::HeightInTwips(const QWidget* window)
{
    return qint32(
        std::lround(window->frameGeometry().height() * TwipsPerPixel(window->logicalDpiY())));
}

void uHWndGrab::SetSizeInTwips(QWidget* window, qint32 width, qint32 height)
{
    const QSize frame = FrameOf(window);
    window->resize(qMax(0, TwipsToPixelsX(window, width) - frame.width()),
                   qMax(0, TwipsToPixelsY(window, height) - frame.height()));
}

void uHWndGrab::Apply()
{
    m_frame = FrameOf(m_window);
    if (!m_enabled) {
        m_window->setMinimumSize(0, 0);
        m_window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        return;
    }
    const int minWidth = qMax(0, TwipsToPixelsX(m_window, m_minWidth) - m_frame.width());
    const int minHeight = qMax(0, TwipsToPixelsY(m_window, m_minHeight) - m_frame.height());
    const int maxWidth =
        qBound(minWidth, TwipsToPixelsX(m_window, m_maxWidth) - m_frame.width(), QWIDGETSIZE_MAX);
    const int maxHeight = qBound(
        minHeight, TwipsToPixelsY(m_window, m_maxHeight) - m_frame.height(), QWIDGETSIZE_MAX);
    // Widening the old range first keeps Qt from squeezing the window through a stale bound.
    m_window->setMinimumSize(0, 0);
    m_window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    m_window->setMinimumSize(minWidth, minHeight);
    m_window->setMaximumSize(maxWidth, maxHeight);
}

bool uHWndGrab::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window) {
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Move:
        case QEvent::Resize:
            if (FrameOf(m_window) != m_frame) {
                Apply();
            }
            break;
        case QEvent::ScreenChangeInternal: // another logical DPI
            Apply();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}
