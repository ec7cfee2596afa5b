#pragma once
// The basket: the user's screenshots and recent pictures in one panel.

#include <QPoint>
#include <QString>
#include <QWidget>
#include <optional>

class LibraryPanel : public QWidget {
    Q_OBJECT
public:
    static LibraryPanel& shared();
    // "picto.shotsChanged": posted whenever a picture file was written or changed.
    static QString changed();

    // Hides the basket when it is showing and active, else refreshes and shows it centred on
    // the screen that holds the point (the pointer when none is given).
    void toggle(std::optional<QPoint> near = std::nullopt);

private:
    LibraryPanel();
};
