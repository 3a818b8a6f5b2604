// libFuzzer target for transport files: the archive checks and unpacking, the fields file, and
// the store's import of both into a cart.
#include "fuzz/FuzzSupport.h"
#include "platform/cartstore/Cart.h"
#include "platform/cartstore/CartStore.h"
#include "platform/cartstore/TransportFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <memory>

namespace {

// Leaves the store as it was: no cart, no stray unpacked file.
void CheckFolderClean(const QString& folder)
{
    const QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : left) {
        if (name.startsWith(".transport-")) {
            FuzzSupport::Fail("an unpacked file was left behind:", name);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString root = FuzzSupport::Start();
    static std::unique_ptr<CartStore> store = std::make_unique<CartStore>(root + "/store");
    const QByteArray bytes = FuzzSupport::Bytes(data, size);

    // The fields file alone: what it reads must write and read back the same.
    const TransportFile::Fields fields = TransportFile::ParseFields(bytes);
    for (const auto& [name, value] : fields) {
        if (name.isEmpty() || name.contains(u'=')) {
            FuzzSupport::Fail("a field without a usable name:", name);
        }
    }
    const TransportFile::Fields again =
        TransportFile::ParseFields(TransportFile::FormatFields(fields));
    // A name that starts with a byte-order mark loses it when it starts a line (the UTF-8
    // decoder drops a leading mark): no name the store knows.
    const bool marked = std::any_of(fields.begin(), fields.end(), [](const auto& field) {
        return field.first.startsWith(QChar(0xFEFF));
    });
    if (!marked && again != fields) {
        QString detail;
        for (qsizetype i = 0; i < std::max(fields.size(), again.size()); ++i) {
            const auto before = fields.value(i);
            const auto after = again.value(i);
            if (before != after) {
                detail = QString("'%1=%2' came back as '%3=%4'")
                             .arg(before.first, before.second, after.first, after.second);
                break;
            }
        }
        FuzzSupport::Fail("fields changed on the way through a transport file:", detail);
    }

    const QString zip = FuzzSupport::WriteFile("input.zip", bytes);
    const QString unpackFolder = root + "/unpack";
    QDir().mkpath(unpackFolder);
    QString audio;
    TransportFile::Fields read;
    if (TransportFile::Read(zip, unpackFolder, audio, read, {})) {
        if (!QFileInfo(audio).isFile() || !audio.startsWith(unpackFolder + "/")) {
            FuzzSupport::Fail("unpacked audio is not where it belongs:", audio);
        }
        QFile::remove(audio);
    } else if (!audio.isEmpty()) {
        FuzzSupport::Fail("a failed read named an audio file:", audio);
    }
    CheckFolderClean(unpackFolder);

    QString text;
    bool flag = false;
    if (store->ImportTransportFile(nullptr, "7", zip, 0, nullptr, 0, text, 0, flag)) {
        const std::optional<Cart> cart = store->GetCart("7", 3, true);
        if (!cart || !(cart->Length >= 0) || !std::isfinite(cart->Length)) {
            FuzzSupport::Fail("an imported transport file left a cart without a length");
        }
        // The fields file may move the markers, never outside the audio.
        for (const float marker : {cart->StartPoint, cart->OutPoint}) {
            if (!(marker >= 0 && marker <= cart->Length)) {
                FuzzSupport::Fail("a marker outside the audio:", QString::number(marker));
            }
        }
        for (const float marker : {cart->IntroStart, cart->IntroEnd, cart->Extro}) {
            if (std::isnan(marker) || marker > cart->Length) {
                FuzzSupport::Fail("a marker outside the audio:", QString::number(marker));
            }
        }
        store->RemoveCart("7", false, false);
    }
    CheckFolderClean(store->AudioFolder());
    return 0;
}
