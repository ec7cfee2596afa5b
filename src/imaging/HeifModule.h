#pragma once
// What the HEIC module (pictolarium-heif.so, HeifCodec on libheif and its codecs) offers the program. The
// program's HeifCodec functions load it on first use and call through this; without it, HEIC files are not
// recognised and cannot be written.

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

class HeifModule {
public:
    // Raised whenever the calls below change, so that a module of another build is refused, not called.
    static constexpr int version = 4;

    virtual ~HeifModule() = default;
    virtual bool recognizes(const QByteArray& bytes) = 0;
    virtual QImage decode(const QByteArray& bytes, bool deep) = 0;
    virtual bool isDeep(const QByteArray& bytes) = 0;
    virtual QByteArray iccProfile(const QByteArray& bytes) = 0;
    virtual bool isGrey(const QByteArray& bytes) = 0;
    virtual QSize size(const QByteArray& bytes) = 0;
    virtual int pictures(const QByteArray& bytes) = 0;
    virtual QString colourUnheld(const QByteArray& bytes) = 0;
    virtual bool canEncode() = 0;
    virtual QByteArray encode(const QImage& image, double quality) = 0;
};

// The module's entry point: its one HeifModule, or null when `version` is not the module's own.
extern "C" {
using HeifModuleEntry = HeifModule* (*)(int version);
}
#define PICTOLARIUM_HEIF_MODULE_FILE "pictolarium-heif.so"
#define PICTOLARIUM_HEIF_MODULE_ENTRY "pictolarium_heif_module"
