#include "platform/cartstore/DecodedAudio.h"

namespace {

int& ScopeDepth()
{
    thread_local int depth = 0;
    return depth;
}

std::optional<DecodedAudio>& Kept()
{
    thread_local std::optional<DecodedAudio> kept;
    return kept;
}

} // namespace

DecodedAudio::KeepScope::KeepScope()
{
    ++ScopeDepth();
}

DecodedAudio::KeepScope::~KeepScope()
{
    if (--ScopeDepth() == 0) {
        Kept().reset();
    }
}

bool DecodedAudio::Keeping()
{
    return ScopeDepth() > 0;
}

void DecodedAudio::Keep(DecodedAudio audio)
{
    if (Keeping()) {
        Kept() = std::move(audio);
    }
}

std::optional<DecodedAudio> DecodedAudio::Take(const QString& path)
{
    std::optional<DecodedAudio> kept;
    kept.swap(Kept());
    if (!kept || kept->path != path || FileVersionKey::Of(path) != kept->version) {
        return std::nullopt;
    }
    return kept;
}
