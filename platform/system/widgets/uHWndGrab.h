#pragma once

#include <QObject>
#include <QSize>

class QWidget;

// Keeps a top-level window's outer size (frame included, as Windows measures it) within limits
// given in twips: 1,440 per inch at the window's logical DPI, 15 per pixel at 96 DPI. The
// frame is measured whenever the window system reports it, and the limits follow it.
class uHWndGrab : public QObject
{
    Q_OBJECT

public:
    explicit uHWndGrab(QWidget* window);

    qint32 MinWidth() const { return m_minWidth; }
    qint32 MinHeight() const { return m_minHeight; }
    qint32 MaxWidth() const { return m_maxWidth; }
    qint32 MaxHeight() const { return m_maxHeight; }
    void setMinWidth(qint32 twips);
    void setMinHeight(qint32 twips);
    void setMaxWidth(qint32 twips);
    void setMaxHeight(qint32 twips);
    // Size limiting on; off leaves the window free.
    bool Enabled() const { return m_enabled; }
    void setEnabled(bool enabled);

    // The window's outer size in whole twips, and setting it.
    static qint32 WidthInTwips(const QWidget* window);
    static qint32 HeightInTwips(const QWidget* window);
    static void SetSizeInTwips(QWidget* window, qint32 width, qint32 height);
    static int TwipsToPixelsX(const QWidget* widget, qint32 twips);
    static int TwipsToPixelsY(const QWidget* widget, qint32 twips);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Apply();

    QWidget* m_window;
    qint32 m_minWidth = 0;
    qint32 m_minHeight = 0;
    qint32 m_maxWidth = 90000;
    qint32 m_maxHeight = 90000;
    bool m_enabled = true;
    QSize m_frame; // what the frame added when the limits were last applied
};
