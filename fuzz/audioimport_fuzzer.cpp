// libFuzzer target for audio from outside: the length measurements the import decision makes and
// the decode-and-import into a store in a temporary folder. The first byte picks the file's
// extension (the decoder goes by content, the decision by extension).
#include "framework/AudioFileHelpers.h"
#include "fuzz/FuzzSupport.h"
#include "platform/cartstore/Cart.h"
#include "platform/cartstore/CartStore.h"
#include "platform/system/ToolError.h"

#include <QFile>
#include <cmath>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString root = FuzzSupport::Start();
    static std::unique_ptr<CartStore> store = std::make_unique<CartStore>(root + "/store");
    if (size < 1) {
        return 0;
    }
    static const char* const extensions[] = {"wav", "mp3", "ogg", "flac",
                                             "m4a", "wma", "aif", "mp2"};
    const QString name = QString("input.") + extensions[data[0] % 8];
    const QString path = FuzzSupport::WriteFile(name, FuzzSupport::Bytes(data + 1, size - 1));

    if (name.endsWith(".wav")) {
        WAVEFORMATEX format;
        qint32 dataSize = 0;
        ReadWaveInfo(path, format, dataSize);
        if (!std::isfinite(GetWaveDuration(path))) {
            FuzzSupport::Fail("a WAV length that is not a number");
        }
    }
    const double length = GetAudioFileDuration(path);
    if (!std::isfinite(length)) {
        FuzzSupport::Fail("an audio length that is not a number");
    }

    bool flag1 = false;
    bool flag2 = false;
    const qint16 normalise = (data[0] & 8) ? 90 : -1;
    // The store raises its own failures (no room, a write refused), as the engine expects.
    bool imported = false;
    try {
        imported = store->ImportAudioFile(nullptr, "3", path, CartStore::ImportIntoEmpty, normalise,
                                          flag1, 0, 0, flag2);
    } catch (const ToolError&) {
    }
    if (imported) {
        const std::optional<Cart> cart = store->GetCart("3", 3, true);
        if (!cart || !std::isfinite(cart->Length) || cart->Length < 0) {
            FuzzSupport::Fail("an imported cart without a usable length");
        }
        // The stored audio is a WAV the program itself can read back.
        WAVEFORMATEX format;
        qint32 dataSize = 0;
        if (ReadWaveInfo(cart->AudioFilePath, format, dataSize) != 0) {
            FuzzSupport::Fail("the stored audio is not a readable WAV:", cart->AudioFilePath);
        }
        store->RemoveCart("3", false, false);
    }
    QFile::remove(path);
    return 0;
}
