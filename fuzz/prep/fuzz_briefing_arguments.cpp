// The tool's arguments are whatever the model wrote; parsing them never fails.
#include "prep/BriefingResponse.h"

#include <QJsonDocument>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    const BriefingResponse response = BriefingTool::parseInput(document.object());
    // Cleaning only ever removes characters.
    for (const QString &line : response.summary + response.talkingPoints)
        if (BriefingTool::cleanCitations(line).size() > line.size())
            __builtin_trap();
    (void)BriefingTool::cleanCitations(QString::fromUtf8(bytes));
    return 0;
}
