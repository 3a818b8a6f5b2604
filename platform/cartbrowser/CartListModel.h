#pragma once

#include "platform/cartstore/CartListing.h"

#include <QAbstractTableModel>
#include <memory>

class CartRights;

// The carts a browser shows, in the store's order: number, title, artist and length. Rows are
// the carts that pass the filter. A new filter resets the model: a proxy model would report
// each gap between matching rows on its own, too slow with 100,000 carts.
class CartListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        CartColumn,
        TitleColumn,
        ArtistColumn,
        LengthColumn,
        ColumnCount
    };

    explicit CartListModel(QObject* parent = nullptr);
    ~CartListModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    const CartSummary& At(int row) const { return m_carts.at(CartIndex(row)); }
    // All carts listed, filtered or not.
    int TotalCount() const { return int(m_carts.size()); }
    void Append(const QList<CartSummary>& carts);
    // The whole list, as one change when the carts are the same ones as before.
    void Replace(QList<CartSummary> carts);
    void Clear();

    // The row of a cart ("0042" finds cart 42); -1 when it is not listed or filtered out.
    int RowOf(const QString& hdReference) const;

    // Every word (split at blanks) must occur in the cart's number, title or artist.
    void SetFilter(const QString& text);
    bool Filtering() const { return !m_words.isEmpty(); }

    // Carts the rights do not let the user edit are listed disabled; nullptr allows all.
    void SetRights(std::shared_ptr<CartRights> rights);
    bool MayChoose(int row) const;

    // Every word occurs in the cart's number, title or artist, in any case.
    static bool Matches(const CartSummary& cart, const QStringList& words);
    // "3:25.4", "1:02:03.0".
    static QString FormatLength(float seconds);

private:
    int CartIndex(int row) const { return m_words.isEmpty() ? row : m_rows.at(row); }
    void Refilter();

    QList<CartSummary> m_carts;
    QStringList m_words;
    QList<int> m_rows; // indexes of the matching carts while filtering
    std::shared_ptr<CartRights> m_rights;
};
