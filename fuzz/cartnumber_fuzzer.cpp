// libFuzzer target for cart numbers taken from file names: the title's leading number, the
// store's reading of cart texts and the permission check that reads the same text.
#include "framework/CartPermissions.h"
#include "framework/NumberText.h"
#include "fuzz/FuzzSupport.h"
#include "platform/cartstore/CartStore.h"
#include "platform/directory/DirectoryUser.h"
#include "platform/directory/UserCartRights.h"

#include <cmath>
#include <limits>
#include <memory>

namespace {

class RangeUser : public DirectoryUser
{
public:
    std::shared_ptr<CartRights> GetCartRights() const override
    {
        return std::make_shared<UserCartRights>(QList<CartRange>{{1000, 1999}, {5, 5}});
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString root = FuzzSupport::Start();
    static std::unique_ptr<CartStore> store = std::make_unique<CartStore>(root + "/store");
    static const auto user = std::make_shared<RangeUser>();
    const QString title = QString::fromUtf8(FuzzSupport::Bytes(data, size));

    const QString cart = CartFromTitle(title);
    for (const QChar c : cart) {
        if (!c.isDigit() && c != u'.' && c != u'e' && c != u'E' && c != u'+') {
            FuzzSupport::Fail("a cart text that is not a number:", cart);
        }
    }
    for (const QString& text : {cart, title}) {
        const double value = LeadingNumber(text);
        if (!std::isfinite(value)) {
            FuzzSupport::Fail("a leading number that is not finite:", text);
        }
        const qint32 rounded = RoundHalfEven(value, 1, 99999);
        if (rounded < 1 || rounded > 99999) {
            FuzzSupport::Fail("a rounded number outside its range");
        }
        LastDigit(value);

        const bool may = CanUserEditCart(user, text, false);
        const qint32 number = RoundHalfEven(value, std::numeric_limits<qint32>::min(),
                                            std::numeric_limits<qint32>::max());
        if (!text.isEmpty() && may != ((number >= 1000 && number <= 1999) || number == 5)) {
            FuzzSupport::Fail("the permission check disagrees with the number:", text);
        }

        const std::optional<qint32> inStore = store->CartNumber(text);
        if (inStore && (*inStore < 1 || *inStore > store->HighestCart())) {
            FuzzSupport::Fail("the store took a cart outside its range:", text);
        }
        if (inStore.has_value() != store->IsValidCart(text)) {
            FuzzSupport::Fail("the store's two readings of a cart disagree:", text);
        }
        store->IsCartInRange(text, "1", "99999");
        const float position = store->GetRangePosition(text, "1", "99999");
        if (std::isnan(position)) {
            FuzzSupport::Fail("a range position that is not a number:", text);
        }
        store->GetFirstCart(text);
        store->GetNextCart(text);
        store->GetCartAudioPath(text, 0, false);
    }
    return 0;
}
