#pragma once
// The geometry of a card: how big its picture is shown, where the pill, badge, close button, hover label,
// side panel and page bar sit, how big its window is and where that window goes on screen.
//
// Every rectangle here is in Qt's coordinates: origin at the top left, y growing downwards, in
// device-independent pixels. The card's rules are stated with y growing upwards (the picture sits above
// the pill); they are turned around once, in this file, and nowhere else. For a card of height H a rule's
// rectangle (x, y, w, h) with y measured from the bottom is (x, H - y - h, w, h) here. So the picture's top
// edge is 22 below the card's top, the pill's bottom edge 22 above the card's bottom, the badge and page
// bar hang below the picture, and the hover label floats between the pill and the picture.

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QSizeF>

#include <optional>

namespace CardGeometry {

// Room around everything for the picture's shadow.
inline constexpr double margin = 22;
// From the pill's top to the picture's bottom.
inline constexpr double gap = 26;
inline constexpr double pillBaseHeight = 36;
// The width kept for the pill before its row of buttons exists.
inline constexpr double rowlessPillWidth = 496;
inline constexpr double pillPadding = 16;
inline constexpr double minShownHeight = 56;
inline constexpr double sideWidth = 330;
inline constexpr double sideGap = 14;
inline constexpr double sideMinHeight = 380;
inline constexpr double closeSize = 22;
inline constexpr double badgeHeight = 18;
inline constexpr double hoverPillHeight = 20;
inline constexpr double pageBarWidth = 96;
inline constexpr double pageBarHeight = 20;
inline constexpr double cornerRadius = 10;
// The picture's drop shadow: black at this alpha, this blur, cast this far downwards.
inline constexpr double shadowAlpha = 0.38;
inline constexpr double shadowBlur = 16;
inline constexpr double shadowDrop = 5;
// Distance kept from the edges of the screen's free area.
inline constexpr double screenMargin = 8;

// The box a picture is fitted into by default, from the stored "picto.sizeScale".
QSizeF maxImage(double sizeScale);

// The widest a thin picture may be shown when it is raised to the minimum height.
double thinWidthLimit(double sizeScale);

double pillHeight(double barScale);

// The pill's width: the button row's width plus padding, or the reserved width while there is no row.
double pillWidth(std::optional<double> rowWidth);

// The shown size of a picture of `picture` points fitted into `box`: never enlarged (up to three times in
// the enlarged review), except that a thin picture is raised towards the minimum height.
QSizeF shownSize(QSizeF picture, QSizeF box, bool large, double sizeScale);

struct Input {
    QSizeF picture;  // the picture's size in points
    QSizeF imageBox; // the box it is fitted into
    double barScale = 1;
    double sizeScale = 0;           // the stored "picto.sizeScale"; 0 = unset
    bool large = false;             // enlarged review
    bool side = false;              // a side panel is shown
    bool pillOnly = false;          // collapsed to the pill under an editor
    std::optional<double> rowWidth; // the button row's fitting width, once the row exists
};

struct Layout {
    QSizeF card;      // the whole card, margins included; the window's size
    QSizeF shown;     // the picture as shown
    QSizeF content;   // the picture and, with a side panel, the panel
    QRectF imageRect; // the picture
    QRectF sideRect;  // the side panel's place
    QRectF pill;      // the tool pill
    double pillHeight = 0;
    bool pillOnly = false;
};

Layout layout(const Input& input);

// The window size for a card: whole pixels, never smaller than the card.
QSize windowSize(const Layout& layout);

// The small pill behind the hover label, for a label `labelWidth` wide, and the label's frame inside it.
QRectF hoverPill(const Layout& layout, double labelWidth);
QRectF hoverLabel(QRectF hoverPill, double labelHeight);

// Centred on the picture's top-right corner.
QRectF closeButton(const Layout& layout);
// Under the picture, right-aligned with it, for a label `labelWidth` wide.
QRectF badge(const Layout& layout, double labelWidth);
// Under the picture, left-aligned with it.
QRectF pageBar(const Layout& layout);

// A review box kept in the picture's unit square with its origin at the picture's bottom-left, on screen.
QRectF unitBoxInImage(QRectF unitBox, QRectF imageRect);

// One screen: its whole frame and the part free of panels.
struct Screen {
    QRectF frame;
    QRectF available;
};

// The screen that contains the point, else the primary one (the first of the list); none when the list is
// empty.
std::optional<Screen> screenAt(QPointF point, const QList<Screen>& screens);
// The first screen that meets the rectangle, else the primary one.
std::optional<Screen> screenMeeting(QRectF rect, const QList<Screen>& screens);

// Keeps a window of `size` at `topLeft` inside the free area with the screen margin. A window too big for
// the area sits the margin from its left and its bottom edge, which keeps the pill on screen.
QPointF clampInto(QPointF topLeft, QSizeF size, QRectF available);

// The top-left corner of a card window centred on the point, clamped into the point's screen, or unclamped
// when there is no screen at all.
QPointF placeAt(QPointF point, QSizeF size, const QList<Screen>& screens);

// The point to hand to placeAt() so that the picture's centre lands on the centre of `target` (before the
// clamp), for a card window of `windowSize`.
QPointF pointForPictureOn(QRectF target, const Layout& layout, QSizeF windowSize);

// Collapsed under an editor: the pill centred under the canvas, its top 32 below the canvas's bottom.
// Not clamped, so the pill follows the editor anywhere.
QPointF collapsedTopLeft(QRectF canvas, const Layout& pillOnlyLayout);

// Grown back on the editor's canvas: the picture centred on it, clamped into the screen it meets.
QPointF expandedTopLeft(QRectF canvas, const Layout& layout, QSizeF windowSize, const QList<Screen>& screens);

// After a relayout, the window position that keeps the picture's top-left corner where it was on screen
// (`pictureTopLeft`, in screen coordinates), clamped into `available` when given.
QPointF keepingPicture(QPointF pictureTopLeft, const Layout& after, QSizeF windowSize, std::optional<QRectF> available);

// A card laid out again on screen keeps its top-left corner: it grows and shrinks downwards and rightwards.
QRectF resizedFrame(QRectF frame, QSizeF newSize);

} // namespace CardGeometry
