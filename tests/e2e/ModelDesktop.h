#pragma once
// The language model's runtime on the test desktop: the stand-in server installed where a download would have
// left it, a download host of the test, the small translate host's card read back from its log, and the
// program's card with its translate tool.

#include "Desktop.h"

#include <QByteArray>
#include <QImage>
#include <QJsonObject>
#include <QPoint>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>

#include <gtest/gtest.h>

// A file's lines, the empty ones left out; none when it cannot be read.
QStringList fileLines(const QString& path);
// A local port nobody listens on at the moment.
quint16 freePort();
// The stand-in server's release as the download host offers it: llama-b11669/llama-server first, then a
// libllama.so of `library` when one is given, packed into `archive`.
bool packEngine(Desktop& desktop, const QString& archive, const QByteArray& library = {});
// A download host of the test serving the folder `root` (under /files, and slowly under /slow); its address.
QString startDownloadHost(Desktop& desktop, const QString& root);

// What the translate host's card shows, from its log.
struct HostCard {
    Desktop* desktop = nullptr;
    QString log;

    QJsonObject state() const;
    QString shown() const;
    bool waitShown(const std::function<bool(const QString&)>& test, int timeoutMs = 15000) const;
    // The screen centre of a control; null until the card has shown it.
    QPoint place(const char* name) const;
    void click(const char* name) const;
};

// A desktop with the runtime's server on a free port and an English locale. The servers the runtime started
// are ended after the test; the rest goes with the desktop.
class ModelDesktop : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    QString llm() const;
    // The stand-in server where a download would have put it, following `script` as its model file (beside which
    // it logs what it was asked); without `engine`, the model alone, so that the engine is still to be fetched.
    bool install(const QByteArray& script, bool engine = true);
    // The translate host, once its card has shown its controls; null if it never did.
    QProcess* startHost(const QStringList& more = {});
    // The program with a pill of the translate tool, the format button and share, and a card of a picture with
    // one line of large text at the middle of the screen.
    void openGreetingCard(const QJsonObject& extra = {});
    // The pill's one tool, then the format button and share.
    void pressTranslate();
    // What the card shows right of its picture, read back from the screen (light type on a dark pill).
    QImage side();
    QString sideText();

    Desktop desktop;
    quint16 port = 0;
    QString model;
    HostCard hostCard;
    quint32 card = 0;
};
