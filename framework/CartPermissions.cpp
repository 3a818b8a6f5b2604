#include "framework/CartPermissions.h"

#include "framework/NumberText.h"
#include "framework/ToolGlobals.h"
#include "platform/directory/CartRights.h"
#include "platform/directory/DirectoryInterface.h"
#include "platform/directory/DirectoryUser.h"
#include "platform/system/MessageBox.h"

#include <limits>

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
    const bool mayEdit =
        rights &&
        rights->MayEdit(RoundHalfEven(LeadingNumber(cartNumber), std::numeric_limits<qint32>::min(),
                                      std::numeric_limits<qint32>::max()));
    if (!mayEdit && showMessage) {
        MessageBox::Show("You are not allowed to edit cart " + cartNumber,
                         MsgBoxStyle::OKOnly | MsgBoxStyle::Exclamation);
    }
    return mayEdit;
}
