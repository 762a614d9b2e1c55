// Feeds arbitrary bytes to the icon reader of Windows programs. Seeds: make_samples --seeds.
#include "components/pe_icon.h"

#include <QByteArray>
#include <QCoreApplication>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // The ICO reader is a plugin; an application object gives the usual plugin paths.
    static QCoreApplication app(*argc, *argv);
    // libpng's complaints about broken images would drown the fuzzer's own output.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QImage> image = tarvic::readPeIconFromBytes(bytes);
    if (image && (image->isNull() || image->width() > 256 || image->height() > 256))
        std::abort();
    return 0;
}
