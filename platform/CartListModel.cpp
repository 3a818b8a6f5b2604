#include "platform/CartListModel.h"

#include "platform/CartRights.h"

#include <cmath>
#include <limits>

CartListModel::CartListModel(QObject* parent) : QAbstractTableModel(parent) {}

CartListModel::~CartListModel() = default;

int CartListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_carts.size());
}

int CartListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CartListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_carts.size())
        return {};
    const CartSummary& cart = m_carts.at(index.row());
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case CartColumn:
            return cart.HDReference;
        case TitleColumn:
            return cart.Title;
        case ArtistColumn:
            return cart.Artist;
        case LengthColumn:
            return FormatLength(cart.Length);
        }
    } else if (role == Qt::TextAlignmentRole) {
        if (index.column() == CartColumn || index.column() == LengthColumn)
            return int(Qt::AlignRight | Qt::AlignVCenter);
    } else if (role == Qt::ToolTipRole && index.column() != LengthColumn) {
        return data(index, Qt::DisplayRole);
    }
    return {};
}

QVariant CartListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole) {
        switch (section) {
        case CartColumn:
            return tr("Cart");
        case TitleColumn:
            return tr("Title");
        case ArtistColumn:
            return tr("Artist");
        case LengthColumn:
            return tr("Length");
        }
    } else if (role == Qt::TextAlignmentRole &&
               (section == CartColumn || section == LengthColumn)) {
        return int(Qt::AlignRight | Qt::AlignVCenter);
    }
    return {};
}

Qt::ItemFlags CartListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return MayChoose(index.row()) ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void CartListModel::Append(const QList<CartSummary>& carts)
{
    if (carts.isEmpty())
        return;
    const int first = int(m_carts.size());
    beginInsertRows({}, first, first + int(carts.size()) - 1);
    m_carts.append(carts);
    endInsertRows();
}

void CartListModel::Replace(QList<CartSummary> carts)
{
    bool sameCarts = carts.size() == m_carts.size() && !carts.isEmpty();
    for (qsizetype i = 0; sameCarts && i < carts.size(); ++i)
        sameCarts = carts.at(i).HDReference == m_carts.at(i).HDReference;
    if (!sameCarts) {
        beginResetModel();
        m_carts = std::move(carts);
        endResetModel();
        return;
    }
    // Views keep their current row and scroll position through a change of texts alone.
    int firstChanged = -1;
    int lastChanged = -1;
    for (qsizetype i = 0; i < carts.size(); ++i) {
        const CartSummary& a = carts.at(i);
        const CartSummary& b = m_carts.at(i);
        if (a.Title != b.Title || a.Artist != b.Artist || a.Length != b.Length) {
            if (firstChanged < 0)
                firstChanged = int(i);
            lastChanged = int(i);
        }
    }
    m_carts = std::move(carts);
    if (firstChanged >= 0)
        emit dataChanged(index(firstChanged, 0), index(lastChanged, ColumnCount - 1));
}

void CartListModel::Clear()
{
    if (m_carts.isEmpty())
        return;
    beginResetModel();
    m_carts.clear();
    endResetModel();
}

int CartListModel::RowOf(const QString& hdReference) const
{
    const QString text = hdReference.trimmed();
    bool numeric = false;
    const qint64 number = text.toLongLong(&numeric);
    for (qsizetype i = 0; i < m_carts.size(); ++i) {
        const CartSummary& cart = m_carts.at(i);
        if (numeric ? cart.Number == number && cart.Number != 0 : cart.HDReference == text)
            return int(i);
    }
    return -1;
}

void CartListModel::SetRights(std::shared_ptr<CartRights> rights)
{
    m_rights = std::move(rights);
    if (!m_carts.isEmpty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

bool CartListModel::MayChoose(int row) const
{
    if (!m_rights)
        return true;
    if (row < 0 || row >= m_carts.size())
        return false;
    const qint64 number = m_carts.at(row).Number;
    if (number <= 0 || number > std::numeric_limits<qint32>::max())
        return false;
    return m_rights->MayEdit(qint32(number));
}

bool CartListModel::Matches(const CartSummary& cart, const QStringList& words)
{
    for (const QString& word : words) {
        if (!cart.HDReference.contains(word, Qt::CaseInsensitive) &&
            !cart.Title.contains(word, Qt::CaseInsensitive) &&
            !cart.Artist.contains(word, Qt::CaseInsensitive))
            return false;
    }
    return true;
}

QString CartListModel::FormatLength(float seconds)
{
    if (!(seconds > 0))
        return QStringLiteral("0:00.0");
    const qint64 tenths = std::llround(double(seconds) * 10.0);
    const qint64 hours = tenths / 36000;
    const qint64 minutes = tenths / 600 % 60;
    const qint64 wholeSeconds = tenths / 10 % 60;
    const qint64 tenth = tenths % 10;
    if (hours > 0)
        return QString("%1:%2:%3.%4")
            .arg(hours)
            .arg(minutes, 2, 10, QChar('0'))
            .arg(wholeSeconds, 2, 10, QChar('0'))
            .arg(tenth);
    return QString("%1:%2.%3").arg(minutes).arg(wholeSeconds, 2, 10, QChar('0')).arg(tenth);
}
