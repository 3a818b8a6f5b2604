#pragma once

#include "platform/directory/CartRights.h"

#include <QList>

// An inclusive range of cart numbers.
struct CartRange
{
    qint32 First = 0;
    qint32 Last = 0;
    bool operator==(const CartRange&) const = default;
};

// A user's rights as the user directory records them: the ranges of carts the user may edit;
// a user with no ranges recorded may edit every cart.
class UserCartRights : public CartRights
{
public:
    explicit UserCartRights(QList<CartRange> ranges) : m_ranges(std::move(ranges)) {}

    bool MayEdit(qint32 cartNumber) const override;
    const QList<CartRange>& Ranges() const { return m_ranges; }

private:
    QList<CartRange> m_ranges;
};
