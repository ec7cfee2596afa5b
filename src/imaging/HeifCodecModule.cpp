// The program's HeifCodec: the HEIC module, loaded the first time a HEIF file or a HEIC write comes along.

#include "imaging/HeifCodec.h"
#include "imaging/HeifModule.h"
#include "platform/Modules.h"

#include <cstdio>

namespace HeifCodec {

namespace {

QString& loadError() {
    static QString error;
    return error;
}

HeifModule* module() {
    static HeifModule* const loaded = []() -> HeifModule* {
        QString error;
        HeifModule* codec = Modules::load<HeifModule>(QStringLiteral(PICTOLARIUM_HEIF_MODULE_FILE),
                                                      PICTOLARIUM_HEIF_MODULE_ENTRY, &error);
        if (!codec) {
            std::fprintf(stderr, "pictolarium: HEIC pictures can be neither read nor written: %s\n", qPrintable(error));
            loadError() = error;
        }
        return codec;
    }();
    return loaded;
}

// Every HEIF file opens with its file-type box; no other file is worth loading the codec for.
bool fileTypeBox(const QByteArray& bytes) {
    return bytes.size() >= 12 && bytes.mid(4, 4) == "ftyp";
}

} // namespace

bool recognizes(const QByteArray& bytes) {
    return fileTypeBox(bytes) && module() && module()->recognizes(bytes);
}

QImage decode(const QByteArray& bytes, bool deep) {
    return fileTypeBox(bytes) && module() ? module()->decode(bytes, deep) : QImage();
}

bool isDeep(const QByteArray& bytes) {
    return fileTypeBox(bytes) && module() && module()->isDeep(bytes);
}

QByteArray iccProfile(const QByteArray& bytes) {
    return fileTypeBox(bytes) && module() ? module()->iccProfile(bytes) : QByteArray();
}

bool isGrey(const QByteArray& bytes) {
    return fileTypeBox(bytes) && module() && module()->isGrey(bytes);
}

QSize size(const QByteArray& bytes) {
    return fileTypeBox(bytes) && module() ? module()->size(bytes) : QSize();
}

int pictures(const QByteArray& bytes) {
    return fileTypeBox(bytes) && module() ? module()->pictures(bytes) : 1;
}

QString colourUnheld(const QByteArray& bytes) {
    return fileTypeBox(bytes) && module() ? module()->colourUnheld(bytes) : QString();
}

QString unavailable() {
    return module() ? QString() : QStringLiteral("HEIC pictures can't be read: ") + loadError();
}

bool canEncode() {
    return module() && module()->canEncode();
}

QByteArray encode(const QImage& image, double quality) {
    return module() ? module()->encode(image, quality) : QByteArray();
}

} // namespace HeifCodec
