#include "ModelDesktop.h"
#include "text/TextVision.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QPainter>
#include <QTcpServer>

#include <csignal>

QStringList fileLines(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
                                          : QStringList();
}

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool packEngine(Desktop& desktop, const QString& archive, const QByteArray& library) {
    const QString staging = desktop.folder(QStringLiteral("staging"));
    QDir().mkpath(staging + QStringLiteral("/llama-b11669"));
    if (!QFile::copy(QStringLiteral(FAKE_LLAMA_SERVER), staging + QStringLiteral("/llama-b11669/llama-server")))
        return false;
    QStringList packed{QStringLiteral("llama-b11669/llama-server")};
    if (!library.isEmpty()) {
        QFile file(staging + QStringLiteral("/llama-b11669/libllama.so"));
        if (!file.open(QIODevice::WriteOnly) || file.write(library) != library.size())
            return false;
        packed << QStringLiteral("llama-b11669/libllama.so");
    }
    int code = -1;
    desktop.run(QStringLiteral("tar"),
                QStringList{QStringLiteral("-czf"), archive, QStringLiteral("-C"), staging} + packed, &code);
    return code == 0;
}

QString startDownloadHost(Desktop& desktop, const QString& root) {
    const QString port = QString::number(freePort());
    desktop.start(QStringLiteral(FAKE_DOWNLOAD_HOST), {QStringLiteral("--root"), root, QStringLiteral("--port"), port});
    return QStringLiteral("http://127.0.0.1:") + port;
}

QJsonObject HostCard::state() const {
    QJsonObject last;
    for (const QString& line : fileLines(log))
        if (line.startsWith(QStringLiteral("state ")))
            last = QJsonDocument::fromJson(line.mid(6).toUtf8()).object();
    return last;
}

QString HostCard::shown() const {
    return state()[QStringLiteral("shown")].toString();
}

bool HostCard::waitShown(const std::function<bool(const QString&)>& test, int timeoutMs) const {
    return Desktop::waitUntil([&] { return test(shown()); }, timeoutMs, 100);
}

QPoint HostCard::place(const char* name) const {
    for (const QString& line : fileLines(log))
        if (line.startsWith(QStringLiteral("place ") + QLatin1String(name) + u' '))
            return {line.section(u' ', 2, 2).toInt(), line.section(u' ', 3, 3).toInt()};
    return {};
}

void HostCard::click(const char* name) const {
    const QPoint at = place(name);
    if (at.isNull())
        return;
    desktop->xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                      QStringLiteral("click"), QStringLiteral("1")});
}

void ModelDesktop::SetUp() {
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    port = freePort();
    desktop.setEnvironment(QStringLiteral("PICTOLARIUM_LLM_PORT"), QString::number(port));
    desktop.setEnvironment(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    desktop.setEnvironment(QStringLiteral("LC_ALL"), QStringLiteral("en_US.UTF-8"));
    hostCard.desktop = &desktop;
}

void ModelDesktop::TearDown() {
    if (model.isEmpty())
        return;
    for (const QString& pid : fileLines(model + QStringLiteral(".pid")))
        ::kill(pid.toInt(), SIGTERM);
}

QString ModelDesktop::llm() const {
    return desktop.folder(QStringLiteral("data")) + QStringLiteral("/Pictolarium/llm");
}

bool ModelDesktop::install(const QByteArray& script, bool engine) {
    model = llm() + QStringLiteral("/gemma-3-1b-it-Q4_K_M.gguf");
    QDir().mkpath(llm());
    QFile file(model);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(script) != script.size())
        return false;
    if (!engine)
        return true;
    QDir().mkpath(llm() + QStringLiteral("/engine-b11669/llama-b11669"));
    return QFile::copy(QStringLiteral(FAKE_LLAMA_SERVER),
                       llm() + QStringLiteral("/engine-b11669/llama-b11669/llama-server"));
}

QProcess* ModelDesktop::startHost(const QStringList& more) {
    hostCard.log = desktop.folder(QStringLiteral("host")) + QStringLiteral("/card.log");
    QProcess* host =
        desktop.start(QStringLiteral(TRANSLATE_HOST_BIN), QStringList{QStringLiteral("--log"), hostCard.log} + more);
    return Desktop::waitUntil([&] { return !hostCard.place("result").isNull(); }, 10000) ? host : nullptr;
}

void ModelDesktop::openGreetingCard(const QJsonObject& extra) {
    ASSERT_TRUE(desktop.writeCardSettings({"annotate", "crop", "resize", "rotate", "text", "pin", "redact", "cutout",
                                           "scroll", "rename", "compress", "library"},
                                          extra));
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp()) << desktop.appStderr().toStdString();

    QImage picture(1200, 400, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(72);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QPoint(60, 230), QStringLiteral("Good morning everyone"));
    painter.end();
    const QString path = desktop.home() + QStringLiteral("/greeting.png");
    ASSERT_TRUE(picture.save(path));
    card = desktop.openCard(path);
    ASSERT_NE(card, 0u) << desktop.appStderr().toStdString();
}

void ModelDesktop::pressTranslate() {
    desktop.click(desktop.pillButton(card, 1, true, 0));
}

QImage ModelDesktop::side() {
    const QRect frame = desktop.clientGeometry(card);
    QImage shot = desktop.screenshot().copy(frame.adjusted(frame.width() / 2, 0, 0, 0));
    shot.invertPixels();
    return shot;
}

QString ModelDesktop::sideText() {
    const QImage shot = side();
    return TextVision::text(shot.scaled(shot.size() * 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)).simplified();
}
