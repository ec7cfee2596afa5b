#include "card/ThumbnailView.h"

#include "card/CardRunner.h"
#include "card/PDFSession.h"
#include "card/PageBar.h"
#include "card/RedactReview.h"
#include "card/ToolbarPrefs.h"
#include "editors/EditorWindow.h"
#include "imaging/ImageFormat.h"
#include "imaging/ShotFiles.h"
#include "imaging/UserError.h"
#include "platform/Defaults.h"
#include "platform/Dispatch.h"
#include "platform/Notifications.h"
#include "ui/Brand.h"
#include "ui/Divider.h"
#include "ui/FormatBadge.h"
#include "ui/GhostButton.h"
#include "ui/Pill.h"
#include "ui/Prefs.h"
#include "ui/Symbols.h"
#include "ui/Toast.h"
#include "ui/UI.h"

#include <QAbstractButton>
#include <QCursor>
#include <QDrag>
#include <QFileInfo>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QScreen>

#include <cmath>
#include <utility>
#include <vector>

namespace {

using Hold = CardLifetime::Hold;

constexpr double dragThreshold = 4.0;
constexpr int hoverFadeMs = 120;
// The picture's shadow is a blurred copy of its outline; this much room is kept around it for the blur.
constexpr int shadowPad = 24;

QRect whole(const QRectF& r) {
    return QRect(qRound(r.x()), qRound(r.y()), qRound(r.width()), qRound(r.height()));
}

QRegion roundedRegion(const QRectF& r, double radius) {
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    return QRegion(path.toFillPolygon().toPolygon());
}

// Three box blurs in a row come close to a Gaussian; only the alpha channel carries the shadow.
void blurAlpha(std::vector<float>& alpha, int w, int h, int radius) {
    std::vector<float> line(std::max(w, h));
    const auto pass = [&](bool rows) {
        const int count = rows ? h : w, length = rows ? w : h;
        for (int i = 0; i < count; ++i) {
            const auto at = [&](int k) -> float& { return rows ? alpha[size_t(i) * w + k] : alpha[size_t(k) * w + i]; };
            double sum = 0;
            for (int k = -radius; k <= radius; ++k)
                sum += (k >= 0 && k < length) ? at(k) : 0;
            for (int k = 0; k < length; ++k) {
                line[k] = float(sum / (2 * radius + 1));
                const int out = k - radius, in = k + radius + 1;
                sum += (in < length ? at(in) : 0) - (out >= 0 ? at(out) : 0);
            }
            for (int k = 0; k < length; ++k)
                at(k) = line[k];
        }
    };
    for (int n = 0; n < 3; ++n) {
        pass(true);
        pass(false);
    }
}

// The round close button on the picture's corner: a dark glass dot with a white cross.
class CloseDot final : public QAbstractButton {
public:
    explicit CloseDot(QWidget* parent) : QAbstractButton(parent) {
        setFocusPolicy(Qt::NoFocus);
        setCursor(Qt::ArrowCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setBrush(QColor(0, 0, 0, qRound(0.55 * 255)));
        painter.setPen(QPen(QColor(255, 255, 255, qRound(0.28 * 255)), 1));
        painter.drawEllipse(r);
        const QImage cross = Symbols::image(QStringLiteral("xmark"), 9, Qt::white, devicePixelRatioF());
        if (!cross.isNull()) {
            const QSizeF size = cross.deviceIndependentSize();
            painter.drawImage(
                QPointF(std::round((width() - size.width()) / 2), std::round((height() - size.height()) / 2)), cross);
        }
    }
};

} // namespace

QSizeF ThumbnailView::maxImage(const Defaults& defaults) {
    return CardGeometry::maxImage(defaults.doubleValue(QStringLiteral("picto.sizeScale")));
}

ThumbnailView::ThumbnailView(const Shot& shot, std::optional<QSizeF> box, Defaults& store, QWidget* parent)
    : QWidget(parent), defaults(store), current(shot) {
    barScale = Prefs::barScale(defaults);
    sizeScale = defaults.doubleValue(QStringLiteral("picto.sizeScale"));
    pillHeight = CardGeometry::pillHeight(barScale);
    imageBox = normalBox = box.value_or(maxImage(defaults));
    setFocusPolicy(Qt::ClickFocus);
    setAttribute(Qt::WA_Hover);
    // Asked once: the answer costs a connection to the display, and the shape is updated on every hover.
    composited = UI::composited();

    // Hooks hold the view weakly: a completion that arrives after the card went only tells the basket.
    QPointer<ThumbnailView> self(this);
    CardRunner::Hooks hooks;
    hooks.anchor = [self] { return self ? self->anchorPoint() : QCursor::pos(); };
    hooks.hold = [self](bool on) {
        if (!self)
            return;
        self->hold(Hold::Runner, on);
        if (!on)
            emit self->settled();
    };
    hooks.apply = [self](const Shot& next) {
        if (self)
            self->apply(next);
        else
            Notifications::defaultCenter().post(ShotFiles::changed());
    };
    hooks.toast = [](const QString& text, QPoint at, double seconds) { Toast::show(text, at, seconds); };
    runner = std::make_unique<CardRunner>(std::move(hooks));

    layout(true);

    pill = new Pill(QRect(), this);
    buildPill();

    badge = new FormatBadge(this);
    badge->setText(badgeText());

    hoverPill = new Pill(QRect(), this);
    hoverPill->setAttribute(Qt::WA_TransparentForMouseEvents);
    hoverLabel = new QLabel(hoverPill);
    hoverLabel->setFont(UI::font(11, QFont::Medium));
    hoverLabel->setAlignment(Qt::AlignCenter);
    hoverLabel->setTextFormat(Qt::PlainText);
    QPalette labelColours = hoverLabel->palette();
    labelColours.setColor(QPalette::WindowText, QColor(255, 255, 255, qRound(0.92 * 255)));
    hoverLabel->setPalette(labelColours);
    hoverFade = new QGraphicsOpacityEffect(hoverPill);
    hoverFade->setOpacity(0);
    hoverPill->setGraphicsEffect(hoverFade);

    closeButton = new CloseDot(this);
    closeButton->hide();
    connect(closeButton, &QAbstractButton::clicked, this, &ThumbnailView::closeTapped);

    placeSubviews();
    installEditors();
}

ThumbnailView::~ThumbnailView() {
    // An editor of a card that is gone could hand its result to nobody.
    closeEditors();
}

QString ThumbnailView::formatName() const {
    if (const std::optional<ImageFormat> format = ImageFormat::of(current.fileURL))
        return format->title();
    return QFileInfo(current.fileURL.fileName()).suffix().toUpper();
}

QString ThumbnailView::badgeText() const {
    return pdf ? ImageFormat(ImageFormat::pdf).title() : formatName();
}

GhostButton* ThumbnailView::tool(const QString& id, const QString& symbol, const QString& title) {
    auto* button = new GhostButton(title, symbol, QString(), QSizeF(30, 28), 13, this);
    QPointer<ThumbnailView> self(this);
    QPointer<GhostButton> weakButton(button);
    button->onHoverChange = [self, weakButton](bool inside) {
        if (!self || !weakButton)
            return;
        self->setHoverLabel(inside ? std::optional<QString>(weakButton->label) : std::nullopt);
    };
    connect(button, &QAbstractButton::clicked, this,
            [this, id] { id == QLatin1String("redact") ? redact() : triggerTool(id); });
    tools.insert(id, button);
    return button;
}

void ThumbnailView::buildPill() {
    const QSet<QString> hidden = ToolbarPrefs::hidden(defaults);
    QList<GhostButton*> mainGroup, trailingGroup;
    for (const QString& id : ToolbarPrefs::order(defaults)) {
        const std::optional<ToolbarPrefs::Entry> entry = ToolbarPrefs::entry(id);
        if (!entry)
            continue;
        GhostButton* button = tool(id, entry->symbol, entry->title);
        if (id == QLatin1String("compress"))
            compressButton = button;
        if (hidden.contains(id)) {
            button->hide();
            continue;
        }
        const bool trailing =
            id == QLatin1String("compress") || id == QLatin1String("library") || id == QLatin1String("share");
        (trailing ? trailingGroup : mainGroup).append(button);
    }
    // Compressing marks its button; the button exists even when the tool is left out of the pill.
    if (!compressButton) {
        compressButton = tool(QStringLiteral("compress"), QStringLiteral("arrow.down.right.and.arrow.up.left"),
                              QStringLiteral("Compress"));
        compressButton->hide();
    }

    formatButton = new GhostButton(QStringLiteral("Convert"), QString(), formatName() + QStringLiteral(" \u25BE"),
                                   QSizeF(64, 28), 0, this);
    QPointer<ThumbnailView> self(this);
    formatButton->onHoverChange = [self](bool inside) {
        if (self)
            self->setHoverLabel(inside ? std::optional<QString>(QStringLiteral("Convert")) : std::nullopt);
    };
    connect(formatButton, &QAbstractButton::clicked, this, &ThumbnailView::showFormats);

    pillStack = new QWidget(pill);
    auto* row = new QHBoxLayout(pillStack);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    row->setSizeConstraint(QLayout::SetFixedSize);
    for (GhostButton* button : mainGroup)
        row->addWidget(button);
    if (!mainGroup.isEmpty())
        row->addWidget(new Divider(16, false, pillStack), 0, Qt::AlignVCenter);
    row->addWidget(formatButton);
    if (!trailingGroup.isEmpty())
        row->addWidget(new Divider(16, false, pillStack), 0, Qt::AlignVCenter);
    for (GhostButton* button : trailingGroup)
        row->addWidget(button);
    pillStack->adjustSize();
}

QStringList ThumbnailView::rowOrder() const {
    QStringList ids;
    QLayout* row = pillStack ? pillStack->layout() : nullptr;
    for (int i = 0; row && i < row->count(); ++i) {
        QWidget* widget = row->itemAt(i)->widget();
        if (widget == formatButton)
            ids.append(QStringLiteral("format"));
        else if (qobject_cast<Divider*>(widget))
            ids.append(QStringLiteral("|"));
        else if (auto* button = qobject_cast<GhostButton*>(widget))
            ids.append(tools.key(button));
    }
    return ids;
}

void ThumbnailView::layout(bool initial) {
    CardGeometry::Input in;
    in.picture = current.image.deviceIndependentSize();
    in.imageBox = imageBox;
    in.barScale = barScale;
    in.sizeScale = sizeScale;
    in.large = large;
    in.pillOnly = pillOnly;
    in.side = !sideView.isNull();
    if (pillStack)
        in.rowWidth = pillStack->sizeHint().width();
    cardGeometry = CardGeometry::layout(in);
    pictureCache = QImage();
    const QSize size = CardGeometry::windowSize(cardGeometry);
    QWidget* card = parentWidget() ? window() : nullptr;
    if (initial || !card) {
        resize(size);
        return;
    }
    // Grows and shrinks downwards and rightwards: the top-left corner stays.
    const QPoint topLeft = card->pos();
    card->resize(size);
    card->move(topLeft);
    resize(size);
}

void ThumbnailView::placeSubviews() {
    const double pillWidth =
        CardGeometry::pillWidth(pillStack ? std::optional<double>(pillStack->sizeHint().width()) : std::nullopt);
    cardGeometry.pill =
        QRectF((width() - pillWidth) / 2, height() - CardGeometry::margin - pillHeight, pillWidth, pillHeight);
    pill->setGeometry(whole(cardGeometry.pill));
    if (pillStack) {
        const QSize row = pillStack->sizeHint();
        pillStack->setGeometry((pill->width() - row.width()) / 2, (pill->height() - row.height()) / 2, row.width(),
                               row.height());
    }

    hoverLabel->adjustSize();
    const QRectF hover = CardGeometry::hoverPill(cardGeometry, hoverLabel->sizeHint().width());
    hoverPill->setGeometry(whole(hover));
    hoverLabel->setGeometry(whole(CardGeometry::hoverLabel(hover, hoverLabel->sizeHint().height())));

    updateRedactBar();
    closeButton->setGeometry(whole(CardGeometry::closeButton(cardGeometry)));
    closeButton->setVisible(hovering && !pillOnly);

    badge->setGeometry(whole(CardGeometry::badge(cardGeometry, badge->label->sizeHint().width())));
    badge->setVisible(!pillOnly && !badge->text().isEmpty());

    if (pageBar) {
        pageBar->setGeometry(whole(CardGeometry::pageBar(cardGeometry)));
        pageBar->setVisible(!pillOnly);
    }

    if (sideView) {
        sideView->setGeometry(whole(cardGeometry.sideRect));
        sideView->setVisible(!pillOnly);
    }

    updateMask();
    update();
}

void ThumbnailView::updateMask() {
    QWidget* card = window();
    if (composited) {
        card->clearMask();
        return;
    }
    // Without a compositor clear pixels show black: the window is cut to what is drawn.
    QRegion region = roundedRegion(cardGeometry.pill, std::min(cardGeometry.pill.height() / 2, 18.0));
    if (!pillOnly) {
        region += roundedRegion(cardGeometry.imageRect, CardGeometry::cornerRadius);
        if (badge->isVisibleTo(this))
            region += badge->geometry();
        if (closeButton->isVisibleTo(this))
            region += QRegion(closeButton->geometry(), QRegion::Ellipse);
        if (pageBar && pageBar->isVisibleTo(this))
            region += roundedRegion(QRectF(pageBar->geometry()), 8);
        if (sideView && sideView->isVisibleTo(this))
            region += roundedRegion(QRectF(sideView->geometry()), 18);
    }
    if (hoverWanted || hoverFade->opacity() > 0)
        region += roundedRegion(QRectF(hoverPill->geometry()), CardGeometry::hoverPillHeight / 2);
    card->setMask(card == this ? region : region.translated(mapTo(card, QPoint())));
}

void ThumbnailView::setHoverLabel(const std::optional<QString>& text) {
    hoverWanted = text.has_value();
    if (text) {
        hoverLabel->setText(*text);
        placeSubviews();
    }
    if (hoverAnimation)
        hoverAnimation->stop();
    auto* fade = new QPropertyAnimation(hoverFade, "opacity", this);
    fade->setDuration(hoverFadeMs);
    fade->setStartValue(hoverFade->opacity());
    fade->setEndValue(text ? 1.0 : 0.0);
    // The mask follows the label only without a compositor; it must cover the pill while it shows.
    connect(fade, &QPropertyAnimation::finished, this, [this] { updateMask(); });
    hoverAnimation = fade;
    fade->start(QAbstractAnimation::DeleteWhenStopped);
    updateMask();
}

const QImage& ThumbnailView::shownPicture() {
    const double ratio = devicePixelRatioF();
    const QSize pixels(qMax(1, qRound(cardGeometry.imageRect.width() * ratio)),
                       qMax(1, qRound(cardGeometry.imageRect.height() * ratio)));
    if (pictureCache.size() == pixels || current.image.isNull())
        return pictureCache;
    // A smooth reduction reads every pixel: a large picture's takes a worker a fifth of a second, which no paint
    // waits for. Until it comes, a sampling of four times as many pixels, reduced smoothly, stands in for it (and
    // is what a drag started meanwhile carries).
    constexpr qint64 smoothHere = 16'000'000;
    const QImage source = current.image;
    if (qint64(source.width()) * source.height() <= smoothHere) {
        pictureCache = source.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        pictureCache.setDevicePixelRatio(ratio);
        return pictureCache;
    }
    const QSize sampled = (pixels * 4).boundedTo(source.size());
    pictureCache = source.scaled(sampled, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                       .scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    pictureCache.setDevicePixelRatio(ratio);
    if (std::exchange(smoothingKey, source.cacheKey()) == source.cacheKey())
        return pictureCache; // one is on its way; a size that changed meanwhile is asked for again when it comes
    QPointer<ThumbnailView> self(this);
    Dispatch::global([self, source, pixels, ratio] {
        QImage smooth = source.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        smooth.setDevicePixelRatio(ratio);
        Dispatch::main([self, key = source.cacheKey(), smooth = std::move(smooth)] {
            if (!self || self->smoothingKey != key)
                return;
            self->smoothingKey = 0;
            if (self->current.image.cacheKey() != key)
                return;
            // Taken only at the size still shown; otherwise the next paint asks for the size it needs.
            if (self->pictureCache.size() == smooth.size())
                self->pictureCache = smooth;
            else
                self->pictureCache = QImage();
            self->update();
        });
    });
    return pictureCache;
}

const QImage& ThumbnailView::shadowImage() {
    const QSize size = whole(cardGeometry.imageRect).size() + QSize(2 * shadowPad, 2 * shadowPad);
    if (shadowCache.size() == size)
        return shadowCache;
    const int w = size.width(), h = size.height();
    QImage outline(size, QImage::Format_Alpha8);
    outline.fill(0);
    {
        QPainter painter(&outline);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 255));
        painter.drawRoundedRect(QRectF(shadowPad, shadowPad, w - 2 * shadowPad, h - 2 * shadowPad),
                                CardGeometry::cornerRadius, CardGeometry::cornerRadius);
    }
    std::vector<float> alpha(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            alpha[size_t(y) * w + x] = outline.constScanLine(y)[x] / 255.0f;
    // A blur radius of 16 points spreads like a Gaussian of about 8; three boxes of 7 come close.
    blurAlpha(alpha, w, h, 7);
    shadowCache = QImage(size, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(shadowCache.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] =
                qRgba(0, 0, 0, qBound(0, qRound(alpha[size_t(y) * w + x] * CardGeometry::shadowAlpha * 255), 255));
    }
    return shadowCache;
}

void ThumbnailView::paintEvent(QPaintEvent*) {
    if (pillOnly)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF image = cardGeometry.imageRect;

    painter.drawImage(
        QPointF(std::round(image.x()) - shadowPad, std::round(image.y()) - shadowPad + CardGeometry::shadowDrop),
        shadowImage());

    QPainterPath outline;
    outline.addRoundedRect(image, CardGeometry::cornerRadius, CardGeometry::cornerRadius);
    painter.save();
    painter.setClipPath(outline);
    painter.fillPath(outline, Brand::background());
    const QImage& picture = shownPicture();
    if (!paintReview(painter) && !picture.isNull())
        painter.drawImage(image, picture);
    painter.restore();

    painter.setPen(QPen(QColor(255, 255, 255, qRound(0.18 * 255)), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(image.adjusted(0.5, 0.5, -0.5, -0.5), CardGeometry::cornerRadius,
                            CardGeometry::cornerRadius);
    drawRedactEdit(painter);
}

void ThumbnailView::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    hovering = true;
    closeButton->setVisible(!pillOnly);
    updateMask();
    if (onHover)
        onHover(true);
}

void ThumbnailView::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    hovering = false;
    closeButton->hide();
    updateMask();
    if (onHover)
        onHover(false);
}

void ThumbnailView::mousePressEvent(QMouseEvent* event) {
    mouseDownAt.reset();
    secondClick = false;
    // Only a press on the picture may become a drag-out; the pill and the margins are not the picture.
    if (event->button() != Qt::LeftButton || pillOnly || !cardGeometry.imageRect.contains(event->position())) {
        QWidget::mousePressEvent(event);
        return;
    }
    if (redactMouseDown(event->position())) {
        event->accept();
        return;
    }
    mouseDownAt = event->position();
    event->accept();
}

void ThumbnailView::mouseMoveEvent(QMouseEvent* event) {
    if (redactDragging()) {
        redactDragged(event->position());
        return;
    }
    if (!mouseDownAt || !(event->buttons() & Qt::LeftButton))
        return;
    const QPointF moved = event->position() - *mouseDownAt;
    if (std::hypot(moved.x(), moved.y()) <= dragThreshold)
        return;
    mouseDownAt.reset();
    startDragOut();
}

void ThumbnailView::mouseReleaseEvent(QMouseEvent* event) {
    if (redactDragging()) {
        redactMouseUp();
        return;
    }
    const bool doubleClick = mouseDownAt && secondClick;
    mouseDownAt.reset();
    secondClick = false;
    if (doubleClick) {
        toggleLarge();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void ThumbnailView::mouseDoubleClickEvent(QMouseEvent* event) {
    mousePressEvent(event);
    secondClick = mouseDownAt.has_value();
}

void ThumbnailView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        escapePressed();
        event->accept();
        return;
    }
    if ((event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) && review && review->selMark) {
        deleteSelected();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ThumbnailView::escapePressed() {
    if (escapeReview())
        return;
    if (onDone)
        onDone();
}

void ThumbnailView::startDragOut() {
    // The card's file and nothing else, offered for copying only: the file stays where it is.
    auto* data = new QMimeData;
    data->setUrls({current.fileURL});
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    const QImage& picture = shownPicture();
    if (!picture.isNull()) {
        drag->setPixmap(QPixmap::fromImage(picture));
        drag->setHotSpot((mapFromGlobal(QCursor::pos()) - cardGeometry.imageRect.topLeft()).toPoint());
    }
    QPointer<ThumbnailView> self(this);
    dragging = true;
    const Qt::DropAction action = drag->exec(Qt::CopyAction, Qt::CopyAction);
    if (!self)
        return;
    dragging = false;
    if (action != Qt::IgnoreAction) {
        // The window system lets the drag go once the receiver has read what was dropped.
        droppedDrag = drag;
        connect(drag, &QObject::destroyed, this, &ThumbnailView::settled);
    }
    if (action != Qt::IgnoreAction && onDone)
        onDone();
    emit settled();
}

QPoint ThumbnailView::anchorPoint() const {
    if (!parentWidget())
        return QCursor::pos();
    return mapToGlobal(QPointF(width() / 2.0, cardGeometry.imageRect.top())).toPoint();
}

bool ThumbnailView::isBusy() const {
    return runner->busy();
}

bool ThumbnailView::run(const QString& label, std::function<std::pair<Shot, QString>()> work,
                        std::function<void()> then) {
    if (!pdf || runner->busy())
        return runner->run(label, std::move(work), std::move(then));
    // The page the tool makes is the document's page: a card closed while the tool works has it written when the
    // tool is done, and the tool reports success only once it is in the document.
    const std::shared_ptr<PDFSession> session = pdf;
    session->runStarted();
    return runner->run(
        label,
        [session, work = std::move(work)] {
            std::pair<Shot, QString> result;
            try {
                result = work();
            } catch (...) {
                session->runEnded(std::nullopt);
                throw;
            }
            if (const QString failure = session->runEnded(result.first.fileURL); !failure.isEmpty())
                throw ConvertError(failure);
            return result;
        },
        std::move(then));
}

void ThumbnailView::hold(Hold reason, bool on) {
    if (onHold)
        onHold(reason, on);
}

void ThumbnailView::engage() {
    if (onEngage)
        onEngage();
}

void ThumbnailView::apply(const Shot& next) {
    const QSizeF before = current.image.deviceIndependentSize();
    // A redacted file renamed (gone from its old name, the same kind of file) keeps its review record.
    if (next.fileURL != current.fileURL && !QFileInfo::exists(current.fileURL.toLocalFile()) &&
        QFileInfo(next.fileURL.fileName()).suffix() == QFileInfo(current.fileURL.fileName()).suffix())
        RedactMarks::moved(current.fileURL, next.fileURL);
    current = next;
    if (pdf)
        pdf->show(current.fileURL);
    pictureCache = QImage();
    Notifications::defaultCenter().post(ShotFiles::changed());
    badge->setText(badgeText());
    formatButton->setText(formatName() + QStringLiteral(" \u25BE"));
    compressButton->setActive(false);
    ++pictureChanges;
    if (current.image.deviceIndependentSize() != before)
        layout(false);
    placeSubviews();
    if (large)
        syncRedact();
    update();
}

void ThumbnailView::setPillOnly(bool value) {
    pillOnly = value;
    if (pillOnly)
        closeButton->hide();
}

void ThumbnailView::relayoutKeepingImage() {
    QWidget* card = parentWidget() ? window() : nullptr;
    if (!card) {
        layout(true);
        placeSubviews();
        return;
    }
    const QPointF before = mapToGlobal(cardGeometry.imageRect.topLeft());
    layout(false);
    placeSubviews();
    std::optional<QRectF> available;
    if (const QScreen* screen = card->screen())
        available = QRectF(screen->availableGeometry());
    card->move(CardGeometry::keepingPicture(before, cardGeometry, QSizeF(card->size()), available).toPoint());
    update();
}

void ThumbnailView::showSide(QWidget* view) {
    if (sideView && sideView != view) {
        sideView->hide();
        sideView->setParent(nullptr);
        sideView->deleteLater();
    }
    sideView = view;
    view->setParent(this);
    view->show();
    relayoutKeepingImage();
    hold(Hold::SideView, true);
}

void ThumbnailView::removeSide() {
    if (!sideView)
        return;
    sideView->hide();
    sideView->setParent(nullptr);
    sideView->deleteLater();
    sideView = nullptr;
    relayoutKeepingImage();
    hold(Hold::SideView, false);
}

ThumbnailView::NestedLoop::NestedLoop(ThumbnailView* view) : view(view) {
    ++view->nestedLoops;
}

ThumbnailView::NestedLoop::~NestedLoop() {
    if (view && --view->nestedLoops == 0)
        emit view->settled();
}
