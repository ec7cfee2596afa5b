// Reading screens of real programs (bench/screens: terminals, web pages, a Qt dialog, captured with
// our screenshot tool): our recognition on warm engines against the tesseract command, per picture
// and in the mean, in two tables: the half the reading rules may be tuned on, and the half that is
// only ever checked. BENCH_SCREENS_HALF=tune (or checked) prints one; BENCH_SCREENS_COMMAND=0 leaves
// the command out; BENCH_SCREENS_DUMP=folder keeps what both read; BENCH_SCREENS_MATCH=part picks
// the pictures whose names hold it; BENCH_SCREENS_LINES prints the lines read (left, top, width,
// height in pixels); BENCH_SCREENS_BANDS=n reads every picture in n bands; BENCH_SCREENS_DIR=folder
// reads another set made the same way; BENCH_SCREENS_REDACT only counts the boxes redaction would paint on
// each picture (a few addresses and commit hashes; anything more is a false find), and where a picture has
// its secrets beside it (NN-name.secrets, one a line with its box) whether the boxes cover each, and whether
// the tesseract command or our reading still finds any of them in the painted picture.

#include "SideBySide.h"
#include "text/OcrEngine.h"
#include "text/Redaction.h"
#include "text/TextCorpus.h"
#include "text/TextLayout.h"
#include "text/TextVision.h"

#include "Quick.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

struct Screen {
    QString name, language, half, truth;
    QImage image;
    QString file;
    double ours[4] = {}, command[4] = {}; // CER, WER, wall ms, cpu ms
    QString ourText, commandText;
    QStringList secrets;            // what redaction must leave unreadable
    std::vector<QRect> secretBoxes; // where each stands in the picture, where known
};

template <typename Run> void measure(int runs, double* figures, QString& text, const QString& truth, Run run) {
    double wall = 0, cpu = 0;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = SideBySide::cpuSeconds();
        text = run();
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu += SideBySide::cpuSeconds() - cpuStart;
    }
    figures[0] = TextCorpus::characterErrorRate(truth, text);
    figures[1] = TextCorpus::wordErrorRate(truth, text);
    figures[2] = wall / runs * 1000;
    figures[3] = cpu / runs * 1000;
}

// What a user whose desktop prefers the screen's language gets: that language, then English.
QString languagesFor(const Screen& screen) {
    return screen.language == QStringLiteral("eng") ? QStringLiteral("eng") : screen.language + QStringLiteral("+eng");
}

QString ourText(const Screen& screen) {
    TextVision::RecognitionOptions options;
    options.languages = languagesFor(screen);
    options.bands = qEnvironmentVariableIntValue("BENCH_SCREENS_BANDS");
    std::vector<QRectF> rules;
    options.rules = &rules;
    const auto lines = TextVision::recognise(screen.image, options);
    if (qEnvironmentVariableIsSet("BENCH_SCREENS_LINES"))
        for (const auto& line : lines)
            std::fprintf(stderr, "%5.0f %5.0f %5.0f %4.0f  %s\n", line.box.x() * screen.image.width(),
                         (1 - line.box.bottom()) * screen.image.height(), line.box.width() * screen.image.width(),
                         line.box.height() * screen.image.height(), line.text.toUtf8().constData());
    return TextVision::fullText(lines, rules);
}

QString commandText(const Screen& screen) {
    QProcess process;
    process.start(QStringLiteral("tesseract"),
                  {screen.file, QStringLiteral("stdout"), QStringLiteral("-l"), languagesFor(screen)});
    process.waitForFinished(-1);
    return QString::fromUtf8(process.readAllStandardOutput());
}

void table(const std::vector<Screen>& screens, const QString& half, bool withCommand) {
    std::printf("\nScreens of real programs, %s half\n", half == u"tune" ? "tuning" : "checked (never tuned on)");
    std::printf("%-28s %5s | %6s %6s %7s %7s | %6s %6s %7s %7s | %5s %5s %6s\n", "picture", "chars", "CER", "WER", "ms",
                "cpu ms", "cmdCER", "cmdWER", "cmd ms", "cpu ms", "time", "cpu", "ΔCER");
    double sum[8] = {};
    int count = 0, worse = 0;
    for (const Screen& s : screens) {
        if (s.half != half)
            continue;
        const double delta = s.ours[0] - s.command[0];
        worse += withCommand && delta > 0.02;
        std::printf("%-28s %5lld | %6.3f %6.3f %7.0f %7.0f | %6.3f %6.3f %7.0f %7.0f | %5.2f %5.2f %+6.3f%s\n",
                    s.name.toUtf8().constData(), static_cast<long long>(s.truth.size()), s.ours[0], s.ours[1],
                    s.ours[2], s.ours[3], s.command[0], s.command[1], s.command[2], s.command[3],
                    s.command[2] > 0 ? s.ours[2] / s.command[2] : 0.0,
                    s.command[3] > 0 ? s.ours[3] / s.command[3] : 0.0, delta, withCommand && delta > 0.02 ? " *" : "");
        for (int i = 0; i < 4; ++i) {
            sum[i] += s.ours[i];
            sum[4 + i] += s.command[i];
        }
        ++count;
    }
    if (!count)
        return;
    std::printf("%-28s %5s | %6.3f %6.3f %7.0f %7.0f | %6.3f %6.3f %7.0f %7.0f | %5.2f %5.2f %+6.3f\n", "mean", "",
                sum[0] / count, sum[1] / count, sum[2] / count, sum[3] / count, sum[4] / count, sum[5] / count,
                sum[6] / count, sum[7] / count, sum[6] > 0 ? sum[2] / sum[6] : 0.0, sum[7] > 0 ? sum[3] / sum[7] : 0.0,
                (sum[0] - sum[4]) / count);
    if (withCommand)
        std::printf("%d of %d pictures read worse than the command by more than 0.02 (marked *)\n", worse, count);
}

// Letters and digits only, lower case: a secret is read whatever spaces or dashes the reading puts in it.
QString bare(const QString& text) {
    QString out;
    for (const QChar c : text)
        if (c.isLetterOrNumber())
            out += c.toLower();
    return out;
}

// The secrets of the screen that a reader still finds in the painted picture: the whole of one, or a
// group of four or more of its letters and digits (a card's last group is as much a secret as the card).
QStringList stillReadable(const Screen& screen, const QImage& painted) {
    const QString file = QDir::temp().filePath(QStringLiteral("bench-screens-painted.png"));
    painted.save(file);
    QProcess process;
    process.start(QStringLiteral("tesseract"), {file, QStringLiteral("stdout")});
    process.waitForFinished(-1);
    QString read = bare(QString::fromUtf8(process.readAllStandardOutput()));
    for (const auto& line : TextVision::recognise(painted))
        read += u'|' + bare(line.text);
    QStringList found;
    for (const QString& secret : screen.secrets) {
        const QStringList groups = secret.split(QRegularExpression(QStringLiteral("[\\s()-]+")), Qt::SkipEmptyParts);
        const bool readable =
            read.contains(bare(secret)) || std::any_of(groups.begin(), groups.end(), [&](const QString& g) {
                return bare(g).size() >= 4 && read.contains(bare(g));
            });
        if (readable)
            found << secret;
    }
    return found;
}

// The secrets whose letters the boxes leave partly bare: the middle half of each secret's line box, all along
// it, must lie under the boxes (normalised, origin lower left).
QStringList leftBare(const Screen& screen, const std::vector<QRectF>& boxes) {
    const QSize size = screen.image.size();
    std::vector<QRect> painted;
    for (const QRectF& b : boxes)
        painted.push_back(QRectF(b.x() * size.width(), (1 - b.y() - b.height()) * size.height(),
                                 b.width() * size.width(), b.height() * size.height())
                              .toAlignedRect());
    QStringList bare;
    for (size_t i = 0; i < screen.secretBoxes.size(); ++i) {
        const QRect box = screen.secretBoxes[i];
        const QRect core = QRect(box.left() + 1, box.top() + box.height() / 4, box.width() - 2, box.height() / 2)
                               .intersected(screen.image.rect());
        int covered = 0;
        for (int y = core.top(); y <= core.bottom(); ++y)
            for (int x = core.left(); x <= core.right(); ++x)
                covered +=
                    std::any_of(painted.begin(), painted.end(), [&](const QRect& p) { return p.contains(x, y); });
        if (covered < 0.95 * core.width() * core.height())
            bare << screen.secrets[qsizetype(i)];
    }
    return bare;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString set = qEnvironmentVariable("BENCH_SCREENS_DIR", QStringLiteral(SCREENS_DIR));
    const QDir folder(set);
    QFile list(folder.filePath(QStringLiteral("screens.tsv")));
    if (!list.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "No screen list in %s (bench/screens/capture.py makes it).\n", qPrintable(set));
        return 1;
    }
    const QString only = qEnvironmentVariable("BENCH_SCREENS_HALF");
    const bool withCommand = qEnvironmentVariable("BENCH_SCREENS_COMMAND") != u"0";
    const QString match = qEnvironmentVariable("BENCH_SCREENS_MATCH");
    std::vector<Screen> screens;
    for (const QByteArray& raw : list.readAll().split('\n')) {
        const QStringList fields = QString::fromUtf8(raw).split(u'\t');
        if (raw.startsWith('#') || fields.size() < 3)
            continue;
        if ((!only.isEmpty() && fields[2] != only) || !fields[0].contains(match))
            continue;
        Screen screen{fields[0], fields[1], fields[2], {}, {}, folder.filePath(fields[0] + QStringLiteral(".png")),
                      {},        {},        {},        {}};
        QFile truth(folder.filePath(fields[0] + QStringLiteral(".txt")));
        screen.image = QImage(screen.file);
        if (screen.image.isNull() || !truth.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "Cannot read %s\n", screen.file.toUtf8().constData());
            return 1;
        }
        screen.truth = QString::fromUtf8(truth.readAll());
        if (QFile secrets(folder.filePath(fields[0] + QStringLiteral(".secrets"))); secrets.open(QIODevice::ReadOnly))
            for (const QString& row : QString::fromUtf8(secrets.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
                const QStringList parts = row.split(u'\t');
                screen.secrets << parts[0];
                if (parts.size() == 5)
                    screen.secretBoxes.emplace_back(parts[1].toInt(), parts[2].toInt(), parts[3].toInt(),
                                                    parts[4].toInt());
            }
        screens.push_back(std::move(screen));
    }

    if (qEnvironmentVariableIsSet("BENCH_SCREENS_REDACT")) {
        size_t total = 0, secrets = 0, readable = 0, bareCount = 0;
        for (const Screen& s : screens) {
            // Read and painted as the redact tool does: its careful readings, then the check of the painted picture.
            const TextVision::CheckedRedaction done = TextVision::redactChecked(s.image);
            const size_t boxes = done.boxes.size();
            total += boxes;
            if (const QString dump = qEnvironmentVariable("BENCH_SCREENS_DUMP"); !dump.isEmpty()) {
                QDir().mkpath(dump);
                done.image.save(QDir(dump).filePath(s.name + QStringLiteral(".painted.png")));
            }
            if (s.secrets.isEmpty()) {
                std::printf("%-28s %3zu\n", s.name.toUtf8().constData(), boxes);
                continue;
            }
            const QStringList left = stillReadable(s, done.image), uncovered = leftBare(s, done.boxes);
            secrets += size_t(s.secrets.size());
            readable += size_t(left.size());
            bareCount += size_t(uncovered.size());
            std::printf("%-28s %3zu  %lld of %lld secrets uncovered, %lld still readable  %s\n",
                        s.name.toUtf8().constData(), boxes, static_cast<long long>(uncovered.size()),
                        static_cast<long long>(s.secrets.size()), static_cast<long long>(left.size()),
                        (uncovered + left).join(QStringLiteral(", ")).toUtf8().constData());
        }
        std::printf("%-28s %3zu\n", "boxes in all", total);
        if (secrets)
            std::printf("%zu of %zu secrets left uncovered, %zu still readable after redaction\n", bareCount, secrets,
                        readable);
        return 0;
    }
    if (Quick::on() && screens.size() > 1)
        screens.erase(screens.begin() + 1, screens.end());
    // Warm every engine the screens ask for before anything is timed.
    for (const Screen& screen : screens)
        ourText(screen);
    for (Screen& s : screens) {
        measure(Quick::count(3), s.ours, s.ourText, s.truth, [&] { return ourText(s); });
        if (withCommand)
            measure(Quick::count(3), s.command, s.commandText, s.truth, [&] { return commandText(s); });
    }
    for (const QString& half : {QStringLiteral("tune"), QStringLiteral("checked")})
        table(screens, half, withCommand);
    std::printf("%d recognition threads\n", TextVision::recognitionThreads());

    if (const QString dump = qEnvironmentVariable("BENCH_SCREENS_DUMP"); !dump.isEmpty()) {
        QDir().mkpath(dump);
        for (const Screen& s : screens)
            for (const auto& [suffix, text] :
                 {std::pair{".ours.txt", s.ourText}, std::pair{".command.txt", s.commandText}}) {
                QFile out(QDir(dump).filePath(s.name + QString::fromLatin1(suffix)));
                if (out.open(QIODevice::WriteOnly))
                    out.write(text.toUtf8());
            }
    }
    return 0;
}
