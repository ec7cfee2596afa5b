#pragma once
// Terminal windows full of fresh secrets for the redaction table: every monospace face this machine has, bitmap and
// outline, regular and bold, at three sizes, in xterm, urxvt and a VTE terminal, plain, reversed or coloured on dark,
// each secret on a row of its own or cut by the terminal's right edge.

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace TerminalScreens {

// One row: the words around a secret, and where the terminal's right edge cuts it (0: it stands whole on its row).
struct Row {
    const char* kind;
    QString before, secret, after;
    int split = 0;
};

enum class Shade { Plain, Reverse, Coloured };
enum class Terminal { Xterm, Urxvt, Vte };

struct Face {
    Terminal terminal;
    bool bitmap;    // an X server font, named by its XLFD with the size in it
    QString family; // fontconfig family, or the XLFD
    bool bold;
    int pixels;
    Shade shade;
    bool wrapped; // the second layout: long secrets cut by the right edge at various columns
    QString name() const;
};

// Runs a command on the test's display and gives its standard output.
using Runner = std::function<QString(const QString&, const QStringList&)>;

// Every outline face fontconfig lists as monospace and every character-cell X font, each in its weights at three
// sizes; the shades and both layouts go round within a family, so that each family meets every one of them, and the
// terminals go round across the families (the X fonts only in the two terminals that draw them).
std::vector<Face> faceSpace(const Runner& run);

// The places in `all` of the faces named, those this machine has.
std::vector<size_t> fewFaces(const std::vector<Face>& all, const QStringList& names);

// Fresh secrets of every kind the redact tool covers, from a seed; in the wrapped layout every other long secret is
// cut by the right edge of a window `columns` wide, each at another column of itself.
std::vector<Row> rowsFor(unsigned seed, bool wrapped, int columns);

// A script that sets the window's title and colours, prints the rows and waits.
QString script(const std::vector<Row>& rows, Shade shade);

// The terminal's program and arguments for a window of that size running the script.
QString program(const Face& face);
QStringList arguments(const Face& face, int columns, int lines, const QString& script);

// What of a secret a reader must not find again: its every stretch of six characters, blanks left out.
QStringList pieces(const QString& secret);

} // namespace TerminalScreens
