#pragma once
// What the card tests share: a card of their own on a picture file, the toast's text, a page picture changed
// in place, and a decoding child that runs a few lines of shell first.

#include "FakeCardClock.h"
#include "card/PDFSession.h"
#include "card/ThumbnailPanel.h"
#include "card/ThumbnailView.h"
#include "imaging/IsolatedDecode.h"
#include "imaging/PdfRewrite.h"
#include "imaging/ShotFiles.h"
#include "platform/EscapeKeyGrab.h"
#include "platform/fake/FakePointerWatch.h"
#include "support/TextPdf.h"
#include "support/ToastText.h"
#include "ui/Toast.h"

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace CardFixtures {

using Hold = CardLifetime::Hold;

class QuietEscape : public EscapeKeyGrab {
public:
    bool setActive(bool) override { return true; }
};

// A card shown on `file` (a PDF's page when `pdf` is given), with time and pointer of the test's own.
struct Card {
    explicit Card(const QUrl& file, std::shared_ptr<PDFSession> pdf = nullptr, const QString& appName = {}) {
        ThumbnailPanel::Services s;
        s.clock = std::make_unique<FakeCardClock>();
        s.escape = std::make_unique<QuietEscape>();
        s.pointerWatch = [] { return std::make_unique<FakePointerWatch>(); };
        s.pointer = [] { return QPoint(5, 5); };
        panel = new ThumbnailPanel(Shot{file, QImage(file.toLocalFile()), appName, std::nullopt}, std::nullopt,
                                   std::move(pdf), std::move(s));
        panel->show(QPointF(400, 300));
    }
    ~Card() {
        delete panel.data();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    ThumbnailView* view() const { return panel->view(); }
    bool held(Hold reason) const { return panel->lifetime().isHeldFor(reason); }
    void settle() const {
        EXPECT_TRUE(QTest::qWaitFor([this] { return !view()->isBusy(); }, 60000));
    }
    // Taps a tool and waits while the picture for its editor is read.
    void tap(const char* tool) const {
        view()->triggerTool(QString::fromLatin1(tool));
        EXPECT_TRUE(QTest::qWaitFor([this] { return !panel || !view()->loadingTool; }, 10000));
    }
    QPointer<ThumbnailPanel> panel;
};

// A PDF of `pages` A5 pages in plain dark type, saved as `name` in `dir`; `|` parts a page's lines.
inline QString pdfOf(const QTemporaryDir& dir, const QString& name, const QStringList& pages) {
    const QString path = dir.filePath(name);
    writeTextPdf(path, pages);
    return path;
}

// A grey picture of `size` saved as `name` in `dir`.
inline QUrl greyFile(const QTemporaryDir& dir, const QString& name, QSize size) {
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(Qt::gray);
    picture.save(dir.filePath(name));
    return QUrl::fromLocalFile(dir.filePath(name));
}

// A picture of one colour written over `page`, dated clearly after it was drawn.
inline void repaint(const QUrl& page, QColor colour, bool alpha = false) {
    QImage picture(QImage(page.toLocalFile()).size(), alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    picture.fill(colour);
    if (alpha)
        picture.setPixelColor(0, 0, Qt::transparent);
    QTest::qWait(20);
    ShotFiles::write(picture, page);
}

// Child programs that run `body` first, then the real one; they are used while alive. `which` picks the
// decoder, the PDF writer or both.
class ChildScript {
public:
    enum Which { Decoder = 1, Writer = 2, Both = 3 };
    // `runner` goes before the program on its command line.
    ChildScript(const QTemporaryDir& dir, const QByteArray& body, Which which = Both, const QByteArray& runner = {}) {
        if (which & Decoder)
            IsolatedDecode::setProgram(
                wrap(dir, QStringLiteral("decode.sh"), "decode/pictolarium-decode", body, runner));
        if (which & Writer)
            PdfRewrite::setProgram(
                wrap(dir, QStringLiteral("pdfwrite.sh"), "pdfwrite/pictolarium-pdfwrite", body, runner));
    }
    // What the child runs under for it to be denied what the user is denied, whoever runs the tests: root reads
    // and writes anything unless started without that power.
    static QByteArray asUser() { return "setpriv --inh-caps=-all --bounding-set=-dac_override,-dac_read_search"; }
    ~ChildScript() {
        IsolatedDecode::setProgram(QString());
        PdfRewrite::setProgram(QString());
    }

private:
    static QString wrap(const QTemporaryDir& dir, const QString& name, const char* program, const QByteArray& body,
                        const QByteArray& runner) {
        const QString path = dir.filePath(name);
        QFile script(path);
        script.open(QIODevice::WriteOnly);
        script.write("#!/bin/sh\n" + body + "\nexec " + runner + " '" +
                     QFile::encodeName(QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/") +
                                       QLatin1String(program)) +
                     "' \"$@\"\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }
};

} // namespace CardFixtures
