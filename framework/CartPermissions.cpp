#include "framework/CartPermissions.h"

#include "framework/ToolGlobals.h"
#include "platform/CartRights.h"
#include "platform/DirectoryInterface.h"
#include "platform/DirectoryUser.h"
#include "platform/MessageBox.h"

#include <cmath>
#include <limits>

namespace {
// The leading number of the text (blanks, a sign, digits and a fraction), 0 when it has none:
// "1234 Station Jingle" is cart 1234.
double leadingNumber(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && (text.at(i) == u' ' || text.at(i) == u'\t')) {
        ++i;
    }
    const qsizetype start = i;
    if (i < text.size() && (text.at(i) == u'+' || text.at(i) == u'-')) {
        ++i;
    }
    while (i < text.size() && text.at(i).isDigit() && text.at(i).unicode() < 128) {
        ++i;
    }
    if (i < text.size() && text.at(i) == u'.') {
        ++i;
        while (i < text.size() && text.at(i).isDigit() && text.at(i).unicode() < 128) {
            ++i;
        }
    }
    bool ok = false;
    const double value = text.mid(start, i - start).toDouble(&ok);
    return ok ? value : 0.0;
}

// Rounded half to even, as the conversion to a 32-bit integer does; numbers beyond the range
// are held at its ends, where no real cart lies.
qint32 toCartNumber(double value)
{
    const double rounded = std::nearbyint(value);
    if (rounded >= double(std::numeric_limits<qint32>::max())) {
        return std::numeric_limits<qint32>::max();
    }
    if (rounded <= double(std::numeric_limits<qint32>::min())) {
        return std::numeric_limits<qint32>::min();
    }
    return qint32(rounded);
}
} // namespace

bool CanEditCart(const QString& cartNumber, bool showMessage)
{
    if (!Globals::DirectoryInterface) {
        return false;
    }
    return CanEditCartInDirectory(Globals::DirectoryInterface, cartNumber, showMessage);
}

bool CanEditCartInDirectory(DirectoryInterface* directory, const QString& cartNumber,
                            bool showMessage)
{
    if (cartNumber.isEmpty() || !directory) {
        return false;
    }
    return CanUserEditCart(directory->CurrentUser(), cartNumber, showMessage);
}

bool CanUserEditCart(const std::shared_ptr<DirectoryUser>& user, const QString& cartNumber,
                     bool showMessage)
{
    if (cartNumber.isEmpty() || !user) {
        return false;
    }
    const std::shared_ptr<CartRights> rights = user->GetCartRights();
    // A user without a rights object has none.
    const bool mayEdit = rights && rights->MayEdit(toCartNumber(leadingNumber(cartNumber)));
    if (!mayEdit && showMessage) {
        MessageBox::Show("You are not allowed to edit cart " + cartNumber,
                         MsgBoxStyle::OKOnly | MsgBoxStyle::Exclamation);
    }
    return mayEdit;
}
