#pragma once

#include <QList>
#include <QString>

// One line of a cart listing: a cart that holds something.
struct CartSummary
{
    qint64 Number = 0;   // the cart's number: the listing's order
    QString HDReference; // the cart number as the store writes it
    QString Title;
    QString Artist;
    float Length = 0.0f; // seconds
};

// A quick listing of the carts that hold something, offered by stores that can answer it
// without visiting every cart. A browser falls back to PlayoutAudio's own walk otherwise.
class CartListing
{
public:
    virtual ~CartListing() = default;
    // Up to maxCount carts with a length above 0 and a number above afterNumber, in number
    // order; fewer than maxCount only at the end. Raises ToolError when the store cannot be read.
    virtual QList<CartSummary> ListCarts(qint64 afterNumber, int maxCount) const = 0;
};
