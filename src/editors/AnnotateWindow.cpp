#include "editors/AnnotateWindow.h"

#include "editors/EditStore.h"
#include "editors/PresetMenu.h"
#include "imaging/ShotFiles.h"
#include "platform/Defaults.h"
#include "platform/Notifications.h"
#include "ui/Divider.h"
#include "ui/GhostButton.h"
#include "ui/Toast.h"
#include "ui/UI.h"

#include <QApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>

namespace {

using Tool = AnnotateCanvas::Tool;

struct ToolRow {
    Tool tool;
    const char* symbol;
    const char* label;
    char key;
};

const ToolRow toolRows[] = {
    {Tool::Select, "cursorarrow", "Select \u00B7 move \u00B7 \u232B delete (V)", 'v'},
    {Tool::Arrow, "arrow.up.right", "Arrow (A)", 'a'},
    {Tool::Line, "line.diagonal", "Line (L)", 'l'},
    {Tool::Box, "rectangle", "Box (B)", 'b'},
    {Tool::Ellipse, "circle", "Ellipse (E)", 'e'},
    {Tool::Pen, "scribble", "Pen (P)", 'p'},
    {Tool::Highlight, "highlighter", "Freehand highlighter (H)", 'h'},
    {Tool::Marker, "character.cursor.ibeam", "Text highlighter \u00B7 snaps to words (M)", 'm'},
    {Tool::Blur, "eye.slash", "Blur (R)", 'r'},
    {Tool::Text, "textformat", "Text (T)", 't'},
    {Tool::Number, "1.circle", "Number (N)", 'n'},
};

const QString hintKey = QStringLiteral("picto.annotateHint");

GhostButton* barButton(const QString& label, const QString& symbol, double symbolSize) {
    return new GhostButton(label, symbol, QString(), QSizeF(30, 28), symbolSize);
}

QPoint toastPoint(const QWidget* window) {
    const QRect frame = window->frameGeometry();
    return QPoint(frame.center().x(), frame.bottom() - 30);
}

} // namespace

QList<QColor> AnnotateWindow::paletteColors() {
    QList<QColor> colours;
    for (const Annotation::Color& colour : Annotation::palette())
        colours.append(colour.qcolor());
    return colours;
}

namespace {

// A stored edit counts only when its base is the very picture size of the file: anything else was replaced since
// and is edited afresh.
bool fits(const std::optional<EditStore::Edit>& edit, const QImage& shown) {
    return edit && edit->base.size() == shown.size();
}

} // namespace

QImage AnnotateWindow::drawable(const QImage& shown, const std::optional<EditStore::Edit>& stored) {
    return (fits(stored, shown) ? stored->base : shown).convertToFormat(AnnotateCanvas::drawingFormat);
}

AnnotateWindow::AnnotateWindow(const Shot& shot, std::function<void(const QUrl&, const QImage&)> done,
                               AnnotateCanvas::WordBoxes wordBoxes, const std::optional<EditStore::Edit>* stored,
                               QImage drawable)
    : EditorWindow(shot, 40, true, QStringLiteral("Pictolarium Annotate")), onDone(std::move(done)) {
    QImage picture = image();
    std::vector<ShapeRecord> shapes;
    if (std::optional<EditStore::Edit> edit = stored ? *stored : EditStore::load(shot.fileURL); fits(edit, picture)) {
        editID = edit->id;
        picture = edit->base;
        shapes = std::move(edit->shapes);
    }
    // What was made beforehand was made for the stored edit handed in, and only for that.
    canvas = new AnnotateCanvas(picture, std::move(wordBoxes), this, stored ? std::move(drawable) : QImage());
    canvas->setGeometry(QRect(canvasOrigin(), canvasSize()));
    canvas->load(shapes);

    QList<QWidget*> left;
    for (const ToolRow& row : toolRows) {
        GhostButton* button = barButton(QString::fromUtf8(row.label), QString::fromLatin1(row.symbol), 14);
        button->setObjectName(Annotation::rawValue(row.tool));
        const Tool tool = row.tool;
        connect(button, &QAbstractButton::clicked, this, [this, tool] { pickTool(tool); });
        toolButtons[row.tool] = button;
        if (row.tool != Tool::Select) {
            left.append(button);
        } else {
            // Not on the bar, but the window's all the same, so that it goes with the window.
            button->setParent(this);
            button->hide();
        }
    }

    fillButton = barButton(QStringLiteral("Fill for boxes & circles"), QStringLiteral("square.fill"), 13);
    connect(fillButton, &QAbstractButton::clicked, this, &AnnotateWindow::toggleFill);
    colorButton = barButton(QStringLiteral("Colour"), QString(), 14);
    colorButton->setTint(Annotation::palette()[0].qcolor());
    connect(colorButton, &QAbstractButton::clicked, this, &AnnotateWindow::showColors);
    sizeButton = barButton(QStringLiteral("Size \u00B7 or scroll / pinch / [ ]"), QStringLiteral("lineweight"), 14);
    connect(sizeButton, &QAbstractButton::clicked, this, &AnnotateWindow::showSizes);
    signatureButton = barButton(QStringLiteral("Signature"), QStringLiteral("signature"), 14);
    connect(signatureButton, &QAbstractButton::clicked, this, &AnnotateWindow::showSignatures);
    GhostButton* backdrop = barButton(QStringLiteral("Add a backdrop"), QStringLiteral("photo.artframe"), 13);
    connect(backdrop, &QAbstractButton::clicked, this, &AnnotateWindow::backdropTapped);
    GhostButton* presets = barButton(QStringLiteral("Style presets"), QStringLiteral("bookmark"), 14);
    connect(presets, &QAbstractButton::clicked, this, [this, presets] { showPresets(presets); });
    GhostButton* undo = barButton(QStringLiteral("Undo"), QStringLiteral("arrow.uturn.backward"), 13);
    connect(undo, &QAbstractButton::clicked, canvas, &AnnotateCanvas::undo);
    GhostButton* doneButton = barButton(QStringLiteral("Done (\u21A9)"), QStringLiteral("checkmark"), 14);
    doneButton->setGlass(GhostButton::Glass::done);
    connect(doneButton, &QAbstractButton::clicked, this, &AnnotateWindow::finish);
    updateFillButton();
    addSideBars(left, {fillButton, colorButton, sizeButton, signatureButton, backdrop, presets, new Divider(16, true),
                       undo, doneButton});

    QPointer<AnnotateWindow> self(this);
    canvas->onDrawn = [self] {
        if (!self)
            return;
        self->canvas->setTool(Tool::Select);
        self->showActiveTool();
    };
    // Picking the tool the canvas already has would turn it off: start from select.
    canvas->setTool(Tool::Select);
    pickTool(Tool::Arrow);
    setColor(Annotation::palette()[0].qcolor());
    presetMenu = new PresetMenu(
        PresetMenu::Kind::annotate,
        [self](const QString& name) {
            StylePreset preset{QUuid::createUuid(), name, std::nullopt, std::nullopt};
            if (self)
                preset.annotate = self->currentStyle();
            return preset;
        },
        [self](const StylePreset& preset) {
            if (self && preset.annotate)
                self->applyStyle(*preset.annotate);
        },
        this);
    canvas->setFocus();

    if (editID) {
        QTimer::singleShot(0, this, [self] {
            if (self)
                Toast::show(QStringLiteral("Reopened with editable objects"), toastPoint(self), 1.8);
        });
    }
    // The first four openings explain the gestures that have no button.
    Defaults& defaults = Defaults::standard();
    const qlonglong seen = defaults.integer(hintKey).value_or(0);
    if (seen <= 3) {
        defaults.set(hintKey, seen + 1);
        canvas->showHint(QStringLiteral("Scroll or pinch: thickness \u00B7 drag handles: resize"), 4);
    }
}

AnnotateWindow::~AnnotateWindow() {
    // The colour dialog goes with the window as its child; its key filter must not outlive it.
    qApp->removeEventFilter(this);
}

void AnnotateWindow::pickTool(Tool chosen) {
    Tool tool = chosen;
    if (tool == canvas->tool() && tool != Tool::Select)
        tool = Tool::Select;
    // The highlighter's own colour replaces the default red only; the selection is let go first so
    // that the change doesn't recolour it.
    if (tool == Tool::Marker && Annotation::sameColor(canvas->color(), Annotation::palette()[0])) {
        canvas->selected.reset();
        canvas->update();
        setColor(Annotation::palette()[1].qcolor());
    }
    canvas->setTool(tool);
    if (tool == Tool::Marker)
        canvas->prepareWords();
    showActiveTool();
}

void AnnotateWindow::showActiveTool() {
    for (auto& [tool, button] : toolButtons)
        button->setActive(tool == canvas->tool());
}

void AnnotateWindow::toggleFill() {
    canvas->setFilled(!canvas->filled());
    updateFillButton();
}

void AnnotateWindow::updateFillButton() {
    fillButton->setActive(canvas->filled());
    fillButton->setSymbol(canvas->filled() ? QStringLiteral("square.fill") : QStringLiteral("square"));
}

void AnnotateWindow::setColor(const QColor& color) {
    canvas->setColor(Annotation::Color::from(color));
    colorButton->setTint(color);
}

void AnnotateWindow::pickSize(int index) {
    if (index >= 0 && index < sizes().size())
        canvas->setThickness(sizes()[index].value);
}

const QList<AnnotateWindow::Size>& AnnotateWindow::sizes() {
    static const QList<Size> table{{QStringLiteral("Thin"), 0.5},
                                   {QStringLiteral("Normal"), 1.0},
                                   {QStringLiteral("Medium"), 1.75},
                                   {QStringLiteral("Thick"), 3.0},
                                   {QStringLiteral("Heavy"), 5.0}};
    return table;
}

void AnnotateWindow::keyPressEvent(QKeyEvent* event) {
    // The picture being written is the one shown: a shape deleted, moved or restyled meanwhile would be lost when
    // the window closes.
    if (isWriting()) {
        EditorWindow::keyPressEvent(event);
        return;
    }
    if (canvas->typeIntoField(event))
        return;
    const int key = event->key();
    if (key == Qt::Key_Backspace || key == Qt::Key_Delete) {
        canvas->deleteSelected();
        return;
    }
    const bool arrow = key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down;
    if (arrow && canvas->selected && *canvas->selected >= 0 && *canvas->selected < int(canvas->shapes.size())) {
        const double step = (event->modifiers() & Qt::ShiftModifier) ? 10 : 1;
        // Shapes keep y growing upwards: up is a positive step.
        const QPointF by(key == Qt::Key_Left    ? -step
                         : key == Qt::Key_Right ? step
                                                : 0,
                         key == Qt::Key_Up     ? step
                         : key == Qt::Key_Down ? -step
                                               : 0);
        canvas->nudge(by);
        return;
    }
    const QString text = event->text();
    if (text == QLatin1String("[") || text == QLatin1String("]")) {
        canvas->nudgeThickness(text == QLatin1String("]") ? 1.15 : 1 / 1.15);
        return;
    }
    // A letter with Ctrl, Alt or Super belongs to a shortcut, never to a tool; Shift still picks.
    const bool plain = !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (plain && text.size() == 1) {
        const char letter = text.toLower().at(0).toLatin1();
        for (const ToolRow& row : toolRows)
            if (row.key == letter) {
                pickTool(row.tool);
                return;
            }
    }
    if (key == Qt::Key_Escape && canvas->selected) {
        canvas->selected.reset();
        canvas->update();
        return;
    }
    EditorWindow::keyPressEvent(event);
}

void AnnotateWindow::commit(std::function<void()> then) {
    if (isWriting())
        return;
    // The canvas hands over its picture and shapes as they are now; drawing them, and writing the result and its
    // edit, run on a worker.
    std::function<QImage()> render = canvas->renderer();
    const std::vector<ShapeRecord> records = canvas->records();
    const QImage base = canvas->image();
    const QUrl source = shot().fileURL;
    const std::optional<QString> id = editID;
    QPointer<AnnotateWindow> self(this);
    writeAway([self, render = std::move(render), records, base, source, id, then = std::move(then)] {
        const QImage rendered = render();
        const bool inPlace = id && QFileInfo(source.toLocalFile()).suffix().toLower() == QLatin1String("png");
        // The edit is stored before the picture takes its name, and the picture carries its link from then on:
        // an end at any moment leaves either no picture or one that reopens with its shapes.
        std::optional<QString> stored;
        const ShotFiles::BeforeNaming record = [&](int fd) {
            if (id || !records.empty())
                stored = EditStore::saveBeforeNaming(id, base, records, fd);
        };
        const QUrl url = inPlace ? ShotFiles::write(rendered, source, record)
                                 : ShotFiles::savePNG(rendered, source, QStringLiteral("annotated"), record);
        // Where the file system keeps no attribute, the index ties the named file to its edit.
        if (stored)
            EditStore::setID(*stored, url);
        return Written{url, [self, url, rendered, inPlace, then] {
                           if (inPlace)
                               Notifications::defaultCenter().post(ShotFiles::changed(), url);
                           if (self->onDone)
                               self->onDone(url, rendered);
                           if (then)
                               then();
                       }};
    });
}

void AnnotateWindow::finish() {
    QPointer<AnnotateWindow> self(this);
    commit([self] { self->close(); });
}

void AnnotateWindow::backdropTapped() {
    if (isWriting())
        return;
    // Text still being typed is a shape the user sees: it goes with the picture.
    canvas->commitText();
    QPointer<AnnotateWindow> self(this);
    const auto toBackdrop = [self] { self->openBackdrop(); };
    if (!canvas->shapes.empty() || editID)
        commit(toBackdrop);
    else
        toBackdrop();
}

void AnnotateWindow::openBackdrop() {
    // The backdrop editor is made while this window still shows (it closes this one once it is up): a large
    // picture takes seconds, and a closed editor over a collapsed card would leave nothing of ours on screen.
    const std::function<bool()> then = onBackdrop;
    QPointer<AnnotateWindow> self(this);
    const bool coming = then && then();
    // Closing again after the card closed it is harmless: the close callbacks run once.
    if (self && !coming)
        close();
}
