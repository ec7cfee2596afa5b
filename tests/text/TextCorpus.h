#pragma once
// Screen-like pictures drawn at test time with real faces at real interface sizes, each with the
// text a reader takes from it, in reading order. The measure of how well pictures are read.

#include <QFont>
#include <QImage>
#include <QString>
#include <vector>

namespace TextCorpus {

enum class Face { Inter, Sans, Serif, Mono };

// The face at a pixel size; the font files are registered on first use.
QFont font(Face face, int pixelSize, int weight = QFont::Normal);

// Whether every face the corpus draws with is installed.
bool facesInstalled();

struct Page {
    QString name;
    QImage image;
    QString text;     // what the page says, blocks in reading order
    QString language; // the recogniser's language for the page ("eng", "deu", "fra")
};

std::vector<Page> pages();

// Error rates after white space runs are made one space: characters and words.
double characterErrorRate(const QString& want, const QString& got);
double wordErrorRate(const QString& want, const QString& got);

} // namespace TextCorpus
