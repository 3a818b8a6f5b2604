#include "platform/cartbrowser/widgets/uAudioBrowser.h"

#include "platform/cartbrowser/CartListLoader.h"
#include "platform/cartbrowser/CartListModel.h"
#include "platform/directory/CartRights.h"
#include "platform/directory/DirectoryUser.h"
#include "platform/system/ToolError.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <utility>

namespace {

// Right-aligned cart numbers keep a gap before the title beside them.
class CartNumberDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        QStyleOptionViewItem item(option);
        initStyleOption(&item, index);
        const QString text = std::exchange(item.text, QString());
        const QWidget* widget = item.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);
        const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget)
                               .adjusted(0, 0, -item.fontMetrics.averageCharWidth(), 0);
        const QPalette::ColorGroup group =
            !(item.state & QStyle::State_Enabled) ? QPalette::Disabled
            : (item.state & QStyle::State_Active) ? QPalette::Active
                                                  : QPalette::Inactive;
        painter->save();
        painter->setFont(item.font);
        painter->setPen(item.palette.color(group, (item.state & QStyle::State_Selected)
                                                      ? QPalette::HighlightedText
                                                      : QPalette::Text));
        painter->drawText(area, int(item.displayAlignment),
                          item.fontMetrics.elidedText(text, Qt::ElideLeft, area.width()));
        painter->restore();
    }
};

// Rights that could not be read allow nothing.
class NoRights : public CartRights
{
public:
    bool MayEdit(qint32) const override { return false; }
};

} // namespace

uAudioBrowser::uAudioBrowser(QWidget* parent)
    : QWidget(parent), m_loader(new CartListLoader(this)), m_carts(new CartListModel(this)),
      m_filter(new QLineEdit(this)), m_modeBox(new QComboBox(this)),
      m_refresh(new QToolButton(this)), m_list(new QTreeView(this)), m_status(new QLabel(this))
{
    m_filter->setPlaceholderText(tr("Filter by number, title or artist"));
    m_filter->setClearButtonEnabled(true);
    m_modeBox->addItem(tr("Full"), FullMode);
    m_modeBox->addItem(tr("Mini"), MiniMode);
    m_modeBox->addItem(tr("Compact"), CompactMode);
    m_modeBox->setToolTip(tr("Display mode"));
    m_refresh->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    m_refresh->setToolTip(tr("List the carts again"));

    m_list->setModel(m_carts);
    m_list->setRootIsDecorated(false);
    m_list->setItemsExpandable(false);
    m_list->setUniformRowHeights(true); // needed for a fast layout of 100,000 rows
    m_list->setAlternatingRowColors(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setAllColumnsShowFocus(true);
    m_list->installEventFilter(this);
    m_list->setItemDelegateForColumn(CartListModel::CartColumn, new CartNumberDelegate(m_list));
    // Sized from the font, never from the contents, which would measure every row.
    QHeaderView* header = m_list->header();
    header->setStretchLastSection(false);
    const QFontMetrics metrics = m_list->fontMetrics();
    const int padding = 3 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    header->setSectionResizeMode(CartListModel::CartColumn, QHeaderView::Interactive);
    header->resizeSection(CartListModel::CartColumn, metrics.horizontalAdvance("99999999") +
                                                         padding + metrics.averageCharWidth());
    header->setSectionResizeMode(CartListModel::TitleColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(CartListModel::ArtistColumn, QHeaderView::Interactive);
    header->resizeSection(CartListModel::ArtistColumn, metrics.averageCharWidth() * 22);
    header->setSectionResizeMode(CartListModel::LengthColumn, QHeaderView::Fixed);
    header->resizeSection(CartListModel::LengthColumn,
                          metrics.horizontalAdvance("0:00:00.0") + padding);

    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->addWidget(m_filter, 1);
    top->addWidget(m_modeBox);
    top->addWidget(m_refresh);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    layout->addLayout(top);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_status);

    connect(m_loader, &CartListLoader::BatchLoaded, this, &uAudioBrowser::BatchLoaded);
    connect(m_loader, &CartListLoader::Finished, this, &uAudioBrowser::LoadFinished);
    connect(m_loader, &CartListLoader::Failed, this, &uAudioBrowser::LoadFailed);
    connect(m_filter, &QLineEdit::textChanged, this, &uAudioBrowser::FilterChanged);
    connect(m_modeBox, &QComboBox::activated, this,
            [this](int item) { setBrowserMode(m_modeBox->itemData(item).toInt()); });
    connect(m_refresh, &QToolButton::clicked, this, &uAudioBrowser::ActivateBrowser);
    connect(m_list->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &uAudioBrowser::CurrentChanged);
    connect(m_list, &QAbstractItemView::doubleClicked, this, &uAudioBrowser::Choose);

    ApplyMode();
    UpdateState();
}

uAudioBrowser::~uAudioBrowser()
{
    m_loader->Stop();
}

void uAudioBrowser::setHDReference(const QString& hdReference)
{
    m_hdReference = hdReference;
    if (!SelectCart(hdReference)) {
        m_selecting = true;
        m_list->selectionModel()->clear();
        m_selecting = false;
    }
}

void uAudioBrowser::setBrowserMode(qint32 mode)
{
    if (mode < FullMode || mode > CompactMode) {
        return;
    }
    m_mode = mode;
    ApplyMode();
    emit ModeChanged(mode);
}

void uAudioBrowser::setAudioEngine(PlayoutAudio* engine)
{
    if (engine == m_engine) {
        return;
    }
    StopBrowsing();
    m_engine = engine;
    m_error.clear();
    m_carts->Clear();
    UpdateState();
}

void uAudioBrowser::setCurrentUser(std::shared_ptr<DirectoryUser> user)
{
    m_user = std::move(user);
    RefreshRights();
}

void uAudioBrowser::setApplyUserRights(bool apply)
{
    m_applyUserRights = apply;
    RefreshRights();
}

bool uAudioBrowser::Busy() const
{
    return m_loader->IsRunning();
}

void uAudioBrowser::ActivateBrowser()
{
    if (m_loader->IsRunning()) {
        return;
    }
    m_error.clear();
    RefreshRights();
    if (!m_engine) {
        m_carts->Clear();
        UpdateState();
        return;
    }
    m_replacing = m_carts->TotalCount() > 0;
    m_pending.clear();
    m_loader->Start(m_engine);
    UpdateState();
}

void uAudioBrowser::StopBrowsing()
{
    m_loader->Stop();
    m_replacing = false;
    m_pending.clear();
    UpdateState();
}

void uAudioBrowser::setBatchSize(int size)
{
    m_loader->setBatchSize(size);
}

int uAudioBrowser::VisibleCount() const
{
    return m_carts->rowCount();
}

void uAudioBrowser::BatchLoaded(const QList<CartSummary>& carts)
{
    if (m_replacing) {
        m_pending.append(carts);
    } else {
        m_carts->Append(carts);
        if (!m_list->currentIndex().isValid() && !m_hdReference.isEmpty()) {
            SelectCart(m_hdReference);
        }
    }
    UpdateState();
}

void uAudioBrowser::LoadFinished()
{
    if (m_replacing) {
        const int scroll = m_list->verticalScrollBar()->value();
        m_replacing = false;
        m_carts->Replace(std::exchange(m_pending, {}));
        // After a reset the view lost its place: back to the current cart, or where it was.
        if (!m_list->currentIndex().isValid() && !SelectCart(m_hdReference)) {
            m_list->verticalScrollBar()->setValue(scroll);
        }
    }
    UpdateState();
}

void uAudioBrowser::LoadFailed(const QString& reason)
{
    m_replacing = false;
    m_pending.clear();
    m_error = tr("The carts cannot be listed: %1").arg(reason);
    UpdateState();
    emit TextNotify(m_error);
}

void uAudioBrowser::FilterChanged(const QString& text)
{
    m_carts->SetFilter(text);
    if (!m_list->currentIndex().isValid() && !SelectCart(m_hdReference) &&
        m_carts->rowCount() > 0 && m_carts->Filtering()) {
        // Something to choose with Enter once the operator moves to the list.
        m_list->setCurrentIndex(m_carts->index(0, 0));
    }
    UpdateState();
}

void uAudioBrowser::CurrentChanged(const QModelIndex& current)
{
    if (m_selecting || !current.isValid()) {
        return;
    }
    m_hdReference = m_carts->At(current.row()).HDReference;
}

void uAudioBrowser::Choose(const QModelIndex& index)
{
    if (!m_allowSelection || !index.isValid()) {
        return;
    }
    const int row = index.row();
    if (!m_carts->MayChoose(row)) {
        return;
    }
    m_hdReference = m_carts->At(row).HDReference;
    emit CartSelected(m_hdReference);
}

bool uAudioBrowser::SelectCart(const QString& hdReference)
{
    if (hdReference.trimmed().isEmpty()) {
        return false;
    }
    const int row = m_carts->RowOf(hdReference);
    if (row < 0) {
        return false;
    }
    const QModelIndex index = m_carts->index(row, 0);
    m_selecting = true;
    m_list->setCurrentIndex(index);
    m_selecting = false;
    if (m_list->currentIndex() != index) {
        return false;
    }
    m_list->scrollTo(index);
    return true;
}

void uAudioBrowser::RefreshRights()
{
    std::shared_ptr<CartRights> rights;
    if (m_applyUserRights && m_user) {
        try {
            rights = m_user->GetCartRights();
        } catch (const ToolError&) {
            rights.reset();
        }
        if (!rights) {
            rights = std::make_shared<NoRights>();
        }
    }
    m_carts->SetRights(std::move(rights));
}

void uAudioBrowser::ApplyMode()
{
    m_modeBox->setCurrentIndex(m_modeBox->findData(m_mode));
    m_list->setColumnHidden(CartListModel::ArtistColumn, m_mode != FullMode);
    m_list->setColumnHidden(CartListModel::LengthColumn, m_mode == CompactMode);
    m_list->setHeaderHidden(m_mode == CompactMode);
    m_status->setVisible(m_mode != CompactMode);
}

void uAudioBrowser::UpdateState()
{
    const QLocale locale;
    QString text;
    if (!m_error.isEmpty()) {
        text = m_error;
    } else if (!m_engine) {
        text = tr("No cart store");
    } else if (Busy()) {
        text = tr("Loading carts... %1")
                   .arg(locale.toString(m_replacing ? qsizetype(m_pending.size())
                                                    : qsizetype(m_carts->TotalCount())));
    } else if (m_carts->Filtering()) {
        text =
            tr("%1 of %2 carts")
                .arg(locale.toString(m_carts->rowCount()), locale.toString(m_carts->TotalCount()));
    } else {
        text = m_carts->TotalCount() == 1
                   ? tr("1 cart")
                   : tr("%1 carts").arg(locale.toString(m_carts->TotalCount()));
    }
    m_status->setText(text);
    m_refresh->setEnabled(m_engine && !Busy());
    if (Busy()) {
        setCursor(Qt::BusyCursor);
    } else {
        unsetCursor();
    }
}

bool uAudioBrowser::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            Choose(m_list->currentIndex());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
