// The basket's view tree: header row (menu button, tabs, count, hovered action's name, action
// pill, close), a separator, and the grid with the empty state centred over it.

#include "library/LibraryPanel.h"

#include "library/ShotGrid.h"
#include "ui/Brand.h"
#include "ui/GhostButton.h"
#include "ui/Pill.h"
#include "ui/Symbols.h"
#include "ui/UI.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QLabel* styledLabel(QLabel* label, const QFont& font, const QColor& colour) {
    label->setFont(font);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, colour);
    label->setPalette(pal);
    return label;
}

QColor secondaryText() {
    return QColor(255, 255, 255, 140);
}

// A picture of ours: the PNG when there is one, else the SVG drawn to fit box, sharp at the
// screen's pixel ratio. Null when neither loads.
QPixmap artwork(const QString& path, QSize box) {
    QPixmap png(path + QStringLiteral(".png"));
    if (!png.isNull())
        return png.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QImageReader reader(path + QStringLiteral(".svg"));
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty())
        return {};
    const double dpr = std::max(1.0, qApp ? qApp->devicePixelRatio() : 1.0);
    reader.setScaledSize(size.scaled(box * dpr, Qt::KeepAspectRatio));
    QPixmap picture = QPixmap::fromImage(reader.read());
    picture.setDevicePixelRatio(dpr);
    return picture;
}

// The brand mark; else the program's icon; else a menu glyph, so the button is never an empty
// square that opens a menu.
QIcon appIcon() {
    const QPixmap crest = artwork(QStringLiteral(":/CrestMark"), QSize(26, 26));
    if (!crest.isNull())
        return QIcon(crest);
    if (!QApplication::windowIcon().isNull())
        return QApplication::windowIcon();
    const QIcon themed = QIcon::fromTheme(QStringLiteral("pictolarium"));
    if (!themed.isNull())
        return themed;
    const QImage glyph = Symbols::image(QStringLiteral("line.3.horizontal"), 18, Brand::text());
    return glyph.isNull() ? QIcon() : QIcon(QPixmap::fromImage(glyph));
}

// Fitted into the hero's box, larger or smaller, keeping its proportions.
QPixmap heroPicture(QSize box) {
    const QPixmap drawn = artwork(QStringLiteral(":/Tour/hero-crest"), box);
    if (!drawn.isNull())
        return drawn;
    const QImage symbol = Symbols::image(QStringLiteral("photo.on.rectangle"), 28, Brand::muted());
    if (symbol.isNull())
        return {};
    // Drawn large from the vector, not blown up from a small bitmap.
    const QImage large =
        Symbols::image(QStringLiteral("photo.on.rectangle"), 28.0 * box.height() / symbol.height(), Brand::muted());
    return QPixmap::fromImage(large.isNull() ? symbol : large)
        .scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

} // namespace

void LibraryPanel::buildUI() {

    countLabel = styledLabel(new QLabel(this), UI::font(13, QFont::Normal), secondaryText());
    actionLabel = styledLabel(new QLabel(this), UI::font(11, QFont::Medium), secondaryText());
    actionLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    // The action pill.
    auto* pill = new Pill(QRect(), this);
    auto* actions = new QHBoxLayout(pill);
    actions->setContentsMargins(6, 5, 6, 5);
    actions->setSpacing(4);
    const struct {
        const char* label;
        const char* symbol;
    } actionTable[] = {
        {"Copy", "doc.on.doc"},
        {"Convert", "arrow.triangle.2.circlepath"},
        {"Compress", "arrow.down.right.and.arrow.up.left"},
        {"Share", "square.and.arrow.up"},
        {"Show in Files", "folder"},
        {"Delete", "trash"},
    };
    for (const auto& row : actionTable) {
        auto* button = new GhostButton(QString::fromUtf8(row.label), QString::fromUtf8(row.symbol), QString(),
                                       QSizeF(38, 34), 15, pill);
        QPointer<LibraryPanel> self(this);
        QPointer<GhostButton> weak(button);
        button->onHoverChange = [self, weak](bool hovering) {
            if (self)
                self->actionLabel->setText(hovering && weak ? weak->label : QString());
        };
        actions->addWidget(button);
        actionButtons.append(button);
        if (button->label == u"Convert")
            convertButton = button;
    }
    const std::function<void()> act[] = {
        [this] { copySelected(); },     [this] { showConvertMenu(); },
        [this] { compressSelected(); }, [this] { shareSelected(actionButtons.at(3)); },
        [this] { revealSelected(); },   [this] { deleteSelected(); },
    };
    for (int i = 0; i < actionButtons.size(); ++i)
        connect(actionButtons.at(i), &QAbstractButton::clicked, this, act[i]);

    // Tabs: the titles stay at 13 px whatever the chrome factor.
    auto* tabs = new QHBoxLayout();
    tabs->setSpacing(2);
    for (const QString& title : {QStringLiteral("Screenshots"), QStringLiteral("Recent images")}) {
        auto* tab = new GhostButton(title, QString(), title, QSizeF(title.size() > 11 ? 118 : 104, 30), 0, this);
        tab->setFont(UI::font(13, QFont::DemiBold));
        tab->setContentTintColor(Qt::white);
        connect(tab, &QAbstractButton::clicked, this, [this, tab] { pickTab(tab); });
        tabs->addWidget(tab);
        tabButtons.append(tab);
    }
    tabButtons.first()->setActive(true);
    tabButtons.first()->setContentTintColor(UI::accent());

    appButton = new QPushButton(this);
    appButton->setFlat(true);
    appButton->setFixedSize(26, 26);
    appButton->setIcon(appIcon());
    appButton->setIconSize(QSize(26, 26));
    appButton->setToolTip(QStringLiteral("Pictolarium settings"));
    appButton->setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent; }"));
    connect(appButton, &QPushButton::clicked, this, [this] { showAppMenu(appButton); });

    closeButton =
        new GhostButton(QStringLiteral("Close"), QStringLiteral("xmark"), QString(), QSizeF(24, 24), 11, this);
    closeButton->setGlass(GhostButton::Glass::close);
    connect(closeButton, &QAbstractButton::clicked, this, &LibraryPanel::closeFromButton);

    auto* header = new QHBoxLayout();
    header->setContentsMargins(20, 0, 20, 0);
    header->setSpacing(0);
    header->addWidget(appButton);
    header->addSpacing(4);
    header->addLayout(tabs);
    header->addSpacing(8);
    header->addWidget(countLabel);
    const auto gap = [&] {
        headerGaps.append(new QSpacerItem(10, 0, QSizePolicy::Fixed, QSizePolicy::Minimum));
        header->addSpacerItem(headerGaps.last());
    };
    gap();
    header->addStretch(1);
    gap();
    header->addWidget(actionLabel);
    gap();
    header->addWidget(pill);
    header->addSpacing(12);
    header->addWidget(closeButton);
    auto* headerRow = new QWidget(this);
    headerRow->setLayout(header);
    headerRow->setFixedHeight(44);

    auto* separator = new QWidget(this);
    separator->setFixedHeight(1);
    separator->setAutoFillBackground(true);
    QPalette line = separator->palette();
    line.setColor(QPalette::Window, QColor(255, 255, 255, 26));
    separator->setPalette(line);

    collection = new ShotGrid(this);
    connect(collection, &ShotGrid::selectionCountChanged, this, &LibraryPanel::updateCount);
    wireTiles();

    // The empty state: a picture, a title and the places looked in.
    emptyView = new QWidget(this);
    auto* empty = new QVBoxLayout(emptyView);
    empty->setSpacing(6);
    auto* hero = new QLabel(emptyView);
    hero->setFixedSize(260, 146);
    hero->setAlignment(Qt::AlignCenter);
    const QPixmap picture = heroPicture(hero->size());
    if (!picture.isNull())
        hero->setPixmap(picture);
    emptyTitle = styledLabel(new QLabel(files->emptyTitle, emptyView), UI::font(17, QFont::DemiBold), Brand::text());
    emptyTitle->setAlignment(Qt::AlignCenter);
    QFont mono = UI::monoFont(11);
    emptyDetail = styledLabel(new QLabel(emptyView), mono, Brand::muted());
    emptyDetail->setAlignment(Qt::AlignCenter);
    emptyDetail->setWordWrap(true);
    emptyDetail->setMaximumWidth(380);
    empty->addWidget(hero, 0, Qt::AlignHCenter);
    empty->addWidget(emptyTitle, 0, Qt::AlignHCenter);
    empty->addSpacing(2); // 8 after the title in all
    empty->addWidget(emptyDetail, 0, Qt::AlignHCenter);
    emptyView->hide();

    auto* body = new QGridLayout();
    body->setContentsMargins(0, 0, 0, 0);
    body->addWidget(collection, 0, 0);
    body->addWidget(emptyView, 0, 0, Qt::AlignCenter);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 18, 0, 0);
    column->setSpacing(0);
    column->addWidget(headerRow);
    column->addSpacing(12);
    column->addWidget(separator);
    column->addLayout(body, 1);
}

void LibraryPanel::fitHeader() {
    if (!countLabel || tabButtons.size() != 2 || !countLabel->parentWidget() || !countLabel->parentWidget()->layout())
        return;
    QLayout* row = countLabel->parentWidget()->layout();
    const qsizetype n = collection->selectedFiles().size();
    const QString number = n > 0 ? QString::number(n) : QString();
    // With nothing selected, the place holds what the listing knows it lacks.
    const QString full = n > 0 ? number + QStringLiteral(" selected") : files->note;
    // Narrower steps until the row fits the panel: the tabs at their titles' width rather than their own, then the
    // action buttons closer together, then the count as its number alone, then none.
    const struct {
        bool compactTabs;
        bool compactActions;
        QString count;
    } steps[] = {{false, false, full}, {true, false, full}, {true, true, full}, {true, true, number}, {true, true, {}}};
    QLayout* actions = actionButtons.isEmpty() ? nullptr : actionButtons.first()->parentWidget()->layout();
    for (const auto& step : steps) {
        for (GhostButton* tab : std::as_const(tabButtons)) {
            const int design = tab->label.size() > 11 ? 118 : 104;
            const int titled = tab->fontMetrics().horizontalAdvance(tab->label) + 12;
            tab->setFixedWidth(step.compactTabs ? std::min(design, titled) : design);
        }
        // The buttons are 38 by 34 at the bar's scale; 30 wide still leaves their symbols room. The row's edges
        // and the gaps around its spacer narrow with them.
        for (GhostButton* button : std::as_const(actionButtons))
            button->setFixedWidth(qRound(button->height() * (step.compactActions ? 30.0 : 38.0) / 34.0));
        if (actions)
            actions->setSpacing(step.compactActions ? 1 : 4);
        const int edge = step.compactActions ? 12 : 20;
        row->setContentsMargins(edge, 0, edge, 0);
        for (QSpacerItem* gap : std::as_const(headerGaps))
            gap->changeSize(step.compactActions ? 4 : 10, 0, QSizePolicy::Fixed, QSizePolicy::Minimum);
        countLabel->setText(step.count);
        countLabel->setMinimumWidth(countLabel->fontMetrics().horizontalAdvance(step.count));
        // The tabs' and the pill's own layouts answer for their new widths only once they have run.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        row->invalidate();
        if (row->minimumSize().width() <= width())
            return;
    }
}
