// A page of a PDF annotated on its card, the card closed while the editor still writes the page: every way of
// closing it (by hand, a new capture, Latest, another file opened, the display going away) ends with the edit in
// the document.

#include "Desktop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPdfWriter>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <memory>

namespace {

// A page of noise, large enough that writing its annotated picture takes a few seconds.
void writeLargePdf(const QString& path) {
    QImage noise(1600, 1000, QImage::Format_RGB32);
    quint32 state = 2463534242u;
    for (int y = 0; y < noise.height(); ++y) {
        auto* row = reinterpret_cast<quint32*>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            row[x] = 0xff000000u | (state & 0xffffffu);
        }
    }
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setPageSize(QPageSize(QSizeF(1600, 1000), QPageSize::Point, QString(), QPageSize::ExactMatch));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter(&writer);
    painter.drawImage(QRect(0, 0, 1600, 1000), noise);
}

} // namespace

TEST(PdfEditE2E, APageBeingAnnotatedReachesThePdfHoweverTheCardCloses) {
    const struct {
        const char* way;
        std::function<void(Desktop&, quint32 card)> close;
        // How the program ends with it, if it does: the text it says then.
        const char* ends;
    } ways[] = {
        {"closed by hand",
         [](Desktop& d, quint32 card) {
             // The editor is deaf while it writes; its tool on the docked pill closes it, and Escape the card.
             d.click(d.pillButton(card, 1, false, 0));
             Desktop::pause(500);
             d.moveTo(d.windowGeometry(card).center());
             Desktop::pause(200);
             d.key("Escape");
         },
         nullptr},
        {"a new capture",
         [](Desktop& d, quint32) {
             d.xdotool({"keydown", "super+shift+d", "sleep", "0.1", "keyup", "super+shift+d"});
         },
         nullptr},
        {"Latest",
         [](Desktop& d, quint32) {
             d.xdotool({"keydown", "super+shift+s", "sleep", "0.6", "keyup", "super+shift+s"});
         },
         nullptr},
        {"another file opened", [](Desktop& d, quint32) { d.run(PICTOLARIUM_BIN, {d.home() + "/other.png"}); },
         nullptr},
        {"the display going away", [](Desktop& d, quint32) { d.killDisplay(); }, "the display went away"},
        // A session ending asks its programs to end before the display goes.
        {"the program asked to end", [](Desktop& d, quint32) { ::kill(pid_t(d.app()->processId()), SIGTERM); }, ""},
    };
    for (const auto& w : ways) {
        SCOPED_TRACE(w.way);
        Desktop desktop;
        ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
        ASSERT_TRUE(desktop.writeCardSettings({"crop", "resize", "rotate", "text", "pin", "translate", "redact",
                                               "cutout", "scroll", "rename", "compress", "share", "library"}));
        QImage other(400, 300, QImage::Format_RGB32);
        other.fill(Qt::darkGreen);
        ASSERT_TRUE(other.save(desktop.home() + "/other.png"));
        // Latest's picture: a screenshot older than the page.
        QDir().mkpath(desktop.shotsFolder());
        ASSERT_TRUE(other.save(desktop.shotsFolder() + "/Screen 2026-01-01 at 10.00.00.png"));
        const QString source = desktop.home() + "/Large.pdf";
        writeLargePdf(source);
        desktop.startApp();
        ASSERT_TRUE(desktop.waitForApp()) << desktop.appStderr().toStdString();

        const quint32 card = desktop.openCard(source);
        ASSERT_NE(card, 0u) << desktop.appStderr().toStdString();
        const QString pdf = desktop.shotsFolder() + "/Large.pdf";
        const QByteArray untouched = Desktop::digest(pdf);
        ASSERT_FALSE(untouched.isEmpty());
        desktop.waitToast(false, 4000);
        desktop.click(desktop.pillButton(card, 1, false, 0));
        const quint32 editor = desktop.waitVisible("^Pictolarium Annotate$", true, 15000);
        ASSERT_NE(editor, 0u) << desktop.appStderr().toStdString();
        const QPoint middle = desktop.clientGeometry(editor).center();
        desktop.key("b");
        desktop.drag({middle - QPoint(80, 60), middle + QPoint(80, 60)});
        desktop.key("Return");
        Desktop::pause(150);
        QProcess* app = desktop.app();
        w.close(desktop, card);
        if (w.ends) {
            ASSERT_TRUE(app->waitForFinished(90000));
            EXPECT_TRUE(desktop.appStderr().contains(w.ends)) << desktop.appStderr().toStdString();
        }
        EXPECT_TRUE(Desktop::waitUntil([&] { return Desktop::digest(pdf) != untouched; }, 60000, 200))
            << "the PDF is as it was; " << QDir(desktop.shotsFolder() + "/.pages").entryList().join(", ").toStdString()
            << " " << desktop.appStderr().toStdString();
        int code = -1;
        const QString check = desktop.run("qpdf", {"--check", pdf}, &code);
        EXPECT_EQ(code, 0) << check.toStdString();
        if (!w.ends)
            desktop.screenshot(Desktop::shotsDir() + "/pdf-annotated-" + QString::fromUtf8(w.way) + ".png");
    }
}
