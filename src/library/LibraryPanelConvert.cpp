// The basket's conversions: convert, resize and compress the selection, and a tile's own format menu.
// Each new file takes its source's place (the source goes to the Trash), comes first and is selected.
// The files are worked on by a worker, one batch at a time, while the basket goes on answering; what came of
// them reaches the panel afterwards, if it is still there.

#include "library/LibraryPanel.h"

#include "card/ThumbnailView.h"
#include "editors/NamePrompt.h"
#include "imaging/ImageConvert.h"
#include "library/ShotGrid.h"
#include "platform/Dispatch.h"
#include "ui/GhostButton.h"

#include <QApplication>
#include <QFileInfo>
#include <QMenu>
#include <QPointer>

#include <algorithm>

namespace {

QString outOfMemory(const QString& file) {
    return QStringLiteral("Not enough memory for ") + QFileInfo(file).fileName();
}

QString withNote(const QString& message, const QString& trashFailure) {
    if (message.isEmpty())
        return trashFailure;
    return trashFailure.isEmpty() ? message : message + QStringLiteral(" \u00B7 ") + trashFailure;
}

// Sources that went to the Trash leave the list at once: the Recent tab lists its last list again until its
// search comes back, which would show them meanwhile.
void dropGone(BasketListing& listing, const QStringList& sources) {
    for (const QString& file : sources) {
        if (QFileInfo::exists(file))
            continue;
        listing.items.removeAll(file);
        listing.recentCache.removeAll(file);
    }
}

} // namespace

void LibraryPanel::showMade(const QStringList& chosen, const QStringList& made) {
    // A compressed photo.jpg keeps its name: its old thumbnail must not stay.
    for (const QString& file : chosen + made)
        files->thumbCache.remove(file);
    dropGone(*files, chosen);
    insertNew(made);
    reload();
    selectFiles(made);
}

std::optional<int> LibraryPanel::widthFromAnswer(const QString& answer) {
    QString digits;
    for (const QChar c : answer)
        if (c.isNumber())
            digits.append(c);
    // Only plain decimal digits read as a number; digits of other scripts do not.
    for (const QChar c : std::as_const(digits))
        if (c < u'0' || c > u'9')
            return std::nullopt;
    bool ok = false;
    const int width = digits.toInt(&ok);
    if (!ok || width < 16)
        return std::nullopt;
    return width;
}

void LibraryPanel::showConvertMenu() {
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (const ImageFormat format : ImageFormat::available())
        menu->addAction(format.title(), this, [this, format] { convertSelected(format); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("Resize\u2026"), this, &LibraryPanel::resizeSelected);
    QWidget* anchor = convertButton ? static_cast<QWidget*>(convertButton) : this;
    menu->popup(anchor->mapToGlobal(QPoint(0, anchor->height() + 4)));
}

void LibraryPanel::runBatch(const QString& verb, qsizetype total,
                            std::function<Finish(const std::function<void()>&)> work) {
    batch = Batch{verb, total, 0, {}};
    batch->sinceTold.start();
    QApplication::setOverrideCursor(Qt::BusyCursor);
    QPointer<LibraryPanel> self(this);
    Dispatch::global([self, work = std::move(work)] {
        const std::function<void()> step = [self] {
            Dispatch::main([self] {
                if (!self || !self->batch)
                    return;
                ++self->batch->done;
                if (self->batch->sinceTold.elapsed() >= 1000 && self->batch->done < self->batch->total)
                    self->tellProgress();
            });
        };
        Finish finish = work(step);
        Dispatch::main([self, finish = std::move(finish)] {
            QApplication::restoreOverrideCursor();
            if (!self)
                return;
            self->batch.reset();
            finish(*self);
        });
    });
}

void LibraryPanel::tellProgress() {
    toast(QStringLiteral("%1 %2 of %3\u2026")
              .arg(batch->verb)
              .arg(std::min(batch->done + 1, batch->total))
              .arg(batch->total));
    batch->sinceTold.restart();
}

bool LibraryPanel::stillConverting() {
    if (!batch)
        return false;
    tellProgress();
    return true;
}

void LibraryPanel::convertSelected(ImageFormat format) {
    if (stillConverting())
        return;
    const QStringList chosen = selectedURLs();
    if (chosen.isEmpty()) {
        toast(QStringLiteral("Select screenshots first"));
        return;
    }
    runBatch(QStringLiteral("Converting"), chosen.size(), [chosen, format](const std::function<void()>& step) {
        QStringList made;
        ImageConvert::Notes notes;
        for (const QString& file : chosen) {
            try {
                const ImageConvert::Replaced done = ImageConvert::convert(QUrl::fromLocalFile(file), format, 0.9);
                made.append(done.url.toLocalFile());
                notes.add(QUrl::fromLocalFile(file), done.trashFailure);
            } catch (const ConvertError&) {
                // A file that fails is skipped; the count says how many were written.
            } catch (const std::bad_alloc&) {
                // So is one too large for the memory left.
            }
            step();
        }
        return Finish([chosen, format, made, notes](LibraryPanel& panel) {
            panel.showMade(chosen, made);
            panel.toast(
                withNote(QString::number(made.size()) + QStringLiteral(" saved as ") + format.title(), notes.text()));
        });
    });
}

void LibraryPanel::resizeSelected() {
    if (stillConverting())
        return;
    const QStringList chosen = selectedURLs();
    if (chosen.isEmpty()) {
        toast(QStringLiteral("Select screenshots first"));
        return;
    }
    const QString title = QStringLiteral("Resize to max width (px)");
    const QString placeholder = QStringLiteral("e.g. 1600");
    const QString button = QStringLiteral("Resize");
    const std::optional<QString> answer =
        services.ask ? services.ask(title, placeholder, button) : NamePrompt::ask(title, placeholder, button);
    if (!answer)
        return;
    const std::optional<int> width = widthFromAnswer(*answer);
    // The prompt let events through: a batch may have started meanwhile.
    if (!width || stillConverting())
        return;
    runBatch(QStringLiteral("Resizing"), chosen.size(), [chosen, width = *width](const std::function<void()>& step) {
        QStringList made;
        ImageConvert::Notes notes;
        QString otherError;
        for (const QString& file : chosen) {
            try {
                const ImageConvert::Resized done = ImageConvert::resize(QUrl::fromLocalFile(file), width);
                made.append(done.url.toLocalFile());
                notes.add(QUrl::fromLocalFile(file), done.trashFailure);
            } catch (const ConvertError& error) {
                // Narrow enough already is no error; anything else is worth saying when nothing was written.
                if (otherError.isEmpty() && !error.message.startsWith(QStringLiteral("Already ")))
                    otherError = QFileInfo(file).fileName() + QStringLiteral(": ") + error.message;
            } catch (const std::bad_alloc&) {
                if (otherError.isEmpty())
                    otherError = outOfMemory(file);
            }
            step();
        }
        return Finish([chosen, width, made, notes, otherError](LibraryPanel& panel) {
            if (made.isEmpty()) {
                panel.toast(!otherError.isEmpty() ? otherError
                                                  : QStringLiteral("Already smaller than ") + QString::number(width) +
                                                        QStringLiteral(" px"));
                return;
            }
            panel.showMade(chosen, made);
            panel.toast(withNote(QString::number(made.size()) + QStringLiteral(" resized to ") +
                                     QString::number(width) + QStringLiteral(" px wide"),
                                 notes.text()));
        });
    });
}

void LibraryPanel::compressSelected() {
    if (stillConverting())
        return;
    const QStringList chosen = selectedURLs();
    if (chosen.isEmpty()) {
        toast(QStringLiteral("Select screenshots first"));
        return;
    }
    runBatch(QStringLiteral("Compressing"), chosen.size(), [chosen](const std::function<void()>& step) {
        QStringList made;
        ImageConvert::Notes notes;
        qint64 before = 0;
        qint64 after = 0;
        QString keptNote;
        int kept = 0;
        for (const QString& file : chosen) {
            QString why;
            try {
                const ImageConvert::Compressed done = ImageConvert::compress(QUrl::fromLocalFile(file));
                made.append(done.url.toLocalFile());
                before += done.bytesBefore;
                after += done.bytesAfter;
                notes.add(QUrl::fromLocalFile(file), done.trashFailure);
            } catch (const ConvertError& error) {
                why = QFileInfo(file).fileName() + QStringLiteral(": ") + error.message;
            } catch (const std::bad_alloc&) {
                why = outOfMemory(file);
            }
            // Kept files (transparent, or no smaller as a JPEG) and failures are told, the first by name.
            if (!why.isEmpty() && kept++ == 0)
                keptNote = why;
            step();
        }
        if (kept > 1)
            keptNote += QStringLiteral(" (%1 files kept)").arg(kept);
        return Finish([chosen, made, notes, before, after, keptNote](LibraryPanel& panel) {
            if (made.isEmpty()) {
                panel.toast(keptNote);
                return;
            }
            panel.showMade(chosen, made);
            panel.toast(withNote(withNote(ThumbnailView::byteCount(before) + QStringLiteral(" \u2192 ") +
                                              ThumbnailView::byteCount(after),
                                          notes.text()),
                                 keptNote));
        });
    });
}

void LibraryPanel::formatMenu(const QString& file, const QRect& tile) {
    const std::optional<ImageFormat> current = ImageFormat::of(QUrl::fromLocalFile(file));
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // Dark, like the tile it opens from.
    menu->setStyleSheet(QStringLiteral(
        "QMenu { background: #1e2021; color: white; border: 1px solid rgba(255,255,255,40); padding: 4px 0; }"
        "QMenu::item { padding: 4px 18px 4px 26px; } QMenu::item:selected { background: rgba(255,255,255,30); }"
        "QMenu::indicator { width: 12px; height: 12px; left: 8px; }"));
    for (const ImageFormat format : ImageFormat::available()) {
        QAction* item = menu->addAction(format.title(), this, [this, file, format] { convertOne(file, format); });
        item->setCheckable(true);
        item->setChecked(current && *current == format);
    }
    menu->popup(QPoint(tile.right() + 1 - 70, tile.bottom() + 1 - 8));
}

void LibraryPanel::convertOne(const QString& file, ImageFormat format) {
    const std::optional<ImageFormat> current = ImageFormat::of(QUrl::fromLocalFile(file));
    if ((current && *current == format) || stillConverting())
        return;
    runBatch(QStringLiteral("Converting"), 1, [file, format](const std::function<void()>& step) {
        ImageConvert::Replaced done;
        QString failure;
        try {
            done = ImageConvert::convert(QUrl::fromLocalFile(file), format, 0.9);
        } catch (const ConvertError& error) {
            failure = error.message;
        } catch (const std::bad_alloc&) {
            failure = outOfMemory(file);
        }
        step();
        return Finish([file, format, done, failure](LibraryPanel& panel) {
            if (!failure.isEmpty()) {
                panel.toast(failure);
                return;
            }
            const QString made = done.url.toLocalFile();
            dropGone(*panel.files, {file});
            panel.files->thumbCache.remove(file);
            panel.files->thumbCache.remove(made);
            panel.insertNew({made});
            panel.reload();
            panel.toast(withNote(format.title(), done.trashFailure));
        });
    });
}
