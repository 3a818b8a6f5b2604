#include "platform/cartbrowser/CartListModel.h"

#include "platform/directory/CartRights.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <limits>

CartListModel::CartListModel(QObject* parent) : QAbstractTableModel(parent) {}

CartListModel::~CartListModel() = default;

int CartListModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid()) {
        return 0;
    }
    return int(m_words.isEmpty() ? m_carts.size() : m_rows.size());
}

int CartListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CartListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const CartSummary& cart = At(index.row());
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
        if (index.column() == CartColumn || index.column() == LengthColumn) {
            return int(Qt::AlignRight | Qt::AlignVCenter);
        }
    } else if (role == Qt::ToolTipRole && index.column() != LengthColumn) {
        return data(index, Qt::DisplayRole);
    }
    return {};
}

QVariant CartListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal) {
        return {};
    }
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
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    return MayChoose(index.row()) ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void CartListModel::Append(const QList<CartSummary>& carts)
{
    if (carts.isEmpty()) {
        return;
    }
    if (m_words.isEmpty()) {
        const int first = int(m_carts.size());
        beginInsertRows({}, first, first + int(carts.size()) - 1);
        m_carts.append(carts);
        endInsertRows();
        return;
    }
    const int firstNew = int(m_carts.size());
    m_carts.append(carts);
    QList<int> matching;
    for (int i = firstNew; i < m_carts.size(); ++i) {
        if (Matches(m_carts.at(i), m_words)) {
            matching.append(i);
        }
    }
    if (matching.isEmpty()) {
        return;
    }
    const int first = int(m_rows.size());
    beginInsertRows({}, first, first + int(matching.size()) - 1);
    m_rows.append(matching);
    endInsertRows();
}

void CartListModel::Replace(QList<CartSummary> carts)
{
    bool sameCarts = carts.size() == m_carts.size() && !carts.isEmpty();
    for (qsizetype i = 0; sameCarts && i < carts.size(); ++i) {
        sameCarts = carts.at(i).HDReference == m_carts.at(i).HDReference;
    }
    if (!sameCarts) {
        beginResetModel();
        m_carts = std::move(carts);
        Refilter();
        endResetModel();
        return;
    }
    // Views keep their current row and scroll position through a change of texts alone.
    bool changed = false;
    bool matchingChanged = false;
    for (qsizetype i = 0; i < carts.size(); ++i) {
        const CartSummary& a = carts.at(i);
        const CartSummary& b = m_carts.at(i);
        if (a.Title != b.Title || a.Artist != b.Artist || a.Length != b.Length) {
            changed = true;
            matchingChanged = matchingChanged || Matches(a, m_words) != Matches(b, m_words);
        }
    }
    if (matchingChanged) {
        beginResetModel();
        m_carts = std::move(carts);
        Refilter();
        endResetModel();
        return;
    }
    m_carts = std::move(carts);
    if (changed && rowCount() > 0) {
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
    }
}

void CartListModel::Clear()
{
    if (m_carts.isEmpty()) {
        return;
    }
    beginResetModel();
    m_carts.clear();
    m_rows.clear();
    endResetModel();
}

int CartListModel::RowOf(const QString& hdReference) const
{
    const QString text = hdReference.trimmed();
    bool numeric = false;
    const qint64 number = text.toLongLong(&numeric);
    for (qsizetype i = 0; i < m_carts.size(); ++i) {
        const CartSummary& cart = m_carts.at(i);
        if (numeric ? cart.Number == number && cart.Number != 0 : cart.HDReference == text) {
            if (m_words.isEmpty()) {
                return int(i);
            }
            const auto row = std::lower_bound(m_rows.cbegin(), m_rows.cend(), int(i));
            return row != m_rows.cend() && *row == i ? int(row - m_rows.cbegin()) : -1;
        }
    }
    return -1;
}

void CartListModel::SetFilter(const QString& text)
{
    static const QRegularExpression blanks("\\s+");
    QStringList words = text.split(blanks, Qt::SkipEmptyParts);
    if (words == m_words) {
        return;
    }
    beginResetModel();
    m_words = std::move(words);
    Refilter();
    endResetModel();
}

void CartListModel::Refilter()
{
    m_rows.clear();
    if (m_words.isEmpty()) {
        return;
    }
    for (int i = 0; i < m_carts.size(); ++i) {
        if (Matches(m_carts.at(i), m_words)) {
            m_rows.append(i);
        }
    }
}

void CartListModel::SetRights(std::shared_ptr<CartRights> rights)
{
    m_rights = std::move(rights);
    if (!m_carts.isEmpty()) {
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
    }
}

bool CartListModel::MayChoose(int row) const
{
    if (!m_rights) {
        return true;
    }
    if (row < 0 || row >= rowCount()) {
        return false;
    }
    const qint64 number = At(row).Number;
    if (number <= 0 || number > std::numeric_limits<qint32>::max()) {
        return false;
    }
    return m_rights->MayEdit(qint32(number));
}

bool CartListModel::Matches(const CartSummary& cart, const QStringList& words)
{
    for (const QString& word : words) {
        if (!cart.HDReference.contains(word, Qt::CaseInsensitive) &&
            !cart.Title.contains(word, Qt::CaseInsensitive) &&
            !cart.Artist.contains(word, Qt::CaseInsensitive)) {
            return false;
        }
    }
    return true;
}

QString CartListModel::FormatLength(float seconds)
{
    if (!(seconds > 0)) {
        return QStringLiteral("0:00.0");
    }
    const qint64 tenths = std::llround(double(seconds) * 10.0);
    const qint64 hours = tenths / 36000;
    const qint64 minutes = tenths / 600 % 60;
    const qint64 wholeSeconds = tenths / 10 % 60;
    const qint64 tenth = tenths % 10;
    if (hours > 0) {
        return QString("%1:%2:%3.%4")
            .arg(hours)
            .arg(minutes, 2, 10, QChar('0'))
            .arg(wholeSeconds, 2, 10, QChar('0'))
            .arg(tenth);
    }
    return QString("%1:%2.%3").arg(minutes).arg(wholeSeconds, 2, 10, QChar('0')).arg(tenth);
}
