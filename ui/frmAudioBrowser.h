#pragma once

#include <QString>
#include <QWidget>

class uAudioBrowser;
class uHWndGrab;

// The cart browser window: a thin frame around the browser control, shown modeless by the main
// window. Closing it with the close box only hides it; closing it from code (close()) unloads
// it, releasing the cart store, and showing it again loads it afresh. A caller may use it as a
// cart picker through description, HDReference and Cancelled.
class frmAudioBrowser : public QWidget
{
    Q_OBJECT

public:
    explicit frmAudioBrowser(QWidget* owner = nullptr);
    ~frmAudioBrowser() override;

    // True after a close-box close; False after activation, a chosen cart and unloading.
    bool Cancelled = false;

    QString description() const { return m_description; }
    void setDescription(const QString& strNewValue);
    QString HDReference() const;
    void setHDReference(const QString& strNewValue);

    uAudioBrowser* ctlBrowser;
    uHWndGrab* HWndGrab1;

public slots:
    void Form_Activate();
    void ctlBrowser_ModeChanged(qint32 mode);
    void ctlBrowser_CartSelected(const QString& cart);
    void ctlBrowser_TextNotify(const QString& text);

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void Form_Resize();
    void Form_Unload();

    QString m_description;
    bool m_loaded = false;
};
