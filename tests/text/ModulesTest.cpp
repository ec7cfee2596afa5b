// The modules of the large libraries as the program meets them when one is wrong: missing, not a module at
// all, or from another build. Every way in must say so (an error the user reads, or nothing found) and none
// may crash. A process loads its modules once, so each case runs in a process of its own.

#include "platform/Modules.h"
#include "imaging/HeifCodec.h"
#include "text/Barcodes.h"
#include "text/Cutout.h"
#include "text/Language.h"
#include "text/OcrEngine.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

QImage page() {
    QImage image(240, 80, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

// What went wrong when each way in meets the modules in `folder`; empty when every one said so with a
// reason that contains `reason`.
std::string withModulesIn(const QString& folder, const QString& reason) {
    Modules::setFolders({folder});
    std::string wrong;
    try {
        TextVision::recognise(page());
        wrong += "recognition went ahead; ";
    } catch (const TextVision::RecognitionError& e) {
        if (!e.message.contains(reason))
            wrong += "recognition said: " + e.message.toStdString() + "; ";
    }
    try {
        Cutout::removeBackground(page());
        wrong += "the cut-out went ahead; ";
    } catch (const Cutout::Failure& e) {
        if (!e.message.contains(reason))
            wrong += "the cut-out said: " + e.message.toStdString() + "; ";
    }
    if (!TextVision::barcodePayloads(page()).isEmpty())
        wrong += "codes were found; ";
    if (Language::detect(QStringLiteral("Dies ist ein ganz gewöhnlicher deutscher Satz über das Wetter von morgen.")))
        wrong += "a language was detected; ";
    if (HeifCodec::canEncode() || !HeifCodec::encode(page(), 0.8).isEmpty())
        wrong += "HEIC can be written; ";
    return wrong;
}

void expectEveryWayInSaysSo(const QString& folder, const QString& reason, const char* stderrPattern) {
    EXPECT_EXIT(
        {
            const std::string wrong = withModulesIn(folder, reason);
            std::fprintf(stderr, "%s\n", wrong.c_str());
            std::exit(wrong.empty() ? 0 : 1);
        },
        testing::ExitedWithCode(0), stderrPattern);
}

} // namespace

TEST(Modules, MissingModulesAreReportedByEveryWayInAndNothingCrashes) {
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    expectEveryWayInSaysSo(empty.path(), QStringLiteral("pictolarium-vision.so is not installed"),
                           "pictolarium-vision.so is not installed.*HEIC pictures can be neither read nor written: "
                           "pictolarium-heif.so is not installed");
}

TEST(Modules, AFileThatIsNoModuleIsRefusedWithTheLoadersReason) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    for (const char* name : {"/pictolarium-vision.so", "/pictolarium-heif.so"}) {
        QFile file(folder.path() + QLatin1String(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("left over from a broken download");
    }
    // The dynamic loader's own words name the file it could not load.
    expectEveryWayInSaysSo(folder.path(), folder.path() + QStringLiteral("/pictolarium-vision.so"),
                           "are not available: .*pictolarium-vision.so.*pictolarium-heif.so");
}

TEST(Modules, AModuleOfAnotherBuildIsNotCalled) {
    expectEveryWayInSaysSo(QStringLiteral(OTHER_BUILD_MODULES), QStringLiteral("another build"),
                           "another build.*HEIC pictures can be neither read nor written: its module belongs to "
                           "another build");
}
