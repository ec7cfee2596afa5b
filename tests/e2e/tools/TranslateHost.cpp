// A small program for the end-to-end tests: shows the translate card for a two-paragraph text in a
// window of its own, with the real language-model runtime, and writes what the card shows to a log:
//   state {"shown": …, "spinner": …, "copy": …, "source": …, "target": …, "scroll": …, "lines": …}
//   place NAME X Y        the screen centre of a control, once shown
//   clipboard TEXT        whenever the clipboard changes
// Usage: pictolarium_translate_host --log PATH [--lines N]   (N numbered lines instead of the two paragraphs)

#include "text/LocalLLM.h"
#include "text/TranslateSideView.h"
#include "text/TranslateView.h"
#include "ui/UI.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QFile logFile;

void say(const QString& line) {
    logFile.write(line.toUtf8() + '\n');
    logFile.flush();
}

const QString twoParagraphs =
    QStringLiteral("The weather was lovely this morning, so we walked along the river to the old market.\n\n"
                   "In the afternoon we visited the museum and had coffee with friends near the station.");

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--log"));
    logFile.setFileName(at >= 0 && at + 1 < args.size() ? args.at(at + 1) : QStringLiteral("/dev/stdout"));
    if (!logFile.open(QIODevice::WriteOnly | QIODevice::Append))
        return 2;
    UI::registerFonts();
    QString text = twoParagraphs;
    if (const qsizetype n = args.indexOf(QStringLiteral("--lines")); n >= 0 && n + 1 < args.size()) {
        QStringList lines;
        for (int i = 1; i <= args.at(n + 1).toInt(); ++i)
            lines.append(QStringLiteral("Line %1 of the long letter about the garden.").arg(i));
        text = lines.join(u'\n');
    }

    QWidget window;
    window.setWindowTitle(QStringLiteral("Translate Host"));
    QPalette backdrop = window.palette();
    backdrop.setColor(QPalette::Window, QColor(0x3A, 0x42, 0x50));
    window.setPalette(backdrop);
    window.setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(20, 20, 20, 20);
    auto* side = new TranslateSideView(text, [] { say(QStringLiteral("closed")); });
    side->setFixedSize(330, 420);
    layout->addWidget(side);
    window.move(100, 100);
    window.show();

    TranslateView* view = side->host();
    const auto report = [view] {
        QJsonObject state{
            {QStringLiteral("shown"), view->shown()},
            {QStringLiteral("spinner"), !view->spinner()->isHidden()},
            {QStringLiteral("copy"), view->copyButton()->isEnabled()},
            {QStringLiteral("source"), view->sourceLabel()->text()},
            {QStringLiteral("target"), view->languagePicker()->currentText()},
            {QStringLiteral("scroll"), view->resultText()->verticalScrollBar()->value()},
            {QStringLiteral("lines"), view->resultText()->document()->blockCount()},
        };
        say(QStringLiteral("state ") + QString::fromUtf8(QJsonDocument(state).toJson(QJsonDocument::Compact)));
    };
    TranslateModel* model = &view->model();
    for (auto signal : {&TranslateModel::modeChanged, &TranslateModel::translationChanged,
                        &TranslateModel::summaryChanged, &TranslateModel::statusChanged,
                        &TranslateModel::finishedChanged, &TranslateModel::busyChanged, &TranslateModel::targetChanged})
        QObject::connect(model, signal, &window, report, Qt::QueuedConnection);
    report();
    QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, &window, [] {
        say(QStringLiteral("clipboard ") + QGuiApplication::clipboard()->text().replace(QLatin1Char('\n'), u'¶'));
    });
    QTimer::singleShot(500, &window, [view] {
        const auto place = [](const char* name, QWidget* w) {
            const QPoint c = w->mapToGlobal(w->rect().center());
            say(QStringLiteral("place %1 %2 %3").arg(QLatin1String(name)).arg(c.x()).arg(c.y()));
        };
        place("picker", view->languagePicker());
        place("summary", view->modeButton(TranslateModel::Mode::summary));
        place("translation", view->modeButton(TranslateModel::Mode::translation));
        place("copy", view->copyButton());
        place("result", view->resultText());
    });
    QObject::connect(&app, &QApplication::aboutToQuit, [] { LocalLLM::stop(); });
    return app.exec();
}
