// libFuzzer target for the RTF reader: any input must read without a crash, a hang or a
// sanitizer report, and what it reads must survive the writer unchanged.
#include "platform/richtext/RtfReader.h"
#include "platform/richtext/RtfWriter.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<RtfDocument> document = RtfReader::Read(input);
    if (!document) {
        return 0;
    }
    const std::optional<RtfDocument> again = RtfReader::Read(RtfWriter::Write(*document));
    if (!again || !(*again == *document)) {
        std::abort();
    }
    return 0;
}
