#pragma once

#include <memory>

class CartRights;

// One user of the user directory.
class DirectoryUser
{
public:
    virtual ~DirectoryUser() = default;
    // That user's cart rights.
    virtual std::shared_ptr<CartRights> GetCartRights() const = 0;
};
