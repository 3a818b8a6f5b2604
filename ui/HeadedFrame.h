#pragma once

#include <QGroupBox>
#include <QPointer>

class QAbstractButton;

// A frame without caption headed by a check box or option button that sits on its top edge.
// The heading stays the frame's sibling, so that disabling the frame leaves it usable; it is
// kept in place whenever the frame moves or changes size.
class HeadedFrame : public QGroupBox
{
public:
    HeadedFrame(QAbstractButton* heading, QWidget* parent);

    QSize minimumSizeHint() const override;

protected:
    // The frame is drawn from the middle of the heading down, and its contents start below it.
    void initStyleOption(QStyleOptionGroupBox* option) const override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    int EdgeOffset() const;
    void PlaceHeading();

    QPointer<QAbstractButton> m_heading;
};
