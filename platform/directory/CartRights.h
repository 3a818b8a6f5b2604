#pragma once

#include <QtGlobal>

// A user's rights over the carts of the cart store.
class CartRights
{
public:
    virtual ~CartRights() = default;
    // True when the user may change that cart.
    virtual bool MayEdit(qint32 cartNumber) const = 0;
};
