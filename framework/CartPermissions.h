#pragma once

#include <QString>
#include <memory>

class DirectoryInterface;
class DirectoryUser;

// Whether the user logged into the user directory may edit a cart. With showMessage, a refusal
// is reported in an exclamation box.

// Over the process-wide directory; every cart is refused when there is none.
bool CanEditCart(const QString& cartNumber, bool showMessage);
// Over the directory's current user; every cart is refused when there is none.
bool CanEditCartInDirectory(DirectoryInterface* directory, const QString& cartNumber,
                            bool showMessage);
bool CanUserEditCart(const std::shared_ptr<DirectoryUser>& user, const QString& cartNumber,
                     bool showMessage);
