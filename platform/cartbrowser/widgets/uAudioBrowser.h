#pragma once

#include "platform/cartstore/CartListing.h"

#include <QList>
#include <QString>
#include <QWidget>
#include <memory>

class CartListLoader;
class CartListModel;
class DirectoryUser;
class PlayoutAudio;
class QComboBox;
class QLabel;
class QLineEdit;
class QModelIndex;
class QToolButton;
class QTreeView;

// Our cart browser: the carts of a store that hold something (number, title, artist, length)
// with a filter box. The list loads in batches, one per turn of the event loop, so a large store
// never freezes the window; Busy is true meanwhile. The first load shows carts as they come;
// a reload keeps the old list on screen and swaps it when the new one is complete.
class uAudioBrowser : public QWidget
{
    Q_OBJECT

public:
    enum Mode : qint32
    {
        FullMode = 1,    // every column and the status line
        MiniMode = 2,    // number, title, length and the status line
        CompactMode = 3, // number and title only
    };

    explicit uAudioBrowser(QWidget* parent = nullptr);
    ~uAudioBrowser() override;

    // The current cart: the row the operator moved to, or the text last written here, which
    // selects that cart once it is listed.
    QString HDReference() const { return m_hdReference; }
    void setHDReference(const QString& hdReference);

    // 1, 2 or 3; other values are ignored. Every accepted write raises ModeChanged.
    qint32 BrowserMode() const { return m_mode; }
    void setBrowserMode(qint32 mode);

    // Held, not owned. A new engine empties the list until the next ActivateBrowser.
    PlayoutAudio* AudioEngine() const { return m_engine; }
    void setAudioEngine(PlayoutAudio* engine);

    std::shared_ptr<DirectoryUser> CurrentUser() const { return m_user; }
    void setCurrentUser(std::shared_ptr<DirectoryUser> user);

    // A double click or Enter on a cart raises CartSelected.
    bool AllowSelection() const { return m_allowSelection; }
    void setAllowSelection(bool allow) { m_allowSelection = allow; }
    // Carts the current user may not edit are greyed and cannot be chosen.
    bool ApplyUserRights() const { return m_applyUserRights; }
    void setApplyUserRights(bool apply);

    bool Busy() const;
    // Lists the store's carts again; nothing happens while a listing is running already.
    void ActivateBrowser();
    // Ends a running listing; the list keeps what it showed.
    void StopBrowsing();

    // Our own, for the window's tests.
    void setBatchSize(int size);
    CartListModel* Carts() const { return m_carts; }
    QTreeView* CartList() const { return m_list; }
    QLineEdit* FilterBox() const { return m_filter; }
    QLabel* StatusLine() const { return m_status; }
    // The carts the list shows with the filter applied.
    int VisibleCount() const;

signals:
    void ModeChanged(qint32 mode);
    void CartSelected(const QString& hdReference);
    void TextNotify(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BatchLoaded(const QList<CartSummary>& carts);
    void LoadFinished();
    void LoadFailed(const QString& reason);
    void FilterChanged(const QString& text);
    void CurrentChanged(const QModelIndex& current);
    void Choose(const QModelIndex& index);
    bool SelectCart(const QString& hdReference);
    void RefreshRights();
    void ApplyMode();
    void UpdateState();

    CartListLoader* m_loader;
    CartListModel* m_carts;
    QLineEdit* m_filter;
    QComboBox* m_modeBox;
    QToolButton* m_refresh;
    QTreeView* m_list;
    QLabel* m_status;

    PlayoutAudio* m_engine = nullptr;
    std::shared_ptr<DirectoryUser> m_user;
    QString m_hdReference;
    qint32 m_mode = MiniMode;
    bool m_allowSelection = false;
    bool m_applyUserRights = false;
    // A reload collects here and replaces the list when complete.
    bool m_replacing = false;
    QList<CartSummary> m_pending;
    QString m_error;
    bool m_selecting = false;
};
