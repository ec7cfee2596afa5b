// The HEIC module's side: HeifCodec behind the HeifModule calls.

#include "imaging/HeifCodec.h"
#include "imaging/HeifModule.h"

namespace {

class Codec final : public HeifModule {
public:
    bool recognizes(const QByteArray& bytes) override { return HeifCodec::recognizes(bytes); }
    QImage decode(const QByteArray& bytes, bool deep) override { return HeifCodec::decode(bytes, deep); }
    bool isDeep(const QByteArray& bytes) override { return HeifCodec::isDeep(bytes); }
    QByteArray iccProfile(const QByteArray& bytes) override { return HeifCodec::iccProfile(bytes); }
    bool isGrey(const QByteArray& bytes) override { return HeifCodec::isGrey(bytes); }
    QSize size(const QByteArray& bytes) override { return HeifCodec::size(bytes); }
    int pictures(const QByteArray& bytes) override { return HeifCodec::pictures(bytes); }
    QString colourUnheld(const QByteArray& bytes) override { return HeifCodec::colourUnheld(bytes); }
    bool canEncode() override { return HeifCodec::canEncode(); }
    QByteArray encode(const QImage& image, double quality) override { return HeifCodec::encode(image, quality); }
};

} // namespace

extern "C" Q_DECL_EXPORT HeifModule* pictolarium_heif_module(int version) {
    static Codec codec;
    return version == HeifModule::version ? &codec : nullptr;
}
