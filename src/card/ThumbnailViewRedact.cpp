// Redaction on the card: the redact tool, the enlarged card and the review of the painted boxes.

#include "card/ThumbnailView.h"

#include "card/PDFSession.h"
#include "card/RedactReview.h"
#include "editors/EditorWindow.h"
#include "imaging/ImageConvert.h"
#include "imaging/ShotFiles.h"
#include "imaging/UserError.h"
#include "platform/Dispatch.h"
#include "text/Redaction.h"
#include "text/TextVision.h"
#include "ui/Divider.h"
#include "ui/GhostButton.h"
#include "ui/Pill.h"
#include "ui/Toast.h"
#include "ui/UI.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QScreen>

namespace {

using Hold = CardLifetime::Hold;

// A picture as the card shows it: its pixels at one point each.
QImage inPoints(QImage image) {
    image.setDevicePixelRatio(1.0);
    return image;
}

// Where a page's own text holds one of the secrets, or what the redaction's patterns find in it (added to
// `secrets`): ranges of the text, (start, length).
std::vector<std::pair<int, int>> secretRanges(const QString& text, QStringList* secrets) {
    for (const QRegularExpression& pattern : TextVision::sensitivePatterns())
        for (auto matches = pattern.globalMatch(text); matches.hasNext();)
            if (const QString match = matches.next().captured(0); !match.isEmpty() && !secrets->contains(match))
                secrets->append(match);
    // As many as one argument of the decoding child holds; a page of more is a page of nothing else.
    constexpr size_t mostRanges = 4000;
    std::vector<std::pair<int, int>> ranges;
    for (const QString& secret : *secrets)
        for (qsizetype at = secret.isEmpty() ? -1 : text.indexOf(secret); at >= 0 && ranges.size() < mostRanges;
             at = text.indexOf(secret, at + secret.size()))
            ranges.emplace_back(int(at), int(secret.size()));
    return ranges;
}

// The secrets a page's own text holds, as boxes normalised on a picture of `size` (origin lower left), those a
// box of `covered` already holds left out. Text drawn in white, or too small to read, shows in no picture and is
// read from the file all the same. `unseen` counts the secrets drawn where the picture doesn't reach (off the page
// or outside its visible part): nothing to paint, but the page's drawing still holds them and has to go. `unsure`
// is set when secrets the text holds could not be placed on the picture at all, or some of the text could not be
// read. Throws ConvertError when the page can't be drawn again.
std::vector<QRectF> textSecretBoxes(const QUrl& pdf, int page, const QString& text, QStringList* secrets, QSize size,
                                    const std::vector<QRectF>& covered, int* unseen, bool* unsure) {
    *unseen = 0;
    // A glyph whose letter the file doesn't say: what it draws can't be searched.
    if (text.contains(QChar(0xFFFD)))
        *unsure = true;
    const qsizetype knownBefore = secrets->size();
    const std::vector<std::pair<int, int>> ranges = secretRanges(text, secrets);
    if (ranges.empty() || size.isEmpty())
        return {};
    QSize pixels;
    QString failure;
    const std::vector<QRectF> boxes = PDFSession::textBoxes(pdf, page, ranges, &pixels, &failure);
    if (pixels.isEmpty())
        throw ConvertError(QStringLiteral("Can't scan page ") + QString::number(page + 1) + QStringLiteral(": ") +
                           failure);
    std::vector<QRectF> out;
    const double W = pixels.width(), H = pixels.height();
    size_t onPicture = 0;
    for (const QRectF& box : boxes) {
        // A little round the letters, by the line's own size: it runs across or, on a turned page, up or down.
        const double pad = std::max(1.0, std::min(box.width(), box.height()) * 0.15);
        const QRectF r = box.adjusted(-pad, -pad, pad, pad).intersected(QRectF(0, 0, W, H));
        if (r.isEmpty())
            continue;
        ++onPicture;
        const QRectF normal(r.x() / W, 1 - r.bottom() / H, r.width() / W, r.height() / H);
        const double area = normal.width() * normal.height();
        // Covered already when the reading's boxes hold most of it, one box or several (a number read in groups).
        double held = 0;
        for (const QRectF& c : covered) {
            const QRectF common = c.intersected(normal);
            held += common.width() * common.height();
        }
        if (held < 0.8 * area)
            out.push_back(normal);
    }
    // Boxes of a picture of another shape (cut since) would land elsewhere: none is painted. The page's drawing
    // still holds every secret, so it goes as one drawn off the picture does, and whether the picture still
    // shows one is more than can be told.
    if (std::abs(W / H - double(size.width()) / size.height()) > 0.01) {
        // Those the picture's reading found are counted there already.
        const QStringList fresh = secrets->mid(knownBefore);
        *unseen = int(std::count_if(ranges.begin(), ranges.end(), [&](const std::pair<int, int>& r) {
            return fresh.contains(text.mid(r.first, r.second));
        }));
        *unsure = true;
        return {};
    }
    *unseen = int(ranges.size() > onPicture ? ranges.size() - onPicture : 0);
    return out;
}

struct PagesDone {
    int pages = 0;
    int items = 0;
    bool unsure = false; // a page still reads as holding a secret after its covering
};

// Puts the shown page's covered picture (when it showed a secret) into the session's document, scans every
// other page, each drawn by the decoding child, and replaces those with findings, then takes every secret found
// on a page or in the document's own words out of all of those words; the file is written once, at the end, so
// that it holds every covered page when the run reports. `others` is false for a one-page document. A page that
// cannot be drawn fails the run: it could not be searched, and a count that left it out would claim more than
// was done.
PagesDone redactDocument(PDFSession& session, int shown, const TextVision::CheckedRedaction& shownRead, int shownUnseen,
                         bool others, const QStringList& documentSecrets) {
    PagesDone done;
    const QImage* shownCovered = shownRead.boxes.empty() && shownUnseen == 0 ? nullptr : &shownRead.image;
    QStringList secrets = shownRead.secrets;
    // What the pages read, blanks left out, for telling a secret only the document's own words hold.
    const auto plain = [](QString text) {
        return text.remove(QRegularExpression(QStringLiteral("\\s"))).toCaseFolded();
    };
    QString read = plain(shownRead.text);
    try {
        if (shownCovered)
            session.replacePage(shown, *shownCovered, session.pixelsPerPoint, true);
        for (int i = 0; others && i < session.pageCount(); ++i) {
            if (i == shown)
                continue;
            const PDFSession::Bitmap page = PDFSession::renderBitmap(session.pdfURL, i);
            if (page.image.isNull())
                throw ConvertError(QStringLiteral("Can't scan page ") + QString::number(i + 1) + QStringLiteral(": ") +
                                   page.failure);
            TextVision::CheckedRedaction redaction = TextVision::redactChecked(page.image, page.turn);
            QStringList known = secrets + documentSecrets;
            for (const QString& secret : redaction.secrets)
                if (!known.contains(secret))
                    known.append(secret);
            const qsizetype before = known.size();
            int unseen = 0;
            bool textUnsure = false;
            const std::vector<QRectF> drawn = textSecretBoxes(session.pdfURL, i, page.text, &known, page.image.size(),
                                                              redaction.boxes, &unseen, &textUnsure);
            // Said also of a page with nothing found: it may hold what could not be read.
            done.unsure = done.unsure || textUnsure;
            redaction.secrets += known.mid(before);
            if (!drawn.empty()) {
                redaction.image = TextVision::paint(redaction.image, drawn);
                redaction.boxes.insert(redaction.boxes.end(), drawn.begin(), drawn.end());
            }
            read += plain(redaction.text) + plain(page.text);
            if (redaction.boxes.empty() && unseen == 0)
                continue;
            session.replacePage(i, redaction.image, page.pixelsPerPoint, true);
            done.items += int(redaction.boxes.size()) + unseen;
            done.unsure = done.unsure || redaction.unsure;
            ++done.pages;
            for (const QString& secret : redaction.secrets)
                if (!secrets.contains(secret))
                    secrets.append(secret);
        }
        // A secret only the document's details, notes, fields or outline hold is an item of its own.
        for (const QString& secret : documentSecrets) {
            if (secrets.contains(secret))
                continue;
            secrets.append(secret);
            if (!read.contains(plain(secret)))
                ++done.items;
        }
        if (shownCovered || done.pages > 0 || !secrets.isEmpty())
            session.write(secrets);
    } catch (...) {
        session.discardEdits();
        throw;
    }
    return done;
}

} // namespace

bool ThumbnailView::reviewActive() const {
    return large && review && review->rs;
}

void ThumbnailView::redact() {
    closeEditor();
    engage();
    redactTouched = true;
    const Shot base = current;
    const std::optional<RedactMarks::State> record = RedactMarks::find(base.fileURL);
    const QUrl source = record ? record->original : base.fileURL;
    const std::shared_ptr<PDFSession> session = pdf;
    const int shownPage = pdf ? pdf->index : 0;
    const int pageCount = pdf ? pdf->pageCount() : 0;
    const int shownTurn = pdf ? pdf->pageTurn : 0;
    // The record is stored on the main thread, once the card has taken the new file.
    auto made = std::make_shared<std::optional<std::pair<QString, RedactMarks::State>>>();
    QPointer<ThumbnailView> self(this);
    run(
        QStringLiteral("Scanning"),
        [base, record, source, session, shownPage, pageCount, shownTurn, made] {
            const QImage picture = ImageConvert::load(source);
            TextVision::CheckedRedaction redaction = TextVision::redactChecked(picture, shownTurn);
            // The shown page's own text too: what it draws in white or too small to read is in the file.
            // An attached PDF read only in part may still hold what its pages show.
            bool attachedUnread = false, textUnsure = false;
            const QStringList documentSecrets = session ? session->documentSecrets(&attachedUnread) : QStringList();
            int unseen = 0;
            if (session) {
                const PDFSession::Bitmap page = PDFSession::renderBitmap(session->pdfURL, shownPage);
                QStringList known = redaction.secrets + documentSecrets;
                const qsizetype before = known.size();
                const std::vector<QRectF> drawn =
                    textSecretBoxes(session->pdfURL, shownPage, page.text, &known, picture.size(), redaction.boxes,
                                    &unseen, &textUnsure);
                redaction.unsure = redaction.unsure || textUnsure;
                redaction.secrets += known.mid(before);
                redaction.boxes.insert(redaction.boxes.end(), drawn.begin(), drawn.end());
                redaction.text += page.text;
            }
            const std::vector<QRectF>& found = redaction.boxes;
            std::vector<QRectF> all = record ? record->boxes : std::vector<QRectF>();
            all.insert(all.end(), found.begin(), found.end());
            const int n = int(found.size());
            const QImage result = n == 0 ? picture : TextVision::paint(picture, all);
            // The PDF goes first: when it cannot be written the run fails before any file is made. When the run
            // reports, the document holds the covered page shown here too, not only once the card leaves it.
            const PagesDone pages =
                session ? redactDocument(*session, shownPage,
                                         {result, found, redaction.unsure, redaction.secrets, redaction.text}, unseen,
                                         pageCount >= 2, documentSecrets)
                        : PagesDone{};
            const int total = n + unseen + pages.items;
            const QString unsure = QStringLiteral(" \u00b7 some text may still be readable");
            if (total == 0)
                return std::pair<Shot, QString>(
                    base, QStringLiteral("Nothing sensitive found") +
                              (attachedUnread || textUnsure || pages.unsure ? unsure : QString()));
            QString message = QString::number(total) +
                              (total == 1 ? QStringLiteral(" item") : QStringLiteral(" items")) +
                              QStringLiteral(" redacted");
            // Found only in the document's own words, no page was covered.
            if (const int covered = pages.pages + (n + unseen > 0 ? 1 : 0); pageCount >= 2 && covered > 0)
                message += QStringLiteral(" on ") + QString::number(covered) + QStringLiteral(" of ") +
                           QString::number(pageCount) + QStringLiteral(" pages");
            // Covered as far as the reading can tell, but something still reads as a secret: no plain success.
            if (redaction.unsure || pages.unsure || attachedUnread)
                message += unsure;
            message += QStringLiteral(" \u00b7 double-click the picture to review");
            if (n == 0)
                return std::pair<Shot, QString>(base, message);
            const QUrl written = ShotFiles::savePNG(result, base.fileURL, QStringLiteral("redacted"));
            *made = std::pair<QString, RedactMarks::State>(written.toLocalFile(), RedactMarks::State{source, all});
            return std::pair<Shot, QString>(Shot{written, inPoints(result), base.appName, base.window}, message);
        },
        [self, session, made] {
            if (session)
                session->reload();
            if (*made)
                RedactMarks::store().insert((*made)->first, (*made)->second);
            if (self)
                self->syncRedact();
        });
}

void ThumbnailView::toggleLarge() {
    if (currentEditor || pillOnly || !parentWidget())
        return;
    QWidget* card = window();
    engage();
    if (!large)
        smallCenter = QRectF(card->frameGeometry()).center();
    large = !large;
    QRectF visible(0, 0, 1440, 900);
    if (const QScreen* screen = card->screen() ? card->screen() : QGuiApplication::primaryScreen())
        visible = QRectF(screen->availableGeometry());
    imageBox = large ? QSizeF(visible.width() * 0.8, visible.height() - (pillHeight + 44 + 14) - 120) : normalBox;
    layout(false);
    placeSubviews();
    const QSizeF size(card->size());
    if (large) {
        card->move((visible.center() - QPointF(size.width() / 2, size.height() / 2)).toPoint());
    } else if (smallCenter) {
        const QPointF topLeft = *smallCenter - QPointF(size.width() / 2, size.height() / 2);
        card->move(CardGeometry::clampInto(topLeft, size, visible).toPoint());
    }
    if (!review)
        review = std::make_unique<RedactReview>();
    review->selMark.reset();
    setDrawMode(false);
    syncRedact();
    hold(Hold::Review, large);
    update();
}

void ThumbnailView::syncRedact() {
    if (!review)
        review = std::make_unique<RedactReview>();
    std::optional<RedactMarks::State> rs = RedactMarks::find(current.fileURL);
    if (!rs && redactTouched)
        rs = RedactMarks::State{current.fileURL, {}};
    review->rs = rs;
    if (!rs) {
        rsImage = QImage();
        rsURL = QUrl();
    } else if (rsImage.isNull() || rsURL != rs->original) {
        try {
            rsImage = ImageConvert::load(rs->original);
        } catch (const UserError&) {
            rsImage = QImage();
        }
        rsURL = rs->original;
    }
    review->validateSelection();
    updateRedactBar();
}

void ThumbnailView::setDrawMode(bool on) {
    if (!review)
        return;
    review->setDrawMode(on);
    if (addBoxButton) {
        addBoxButton->setActive(on);
        addBoxButton->setContentTintColor(on ? UI::accent() : QColor(Qt::white));
    }
    updateRedactBar();
    update();
}

void ThumbnailView::buildRedactBar() {
    if (redactBar)
        return;
    redactBar = new Pill(QRect(0, 0, 300, 34), this);
    const auto button = [this](const QString& label, const QString& symbol, void (ThumbnailView::*action)()) {
        auto* b = new GhostButton(label, symbol, QString(), QSizeF(30, 28), 13, barStack);
        connect(b, &QAbstractButton::clicked, this, action);
        return b;
    };
    barStack = new QWidget(redactBar);
    auto* row = new QHBoxLayout(barStack);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->setSizeConstraint(QLayout::SetFixedSize);
    addBoxButton = button(QStringLiteral("Add box"), QStringLiteral("plus.rectangle"), &ThumbnailView::addBoxTapped);
    deleteBoxButton = button(QStringLiteral("Delete box"), QStringLiteral("trash"), &ThumbnailView::deleteBoxTapped);
    GhostButton* shrink = button(QStringLiteral("Back to small"), QStringLiteral("arrow.down.right.and.arrow.up.left"),
                                 &ThumbnailView::toggleLarge);
    barLabel = new QLabel(barStack);
    barLabel->setFont(UI::font(12, QFont::Medium));
    barLabel->setTextFormat(Qt::PlainText);
    QPalette colours = barLabel->palette();
    colours.setColor(QPalette::WindowText, QColor(255, 255, 255, qRound(0.75 * 255)));
    barLabel->setPalette(colours);
    row->addWidget(addBoxButton);
    row->addWidget(deleteBoxButton);
    row->addWidget(new Divider(16, false, barStack), 0, Qt::AlignVCenter);
    row->addWidget(barLabel);
    row->addWidget(new Divider(16, false, barStack), 0, Qt::AlignVCenter);
    row->addWidget(shrink);
}

void ThumbnailView::updateRedactBar() {
    if (review)
        review->imageRect = cardGeometry.imageRect;
    const bool show = reviewActive() && !pillOnly;
    if (onDeleteKeys)
        onDeleteKeys(show && review->selMark.has_value());
    if (show)
        buildRedactBar();
    if (!redactBar)
        return;
    redactBar->setVisible(show);
    if (!show)
        return;
    barLabel->setText(review->barText());
    deleteBoxButton->setEnabled(review->selMark.has_value());
    barStack->adjustSize();
    const QSize row = barStack->sizeHint();
    const int w = row.width() + 24;
    const QRectF image = cardGeometry.imageRect;
    redactBar->setGeometry(qRound(image.center().x() - w / 2.0), qRound(image.top() + 12), w, 34);
    barStack->setGeometry((w - row.width()) / 2, (34 - row.height()) / 2, row.width(), row.height());
    redactBar->raise();
}

void ThumbnailView::addBoxTapped() {
    engage();
    setDrawMode(!(review && review->drawMode()));
}

void ThumbnailView::deleteBoxTapped() {
    engage();
    deleteSelected();
}

void ThumbnailView::deleteSelected() {
    if (!reviewActive() || !review->deleteSelected())
        return;
    updateRedactBar();
    update();
    commitBoxes();
}

bool ThumbnailView::redactMouseDown(QPointF p) {
    if (!reviewActive())
        return false;
    review->imageRect = cardGeometry.imageRect;
    const bool hadSelection = review->selMark.has_value();
    const bool taken = review->press(p);
    if (taken || hadSelection) {
        updateRedactBar();
        update();
    }
    return taken;
}

bool ThumbnailView::redactDragging() const {
    return review && review->dragKind != RedactReview::Drag::None;
}

void ThumbnailView::redactDragged(QPointF p) {
    review->drag(p);
    update();
}

void ThumbnailView::redactMouseUp() {
    const bool creating = review->dragKind == RedactReview::Drag::Create;
    const bool commit = review->release();
    if (creating && commit)
        setDrawMode(false);
    updateRedactBar();
    update();
    if (commit)
        commitBoxes();
}

bool ThumbnailView::escapeReview() {
    if (review && review->drawMode()) {
        setDrawMode(false);
        return true;
    }
    if (review && review->selMark) {
        review->selMark.reset();
        updateRedactBar();
        update();
        return true;
    }
    if (large) {
        toggleLarge();
        return true;
    }
    return false;
}

void ThumbnailView::commitBoxes() {
    if (!review || !review->rs)
        return;
    RedactMarks::State state = *review->rs;
    const Shot base = current;
    const std::optional<RedactMarks::State> stored = RedactMarks::find(base.fileURL);
    const bool existing = stored.has_value();
    // The unredacted file may have been renamed since the review opened.
    if (stored)
        state.original = review->rs->original = stored->original;
    review->committing = true;
    QPointer<ThumbnailView> self(this);
    const auto finish = [self](std::function<void(ThumbnailView&)> then) {
        Dispatch::main([self, then] {
            if (!self)
                return;
            self->review->committing = false;
            then(*self);
            self->update();
        });
    };
    Dispatch::global([state, base, existing, finish] {
        try {
            const QImage original = ImageConvert::load(state.original);
            if (state.boxes.empty()) {
                finish([state, base, existing, original](ThumbnailView& view) {
                    RedactMarks::store().remove(base.fileURL.toLocalFile());
                    if (existing)
                        view.apply(Shot{state.original, inPoints(original), view.current.appName, view.current.window});
                    view.syncRedact();
                });
                return;
            }
            const QImage painted = TextVision::paint(original, state.boxes);
            const QUrl target = existing ? ShotFiles::write(painted, base.fileURL)
                                         : ShotFiles::savePNG(painted, base.fileURL, QStringLiteral("redacted"));
            finish([state, target, painted](ThumbnailView& view) {
                RedactMarks::State kept = view.review->rs ? *view.review->rs : state;
                RedactMarks::store().insert(target.toLocalFile(), kept);
                view.apply(Shot{target, inPoints(painted), view.current.appName, view.current.window});
            });
        } catch (const std::exception& error) {
            const QString message = QString::fromUtf8(error.what());
            finish([message](ThumbnailView& view) { Toast::show(message, view.anchorPoint(), 3.0); });
        }
    });
}

bool ThumbnailView::paintReview(QPainter& painter) {
    if (!reviewActive() || rsImage.isNull())
        return false;
    review->imageRect = cardGeometry.imageRect;
    const QRectF image = cardGeometry.imageRect;
    painter.drawImage(image, rsImage);
    const QColor block = QColor::fromRgbF(0.08f, 0.08f, 0.08f);
    for (const QRectF& box : review->rs->boxes)
        painter.fillRect(review->markRect(box), block);
    if (review->newRect)
        painter.fillRect(*review->newRect, block);
    return true;
}

void ThumbnailView::drawRedactEdit(QPainter& painter) {
    if (!reviewActive())
        return;
    review->imageRect = cardGeometry.imageRect;
    painter.save();
    QPainterPath clip;
    clip.addRoundedRect(cardGeometry.imageRect, 10, 10);
    painter.setClipPath(clip);
    if (review->newRect) {
        painter.setPen(QPen(Qt::white, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(review->newRect->adjusted(0.5, 0.5, -0.5, -0.5));
    }
    painter.restore();
    if (!review->selMark || *review->selMark >= int(review->rs->boxes.size()))
        return;
    const QRectF r = review->markRect(review->rs->boxes[size_t(*review->selMark)]);
    painter.save();
    painter.setPen(QPen(Qt::white, 1.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(r.adjusted(-0.5, -0.5, 0.5, 0.5));
    for (int h = 0; h < 8; ++h) {
        const QPointF c = RedactReview::handleCentre(r, h);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        painter.drawEllipse(c, 4.5, 4.5);
        painter.setPen(QPen(QColor::fromRgbF(0.1f, 0.1f, 0.1f), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(c, 4, 4);
    }
    painter.restore();
}
