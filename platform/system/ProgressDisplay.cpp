#include "platform/system/ProgressDisplay.h"

namespace {
ProgressDisplay::Factory& factorySlot()
{
    static ProgressDisplay::Factory factory;
    return factory;
}
} // namespace

void ProgressDisplay::SetFactory(Factory factory)
{
    factorySlot() = std::move(factory);
}

std::unique_ptr<ProgressDisplay> ProgressDisplay::Create(const QString& caption, QObject* owner)
{
    const Factory& factory = factorySlot();
    if (!owner || !factory) {
        return nullptr;
    }
    return factory(caption, owner);
}
