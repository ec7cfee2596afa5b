#include "library/FormatWheel.h"

#include "card/ThumbnailView.h"
#include "imaging/ImageConvert.h"
#include "imaging/ShotFiles.h"
#include "library/WheelPanel.h"
#include "platform/Defaults.h"
#include "platform/Dispatch.h"
#include "platform/DragProbe.h"
#include "platform/Notifications.h"
#include "ui/Toast.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace {

const QString modifierKey = QStringLiteral("wheelModifier");
constexpr quint32 knownKeys = DragProbe::shift | DragProbe::control | DragProbe::alt | DragProbe::super;

QString extensionOf(const QUrl& url) {
    return QFileInfo(url.path()).suffix().toLower();
}

struct Outcome {
    QList<QUrl> written;
    QString message;
};

// The batch behind a drop; runs on the worker pool and touches nothing of the wheel.
// `progress` hears of long batches about once a second, with the number of files done.
Outcome convertAll(const WheelView::Option& option, const QList<QUrl>& files,
                   const std::function<void(qsizetype done)>& progress) {
    QElapsedTimer sinceReport;
    sinceReport.start();
    Outcome outcome;
    const qsizetype n = files.size();
    ImageConvert::Notes notes;
    for (const QUrl& file : files) {
        try {
            QString trashFailure;
            if (option.isCompress()) {
                const ImageConvert::Compressed done = ImageConvert::compress(file);
                outcome.written.append(done.url);
                trashFailure = done.trashFailure;
                outcome.message = n == 1 ? ThumbnailView::byteCount(done.bytesBefore) + QStringLiteral(" \u2192 ") +
                                               ThumbnailView::byteCount(done.bytesAfter)
                                         : QStringLiteral("%1 compressed").arg(n);
            } else {
                const ImageFormat format = option.imageFormat();
                const ImageConvert::Replaced done = ImageConvert::convert(file, format, 0.9);
                outcome.written.append(done.url);
                trashFailure = done.trashFailure;
                outcome.message = n == 1 ? format.title() + QStringLiteral(" \u00B7 ") +
                                               ThumbnailView::byteCount(ImageConvert::fileSize(done.url))
                                         : QStringLiteral("%1 \u2192 %2").arg(n).arg(format.title());
            }
            notes.add(file, trashFailure);
            if (sinceReport.elapsed() >= 1000 && outcome.written.size() < n) {
                progress(outcome.written.size());
                sinceReport.restart();
            }
        } catch (const UserError& error) {
            outcome.message = error.message;
            return outcome;
        } catch (const std::bad_alloc&) {
            outcome.message = QStringLiteral("Not enough memory for ") + QFileInfo(file.path()).fileName();
            return outcome;
        }
    }
    // Both files stayed where the old one could not go to the Trash: say so rather than hide it.
    if (const QString note = notes.text(); !note.isEmpty())
        outcome.message += QStringLiteral(" \u2014 ") + note;
    return outcome;
}

} // namespace

FormatWheel& FormatWheel::shared() {
    static FormatWheel* wheel = new FormatWheel(nullptr, Defaults::standard());
    return *wheel;
}

FormatWheel::FormatWheel(DragProbe* dragProbe, Defaults& settings, QObject* parent)
    : QObject(parent), probe(dragProbe), defaults(settings) {}

FormatWheel::~FormatWheel() {
    delete window;
}

void FormatWheel::setProbe(DragProbe* dragProbe) {
    probe = dragProbe;
}

WheelView* FormatWheel::view() const {
    return window ? window->view() : nullptr;
}

const QSet<QString>& FormatWheel::imageExts() {
    static const QSet<QString> exts{
        QStringLiteral("png"),  QStringLiteral("jpg"),  QStringLiteral("jpeg"), QStringLiteral("heic"),
        QStringLiteral("heif"), QStringLiteral("webp"), QStringLiteral("tiff"), QStringLiteral("tif"),
        QStringLiteral("gif"),  QStringLiteral("bmp"),  QStringLiteral("pdf"),  QStringLiteral("avif"),
        QStringLiteral("dng"),
    };
    return exts;
}

const QList<FormatWheel::ModifierChoice>& FormatWheel::modifierChoices() {
    static const QList<ModifierChoice> choices{
        {QStringLiteral("Shift"), DragProbe::shift},
        {QStringLiteral("Alt"), DragProbe::alt},
        {QStringLiteral("Ctrl"), DragProbe::control},
        {QStringLiteral("Super"), DragProbe::super},
    };
    return choices;
}

quint32 FormatWheel::modifier(const Defaults& settings) {
    const qlonglong stored = settings.integerValue(modifierKey);
    const quint32 keys = stored > 0 ? quint32(stored & knownKeys) : 0;
    return keys ? keys : quint32(DragProbe::shift);
}

quint32 FormatWheel::modifier() {
    return modifier(Defaults::standard());
}

QString FormatWheel::modifierSymbol(const Defaults& settings) {
    const qlonglong stored = settings.integerValue(modifierKey);
    const qlonglong value = stored == 0 ? qlonglong(DragProbe::shift) : stored;
    for (const ModifierChoice& choice : modifierChoices())
        if (choice.flag == value)
            return choice.title;
    return QStringLiteral("Shift");
}

QString FormatWheel::modifierSymbol() {
    return modifierSymbol(Defaults::standard());
}

QPoint FormatWheel::origin(QPoint at, QRect visible) {
    const int half = WheelPanel::diameter / 2;
    int x = at.x() - half, y = at.y() - half;
    if (visible.isValid()) {
        // On an area narrower than the wheel its left (top) edge wins.
        x = std::max(visible.left(), std::min(visible.left() + visible.width() - WheelPanel::diameter, x));
        y = std::max(visible.top(), std::min(visible.top() + visible.height() - WheelPanel::diameter, y));
    }
    return {x, y};
}

void FormatWheel::start() {
    if (!probe || timer)
        return;
    handledChangeCount = releasedChangeCount = probe->changeCount();
    timer = new QTimer(this);
    timer->setInterval(intervalMs);
    connect(timer, &QTimer::timeout, this, &FormatWheel::tick);
    timer->start();
}

bool FormatWheel::held(quint32 modifiers) const {
    const quint32 key = modifier(defaults);
    return (modifiers & key) == key;
}

void FormatWheel::tick() {
    if (!probe)
        return;
    const DragProbe::Pointer now = probe->pointer();
    if (hidePending && probe->now() >= hideAt)
        hideNow();
    const bool down = now.buttonDown;
    const bool keyHeld = held(now.modifiers);
    if (nudgeDue) {
        // A look after the wheel went, so that its window is gone from the screen by now.
        nudgeDue = false;
        if (down)
            probe->nudgePointer();
    }

    if (!down) {
        // With the button up no drag is under way, the basket's included, even one that came and went
        // between two looks.
        libraryDrag.reset();
        libraryFiles.clear();
        if (wasButtonDown) {
            handledChangeCount = releasedChangeCount = probe->changeCount();
            if (visible)
                hideAfterDrop();
            wasButtonDown = false;
            return;
        }
    }

    if (visible) {
        if (!keyHeld) {
            hideNow();
            // Let go mid-drag: pressing the key again brings the wheel back for the same drag. Until the pointer
            // moves, the drag's program still takes the hidden wheel for the window under it.
            if (down) {
                nudgeDue = true;
                handledChangeCount = -1;
                if (!libraryFiles.isEmpty())
                    libraryDrag = libraryFiles;
            }
        }
    } else if (keyHeld && down) {
        // Only a drag that took the drag selection since the button last came up is under way now: the
        // selection's owner keeps answering for its last drag long after it ended.
        if (libraryDrag) {
            const QList<QUrl> files = *libraryDrag;
            libraryDrag.reset();
            show(files, now.position);
        } else if (const qint64 count = probe->changeCount();
                   count != handledChangeCount && count != releasedChangeCount) {
            if (!libraryFiles.isEmpty()) {
                // The basket's own drag took the drag selection: nothing new to ask for.
                handledChangeCount = count;
            } else if (const std::optional<QList<QUrl>> files = probe->fileURLs(); files && !files->isEmpty()) {
                const bool allPictures = std::all_of(files->begin(), files->end(), [](const QUrl& url) {
                    return imageExts().contains(extensionOf(url));
                });
                if (allPictures) {
                    handledChangeCount = count;
                    show(*files, now.position);
                }
            }
        }
    }
    wasButtonDown = down;
}

void FormatWheel::libraryDragBegan(const QList<QUrl>& given) {
    QList<QUrl> images;
    for (const QUrl& url : given)
        if (imageExts().contains(extensionOf(url)))
            images.append(url);
    if (images.isEmpty()) {
        libraryDrag.reset();
        libraryFiles.clear();
        return;
    }
    libraryDrag = images;
    libraryFiles = images;
    if (!probe)
        return;
    handledChangeCount = probe->changeCount();
    const DragProbe::Pointer now = probe->pointer();
    if (held(now.modifiers) && !visible)
        show(images, now.position);
}

void FormatWheel::makePanel() {
    window = new WheelPanel;
    QPointer<FormatWheel> self(this);
    window->view()->onDrop = [self](const WheelView::Option& option, const QList<QUrl>& files) {
        if (self)
            self->perform(option, files);
    };
}

void FormatWheel::show(const QList<QUrl>& files, QPoint at) {
    urls = files;
    if (!window)
        makePanel();
    QScreen* screen = QGuiApplication::screenAt(at);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    window->move(origin(at, screen ? screen->availableGeometry() : QRect()));

    const std::optional<ImageFormat> source = files.size() == 1 ? ImageFormat::of(files.first()) : std::nullopt;
    QList<WheelView::Option> choices;
    for (const ImageFormat format : ImageFormat::available())
        if (!source || format != *source)
            choices.append(WheelView::Option::format(format));
    choices.append(WheelView::Option::compress());

    WheelView* wheel = window->view();
    wheel->label = source ? source->title() : QStringLiteral("%1 images").arg(files.size());
    wheel->options = choices;
    wheel->highlighted.reset();
    window->reshape();
    wheel->update();
    window->show();
    window->raise();
    visible = true;
    hidePending = false;
    nudgeDue = false;
    // The wheel came up under a pointer that may not move before the drop: without a look, the drag's program
    // would drop on the window behind the wheel.
    if (probe)
        probe->nudgePointer();
}

void FormatWheel::hideNow() {
    if (window)
        window->hide();
    visible = false;
    hidePending = false;
}

void FormatWheel::hideAfterDrop() {
    if (hidePending)
        return;
    hidePending = true;
    hideAt = probe->now() + hideDelayMs;
}

void FormatWheel::perform(const WheelView::Option& option, const QList<QUrl>& dropped) {
    hideNow();
    const QList<QUrl> files = dropped.isEmpty() ? urls : dropped;
    if (files.isEmpty())
        return;
    const QPoint dropPoint = probe ? probe->pointer().position : QCursor::pos();
    Dispatch::global([option, files, dropPoint] {
        const QString verb = option.isCompress() ? QStringLiteral("Compressing") : QStringLiteral("Converting");
        const Outcome outcome = convertAll(option, files, [&](qsizetype done) {
            const QString text = QStringLiteral("%1 %2 of %3\u2026").arg(verb).arg(done + 1).arg(files.size());
            Dispatch::main([text, dropPoint] { Toast::show(text, dropPoint, toastSeconds); });
        });
        Dispatch::main([outcome, dropPoint] {
            // One post per written file: a result may have taken its source's name, and the basket must
            // not keep the old picture under it.
            for (const QUrl& url : outcome.written)
                Notifications::defaultCenter().post(ShotFiles::changed(), url);
            Toast::show(outcome.message, dropPoint, toastSeconds);
        });
    });
}
