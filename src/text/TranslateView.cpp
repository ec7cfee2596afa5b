#include "text/TranslateView.h"

#include "text/TranslatePanel.h"
#include "ui/Brand.h"
#include "ui/Symbols.h"
#include "ui/UI.h"

#include <QAbstractItemView>
#include <QAction>
#include <QButtonGroup>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString rgba(QColor c, double alpha = -1) {
    if (alpha >= 0)
        c.setAlphaF(float(alpha));
    return QStringLiteral("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
}

// The small turning arc shown while a result is awaited.
class Spinner final : public QWidget {
public:
    explicit Spinner(QWidget* parent) : QWidget(parent) {
        setFixedSize(16, 16);
        timer.setInterval(50);
        connect(&timer, &QTimer::timeout, this, [this] {
            angle = (angle + 30) % 360;
            update();
        });
    }

protected:
    void showEvent(QShowEvent*) override { timer.start(); }
    void hideEvent(QHideEvent*) override { timer.stop(); }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(2, 2, -2, -2);
        painter.setPen(QPen(Brand::line(), 2));
        painter.drawEllipse(r);
        QPen pen(Brand::muted(), 2);
        pen.setCapStyle(Qt::RoundCap);
        painter.setPen(pen);
        painter.drawArc(r, -angle * 16, 100 * 16);
    }

private:
    QTimer timer;
    int angle = 0;
};

QToolButton* segment(const QString& symbol, const QString& help, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setCheckable(true);
    button->setToolTip(help);
    button->setFixedSize(38, 24);
    button->setFocusPolicy(Qt::NoFocus);
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(Symbols::image(symbol, 13, Brand::text(), 2.0)), QIcon::Normal, QIcon::Off);
    icon.addPixmap(QPixmap::fromImage(Symbols::image(symbol, 13, Brand::onGreen(), 2.0)), QIcon::Normal, QIcon::On);
    button->setIcon(icon);
    button->setIconSize(QSize(13, 13));
    return button;
}

} // namespace

TranslateView::TranslateView(std::shared_ptr<TranslateModel> model, QWidget* parent)
    : QWidget(parent), owned(std::move(model)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setStyleSheet(
        QStringLiteral(
            "QComboBox { color: %1; background: %4; border: 1px solid %5; border-radius: 5px; padding: 1px 6px; }"
            "QComboBox QAbstractItemView { color: %1; background: %6; selection-background-color: %3;"
            " selection-color: %7; }"
            "QToolButton { background: %4; border: 1px solid %5; }"
            "QToolButton:checked { background: %3; }"
            "QToolButton#first { border-top-left-radius: 6px; border-bottom-left-radius: 6px; }"
            "QToolButton#last { border-top-right-radius: 6px; border-bottom-right-radius: 6px; border-left: none; }"
            "QPlainTextEdit { background: transparent; border: none; selection-background-color: %8; }"
            "QScrollBar:vertical { background: transparent; width: 6px; }"
            "QScrollBar::handle:vertical { background: %5; border-radius: 3px; min-height: 20px; }"
            "QScrollBar::add-line, QScrollBar::sub-line { height: 0; }"
            "QPushButton { color: %1; background: %4; border: 1px solid %5; border-radius: 6px; padding: 3px 10px; }"
            "QPushButton:hover { border-color: %3; }"
            "QPushButton:disabled { color: %2; border-color: %9; }")
            .arg(Brand::text().name(), Brand::muted().name(), UI::accent().name(), rgba(Qt::white, 0.06),
                 rgba(Brand::lineStrong()), Brand::background().name(), Brand::onGreen().name(),
                 rgba(UI::accent(), 0.35), rgba(Brand::line())));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 18, 16, 16);
    column->setSpacing(10);

    auto* header = new QHBoxLayout();
    header->setSpacing(6);
    source = new QLabel(this);
    source->setFont(UI::font(11, QFont::Medium));
    source->setStyleSheet(QStringLiteral("color: %1;").arg(Brand::muted().name()));
    source->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    header->addWidget(source);
    picker = new QComboBox(this);
    picker->setFixedSize(118, 22);
    picker->setFont(UI::font(11));
    picker->setFocusPolicy(Qt::NoFocus);
    picker->setMaxVisibleItems(14);
    header->addWidget(picker);
    header->addSpacing(4);
    header->addStretch(1);
    modes = new QButtonGroup(this);
    modes->setExclusive(true);
    auto* translationButton = segment(QStringLiteral("character.bubble"), QStringLiteral("Translation"), this);
    auto* summaryButton = segment(QStringLiteral("text.alignleft"), QStringLiteral("Summary"), this);
    translationButton->setObjectName(QStringLiteral("first"));
    summaryButton->setObjectName(QStringLiteral("last"));
    modes->addButton(translationButton, int(TranslateModel::Mode::translation));
    modes->addButton(summaryButton, int(TranslateModel::Mode::summary));
    auto* switcher = new QHBoxLayout();
    switcher->setSpacing(0);
    switcher->addWidget(translationButton);
    switcher->addWidget(summaryButton);
    header->addLayout(switcher);
    // The side view's close button lies over this space.
    header->addSpacing(30);
    column->addLayout(header);

    result = new QPlainTextEdit(this);
    result->setReadOnly(true);
    // The text is replaced piece by piece as it streams; nobody undoes that, so keep no history of it.
    result->setUndoRedoEnabled(false);
    result->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    result->setFocusPolicy(Qt::NoFocus);
    result->setFrameShape(QFrame::NoFrame);
    result->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    result->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    result->viewport()->setAutoFillBackground(false);
    column->addWidget(result, 1);

    noteLine = new QLabel(this);
    noteLine->setFont(UI::font(11));
    noteLine->setWordWrap(true);
    noteLine->setStyleSheet(QStringLiteral("color: %1;").arg(Brand::muted().name()));
    noteLine->hide();
    column->addWidget(noteLine);

    auto* actions = new QHBoxLayout();
    copyShown = new QPushButton(QStringLiteral("Copy"), this);
    copyInput = new QPushButton(QStringLiteral("Copy original"), this);
    for (QPushButton* button : {copyShown, copyInput}) {
        button->setFont(UI::font(12, QFont::Medium));
        button->setFocusPolicy(Qt::NoFocus);
        button->setCursor(Qt::PointingHandCursor);
        actions->addWidget(button);
    }
    actions->addStretch(1);
    spin = new Spinner(this);
    actions->addWidget(spin);
    beta = new QLabel(QStringLiteral("BETA"), this);
    QFont mono = UI::monoFont(9);
    mono.setWeight(QFont::DemiBold);
    beta->setFont(mono);
    beta->setStyleSheet(QStringLiteral("color: %1; border: 1px solid %2; border-radius: 7px; padding: 2px 6px;")
                            .arg(Brand::green().name(), rgba(Brand::green(), 0.5)));
    beta->setToolTip(QStringLiteral("Runs a small local model: good for the gist, not perfect. Better models will "
                                    "follow."));
    actions->addWidget(beta);
    column->addLayout(actions);

    connect(copyShown, &QPushButton::clicked, this, &TranslateView::copy);
    connect(copyInput, &QPushButton::clicked, this, &TranslateView::copyOriginal);
    // For a window that does take the focus; the card passes its keys through handleKey.
    auto* copyKey = new QAction(this);
    copyKey->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    copyKey->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(copyKey, &QAction::triggered, this, [this] { handleKey(Qt::Key_C, Qt::ControlModifier); });
    addAction(copyKey);

    connect(picker, &QComboBox::activated, this, [this](int index) {
        const QVariant id = picker->itemData(index);
        if (id.isValid())
            owned->setTarget(Language(id.toString()));
    });
    connect(modes, &QButtonGroup::idClicked, this,
            [this](int id) { owned->setMode(static_cast<TranslateModel::Mode>(id)); });

    TranslateModel* m = owned.get();
    for (auto signal : {&TranslateModel::modeChanged, &TranslateModel::translationChanged,
                        &TranslateModel::summaryChanged, &TranslateModel::statusChanged, &TranslateModel::noteChanged,
                        &TranslateModel::finishedChanged, &TranslateModel::busyChanged})
        connect(m, signal, this, &TranslateView::refresh);
    connect(m, &TranslateModel::favouritesChanged, this, &TranslateView::fillLanguages);
    connect(m, &TranslateModel::targetChanged, this, &TranslateView::fillLanguages);
    fillLanguages();
    refresh();
}

QToolButton* TranslateView::modeButton(TranslateModel::Mode mode) const {
    return qobject_cast<QToolButton*>(modes->button(int(mode)));
}

QString TranslateView::shown() const {
    const QString value = owned->mode() == TranslateModel::Mode::translation ? owned->translation() : owned->summary();
    return value.isEmpty() ? owned->status() : value;
}

bool TranslateView::waiting() const {
    return (owned->mode() == TranslateModel::Mode::translation ? owned->translation() : owned->summary()).isEmpty();
}

bool TranslateView::handleKey(int key, Qt::KeyboardModifiers modifiers) {
    if (key != Qt::Key_C || (modifiers & ~Qt::KeypadModifier) != Qt::ControlModifier || !copyShown->isEnabled())
        return false;
    copy();
    return true;
}

void TranslateView::copy() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(shown());
}

void TranslateView::copyOriginal() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(owned->input());
}

void TranslateView::refresh() {
    source->setText(owned->sourceName() + QStringLiteral(" \u2192"));
    modes->button(int(owned->mode()))->setChecked(true);
    const bool wait = waiting();
    const QString text = shown();
    const QString old = result->toPlainText();
    const int kind = int(owned->mode()) * 2 + (wait ? 1 : 0);
    const bool sameResult = kind == shownKind;
    shownKind = kind;
    if (!old.isEmpty() && !wait && sameResult && text != old) {
        // A result that changes while the reader is in it (pieces arrive in any order): replace only
        // what differs, so the place in the text and the selection stay where they are.
        qsizetype head = 0;
        const qsizetype shorter = std::min(old.size(), text.size());
        while (head < shorter && old.at(head) == text.at(head))
            ++head;
        // Never cut a character in two.
        while (head > 0 && old.at(head - 1).isHighSurrogate())
            --head;
        qsizetype tail = 0;
        while (tail < shorter - head && old.at(old.size() - 1 - tail) == text.at(text.size() - 1 - tail))
            ++tail;
        while (tail > 0 && old.at(old.size() - tail).isLowSurrogate())
            --tail;
        QScrollBar* bar = result->verticalScrollBar();
        const int place = bar->value();
        QTextCursor change(result->document());
        change.setPosition(int(head));
        change.setPosition(int(old.size() - tail), QTextCursor::KeepAnchor);
        change.insertText(text.mid(head, text.size() - tail - head));
        bar->setValue(place);
    } else if (text != old) {
        result->setPlainText(text);
    }
    const QFont font = UI::font(12 * TranslatePanel::scale());
    if (result->font() != font)
        result->setFont(font);
    const QString colour =
        QStringLiteral("QPlainTextEdit { color: %1; }").arg(wait ? Brand::muted().name() : Brand::text().name());
    if (result->styleSheet() != colour)
        result->setStyleSheet(colour);
    copyShown->setEnabled(!wait);
    // Lines kept in their own language are part of the result: say so beside it, not in it.
    const bool noted = owned->mode() == TranslateModel::Mode::translation && !wait && !owned->note().isEmpty();
    noteLine->setText(noted ? owned->note() : QString());
    noteLine->setVisible(noted);
    // A job that has ended has nothing more to wait for, even when it left no result.
    const bool working = owned->mode() == TranslateModel::Mode::translation ? !owned->finished() : owned->busy();
    spin->setVisible(wait && working);
}

void TranslateView::fillLanguages() {
    const QSignalBlocker block(picker);
    picker->clear();
    const QList<Language> favourites = owned->favourites();
    for (const Language& language : favourites)
        picker->addItem(language.displayName(), language.identifier());
    picker->insertSeparator(picker->count());
    for (const Language& language : TranslateModel::languages())
        if (!favourites.contains(language))
            picker->addItem(language.displayName(), language.identifier());
    const int at = picker->findData(owned->target().identifier());
    if (at >= 0) {
        picker->setCurrentIndex(at);
    } else {
        // A target the lists lack (a default outside them) still shows as chosen.
        picker->insertItem(0, owned->target().displayName(), owned->target().identifier());
        picker->setCurrentIndex(0);
    }
}
