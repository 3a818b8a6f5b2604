#pragma once

#include "framework/StartupSplash.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QString>
#include <QWidget>

class QLabel;

// The start-up window: a picture with the program's version, company and platform, a status
// line, and an optional row of step icons under the picture. One instance at a time (Load,
// Loaded, Unload).
class frmSplash : public QWidget, public StartupSplash
{
    Q_OBJECT

public:
    // programFolder and exeTitle choose the picture file; by default the executable's own.
    explicit frmSplash(const QString& programFolder = QString(),
                       const QString& exeTitle = QString());
    ~frmSplash() override;

    // The window, loaded first when it is not.
    static frmSplash* Load();
    // nullptr when not loaded.
    static frmSplash* Loaded();
    static void Unload();

    QString LogoFilename;

    bool Floating() const { return m_floating; }
    void setFloating(bool newVal);

    void SetCurrentAction(const QString& Action) override;

    qint16 NumberIcons() const { return m_numberIcons; }
    void setNumberIcons(qint16 value) override;

    void SetIconInfo(qint16 IconIndex, const QString& IconReference,
                     const QString& IconDescription) override;

    qint16 LastIconChangedIndex() const { return m_lastIconChangedIndex; }
    void setLastIconChangedIndex(qint16 vNewValue) { m_lastIconChangedIndex = vNewValue; }

    void ShowAndYield() override;

    // Twips of the screen the window is on.
    double TwipsPerPixel() const;
    int ToPixels(double twips) const;
    double InnerWidthTwips() const;
    double PictureHeightTwips() const;

    QLabel* lblVersion = nullptr;
    QLabel* lblCompany = nullptr;
    QLabel* lblCopyright = nullptr;
    QLabel* lblPlatform = nullptr;
    QLabel* lblPlatformSP = nullptr;
    QLabel* lblStatus = nullptr;
    // Element 0 of both arrays is the design template and is never shown.
    QList<QLabel*> imgIcon;
    QList<QLabel*> lblIconDescription;
    QHash<QString, QPixmap> imgIconList;

    // Design sizes, in twips.
    static constexpr double DesignWidth = 6120;
    static constexpr double IconSize = 480;
    static constexpr double CaptionHeight = 255;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* MakeLabel(double left, double top, double width, double height, int pointSize,
                      Qt::Alignment alignment, const QString& colour);
    void LoadIconElement(int index);

    QImage m_picture;
    bool m_floating = false;
    qint16 m_numberIcons = 0;
    qint16 m_lastIconChangedIndex = 0;
    double m_dpi = 96;
};
