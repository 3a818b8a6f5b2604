#include "platform/directory/UserCartRights.h"

bool UserCartRights::MayEdit(qint32 cartNumber) const
{
    if (m_ranges.isEmpty()) {
        return true;
    }
    for (const CartRange& range : m_ranges) {
        if (cartNumber >= range.First && cartNumber <= range.Last) {
            return true;
        }
    }
    return false;
}
