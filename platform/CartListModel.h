#pragma once

#include "platform/CartListing.h"

#include <QAbstractTableModel>
#include <memory>

class CartRights;

// The carts a browser shows, in the store's order: number, title, artist and length.
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

    const CartSummary& At(int row) const { return m_carts.at(row); }
    void Append(const QList<CartSummary>& carts);
    // The whole list, as one change when the carts are the same ones as before.
    void Replace(QList<CartSummary> carts);
    void Clear();

    // The row of a cart ("0042" finds cart 42); -1 when it is not listed.
    int RowOf(const QString& hdReference) const;

    // Carts the rights do not let the user edit are listed disabled; nullptr allows all.
    void SetRights(std::shared_ptr<CartRights> rights);
    bool MayChoose(int row) const;

    // Every word of the filter occurs in the cart's number, title or artist, in any case.
    static bool Matches(const CartSummary& cart, const QStringList& words);
    // "3:25.4", "1:02:03.0".
    static QString FormatLength(float seconds);

private:
    QList<CartSummary> m_carts;
    std::shared_ptr<CartRights> m_rights;
};
