// libFuzzer target for the update notes' viewer: RTF read, shown in a text document (laid out
// offscreen), taken back from it and written again.
#include "fuzz/FuzzSupport.h"
#include "platform/richtext/RtfReader.h"
#include "platform/richtext/RtfWriter.h"
#include "toolwindows/RichTextConversion.h"

#include <QTextDocument>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzSupport::Start(FuzzSupport::App::Gui);
    const std::optional<RtfDocument> read = RtfReader::Read(FuzzSupport::Bytes(data, size));
    if (!read) {
        return 0;
    }
    QTextDocument shown;
    RichTextConversion::Fill(&shown, *read);
    shown.setTextWidth(400);
    shown.size();
    const RtfDocument back = RichTextConversion::FromTextDocument(&shown);

    // What the viewer shows and saves must come through a second time unchanged.
    QTextDocument again;
    RichTextConversion::Fill(&again, back);
    if (!(RichTextConversion::FromTextDocument(&again) == back)) {
        FuzzSupport::Fail("the viewer's document changed on a second pass");
    }
    const std::optional<RtfDocument> saved = RtfReader::Read(RtfWriter::Write(back));
    if (!saved) {
        FuzzSupport::Fail("the viewer's document does not write as readable RTF");
    }
    return 0;
}
