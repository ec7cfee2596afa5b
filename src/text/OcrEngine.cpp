#include "text/OcrEngine.h"

#include "platform/Memory.h"
#include "text/Language.h"
#include "text/OcrLines.h"
#include "text/PageScan.h"
#include "text/SerialRegions.h"

#include <QLocale>
#include <QThreadPool>
#include <algorithm>
#include <cstring>
#include <dlfcn.h>
#include <exception>
#include <latch>
#include <leptonica/allheaders.h>
#include <map>
#include <memory>
#include <mutex>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>
#include <utility>

namespace TextVision {

namespace {

using namespace EngineLines;

// Engines run side by side, one per worker; OpenMP inside each would only fight them for cores.
// Set before the first engine is made, on the thread that asks for recognition.
void prepareOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (qEnvironmentVariableIsEmpty("OMP_THREAD_LIMIT"))
            qputenv("OMP_THREAD_LIMIT", "1");
        // Leptonica reports every odd region it meets on standard error; the outcome is in the result.
        setMsgSeverity(L_SEVERITY_NONE);
        SerialRegions::install();
    });
}

// The OpenMP runtime read its environment when it was loaded, before we could set it. With no
// active parallel levels (a setting of the calling thread) every parallel region runs on the
// thread that reaches it. Called on every thread that runs an engine.
void keepThisThreadSingle() {
    using SetLevels = void (*)(int);
    static const auto setLevels = reinterpret_cast<SetLevels>(dlsym(RTLD_DEFAULT, "omp_set_max_active_levels"));
    if (setLevels)
        setLevels(0);
}

QString tesseractCode(const QLocale& locale) {
    if (locale.language() == QLocale::Chinese) {
        const bool traditional = locale.script() == QLocale::TraditionalChineseScript ||
                                 locale.territory() == QLocale::Taiwan || locale.territory() == QLocale::HongKong;
        return traditional ? QStringLiteral("chi_tra") : QStringLiteral("chi_sim");
    }
    return QLocale::languageToCode(locale.language(), QLocale::ISO639Part2T);
}

QString chooseLanguages() {
    keepThisThreadSingle();
    tesseract::TessBaseAPI probe;
    if (probe.Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) != 0)
        return QStringLiteral("eng");
    std::vector<std::string> installed;
    probe.GetAvailableLanguagesAsVector(&installed);
    QStringList available;
    for (const std::string& name : installed)
        available << QString::fromStdString(name);
    return tesseractLanguages(Language::preferredLanguages(), available);
}

// The first and last columns in [from, to] of a row of grey darker than `below`; {-1, -1} where
// it has none.
std::pair<int, int> inkSpan(const uchar* row, int from, int to, uchar below) {
    for (int first = from; first <= to; ++first)
        if (row[first] < below)
            for (int last = to;; --last)
                if (row[last] < below)
                    return {first, last};
    return {-1, -1};
}

// The columns of the band that hold ink or bars, with a few lines' height of ground beside them;
// empty when it holds none. The engine's work on a band grows with its pixels, and a centred page, a
// sidebar's empty foot or the blank end of a window leave much of a screen empty. Near-ground
// shades are no ink.
QRect narrowedToInk(const QImage& grey, const QRect& band, double letters, const std::vector<BarRun>& bars) {
    constexpr uchar faint = 224;
    int left = band.right() + 1, right = band.left() - 1;
    for (int y = band.top(); y <= band.bottom(); ++y)
        if (const auto [first, last] = inkSpan(grey.constScanLine(y), band.left(), band.right(), faint); first >= 0) {
            left = std::min(left, first);
            right = std::max(right, last);
        }
    for (const BarRun& run : bars)
        if (const QRect box = run.box(); box.intersects(band)) {
            left = std::min(left, box.left());
            right = std::max(right, box.right());
        }
    if (right < left)
        return {};
    // All the band's rows stay: the engine reads a band's lines differently once its blank rows go.
    const int room = int(std::max(8.0, 4 * letters));
    return QRect(QPoint(std::max(band.left(), left - room), band.top()),
                 QPoint(std::min(band.right(), right + room), band.bottom()));
}

class Engine {
public:
    explicit Engine(const QString& names) {
        keepThisThreadSingle();
        const QByteArray languages = names.toUtf8();
        if (api.Init(nullptr, languages.constData(), tesseract::OEM_LSTM_ONLY) != 0)
            throw RecognitionError(
                QStringLiteral("Text recognition is unavailable: the Tesseract language data \"%1\" could not be "
                               "loaded. Install the package tesseract-ocr-eng.")
                    .arg(QString::fromUtf8(languages)));
        api.SetPageSegMode(tesseract::PSM_AUTO);
        api.SetVariable("debug_file", "/dev/null");
        // The picture it reads is always dark ink on white, so a second reading of doubtful
        // lines inverted would only cost time.
        api.SetVariable("tessedit_do_invert", "0");
        // A screen holds no vertical writing: a column of short aligned words (the link counts and
        // owners of a file listing, a table's figures) would otherwise be read top to bottom as one word.
        api.SetVariable("textord_tabfind_vertical_text", "0");
        // Monospaced rows are told by the engine's quicker measure of character cells, which on
        // crisp, evenly set screen type finds the cells the full search does.
        api.SetVariable("textord_fast_pitch_test", "1");
    }
    ~Engine() { api.End(); }

    // Reads one band of the grey picture, scaled, and returns its lines in picture pixels. Where
    // the engine's layout cuts rows apart at spaces no wider than a word's, the band is read as one
    // block of lines instead, without looking for columns; the layout alone tells, before any
    // letter is recognised, or where it does not, the lines recognised (which are seldom so cut when
    // the layout's are not, and a column read downwards is another sign of it). letters is the
    // picture's usual height of a line's letters; bars are the runs blanked out of the picture.
    std::vector<PixelLine> read(const QImage& grey, const QRect& whole, double scale, double letters,
                                const std::vector<BarRun>& bars, const std::vector<QRect>& rules,
                                bool forceBlock = false) {
        const QRect band = forceBlock ? whole : narrowedToInk(grey, whole, letters, bars);
        if (band.isEmpty())
            return {};
        page = &grey;
        uprights = &rules;
        QImage part = grey.copy(band);
        if (scale != 1.0)
            part = part.scaled(qRound(band.width() * scale), qRound(band.height() * scale), Qt::IgnoreAspectRatio,
                               Qt::SmoothTransformation);
        // A margin of ground round the band: text at a cut edge is read as badly as text at the
        // edge of a page without one.
        QImage framed(part.width() + 2 * margin, part.height() + 2 * margin, QImage::Format_Grayscale8);
        framed.fill(255);
        for (int y = 0; y < part.height(); ++y)
            std::memcpy(framed.scanLine(y + margin) + margin, part.constScanLine(y), size_t(part.width()));
        const auto show = [&] {
            api.SetImage(framed.constBits(), framed.width(), framed.height(), 1, int(framed.bytesPerLine()));
            api.SetSourceResolution(screenDpi);
        };
        api.SetPageSegMode(forceBlock ? tesseract::PSM_SINGLE_BLOCK : tesseract::PSM_AUTO);
        show();
        bool asBlock = forceBlock;
        if (!forceBlock) {
            std::unique_ptr<tesseract::PageIterator> layout(api.AnalyseLayout());
            if (layout) {
                std::vector<PixelLine> pieces;
                do {
                    if (pieces.empty() || layout->IsAtBeginningOf(tesseract::RIL_TEXTLINE))
                        pieces.emplace_back();
                    const QRectF box = toPicture(*layout, tesseract::RIL_WORD, band, scale);
                    pieces.back().words.push_back({box, {{QStringLiteral("?"), box}}});
                } while (layout->Next(tesseract::RIL_WORD));
                asBlock = rowsCutAtWordSpaces(splitAtWideGaps(std::move(pieces)), letters);
            }
        }
        if (asBlock) {
            api.Clear();
            api.SetPageSegMode(tesseract::PSM_SINGLE_BLOCK);
            show();
        }
        bool downwards = false;
        std::vector<PixelLine> lines = recognised(band, scale, letters, &downwards);
        if (!asBlock && (downwards || rowsCutAtWordSpaces(lines, 0)))
            return read(grey, band, scale, letters, bars, rules, true);
        if (!asBlock)
            readLeftOut(framed, band, scale, letters, lines);
        insertBars(lines, band, bars);
        return lines;
    }

private:
    static constexpr int margin = 10;
    const QImage* page = nullptr;                 // the grey picture being read
    const std::vector<QRect>* uprights = nullptr; // the rules painted out of it
    static constexpr uchar inkLevel = 192;        // as dark as the strokes of faint grey text

    // Whether the picture holds ink in the box. In a wide gap between cells, or beside a line that runs
    // into another column, the engine now and then reads a bar, a dash or an equals sign from blank ground.
    bool inked(const QRectF& box) const {
        const QRect area = box.toAlignedRect().intersected(page->rect());
        int dark = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            const uchar* row = page->constScanLine(y);
            for (int x = area.left(); x <= area.right(); ++x)
                dark += row[x] < inkLevel;
            if (dark >= 3)
                return true;
        }
        return false;
    }

    // A word of a line that the engine ran on into a column beside, set higher or lower, can come
    // with the whole line's height, well over its neighbours': its box is brought down to the rows
    // its ink fills.
    void fitToInk(QRectF& box) const {
        const QRect area = box.toAlignedRect().intersected(page->rect());
        int top = -1, bottom = -1;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            const uchar* row = page->constScanLine(y);
            if (std::any_of(row + area.left(), row + area.right() + 1, [](uchar v) { return v < inkLevel; })) {
                top = top < 0 ? y : top;
                bottom = y;
            }
        }
        if (top >= 0 && bottom - top + 1 < 0.75 * box.height())
            box.setCoords(box.left(), std::max(box.top(), double(top)), box.right(),
                          std::min(box.bottom(), bottom + 1.0));
    }
    // The resolution the engine is told, enlarged or not. It sizes the engine's search for rules
    // and columns: told the enlarged copy's own resolution, it searches with rules twice as long
    // over four times the pixels for the same few lines, which reads no better.
    static constexpr int screenDpi = 96;

    // The lines of what the engine was shown and recognised, in picture pixels, cut at wide gaps.
    std::vector<PixelLine> recognised(const QRect& band, double scale, double letters, bool* downwards = nullptr) {
        if (api.Recognize(nullptr) != 0) {
            api.Clear();
            throw RecognitionError(QStringLiteral("Text recognition failed on this picture."));
        }
        std::vector<PixelLine> lines;
        std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
        if (it) {
            do {
                if (it->Empty(tesseract::RIL_SYMBOL))
                    continue;
                if (lines.empty() || it->IsAtBeginningOf(tesseract::RIL_TEXTLINE)) {
                    lines.emplace_back();
                    float rowHeight = 0, descenders = 0, ascenders = 0;
                    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
                    it->RowAttributes(&rowHeight, &descenders, &ascenders);
                    if (it->Baseline(tesseract::RIL_TEXTLINE, &x1, &y1, &x2, &y2) && rowHeight > 0) {
                        const double base = (y1 + y2) / 2.0 - margin;
                        lines.back().letterTop = band.y() + (base - rowHeight) / scale;
                        lines.back().letterBottom = band.y() + (base - std::min(0.0f, descenders)) / scale;
                    }
                }
                auto& words = lines.back().words;
                if (words.empty() || it->IsAtBeginningOf(tesseract::RIL_WORD))
                    words.push_back({toPicture(*it, tesseract::RIL_WORD, band, scale), {}});
                std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_SYMBOL));
                if (text && *text.get())
                    words.back().symbols.emplace_back(QString::fromUtf8(text.get()),
                                                      toPicture(*it, tesseract::RIL_SYMBOL, band, scale));
            } while (it->Next(tesseract::RIL_SYMBOL));
        }
        api.Clear();
        // The engine can take a column of single letters (a meter's numbers, a table's column of
        // states) for one word written downwards. A screen holds no such writing: the column was
        // taken for a column of the page where it is a field of each row.
        const auto erased = std::erase_if(lines, [&](PixelLine& line) {
            // A word read as nothing but white space is not read: left in, it would hide its ink
            // from the second reading of what was left out.
            std::erase_if(line.words, [&](const Word& w) {
                return std::all_of(w.symbols.begin(), w.symbols.end(),
                                   [](const auto& symbol) { return symbol.first.trimmed().isEmpty(); }) ||
                       !inked(w.box);
            });
            if (!line.words.empty()) {
                std::vector<double> heights;
                for (const Word& word : line.words)
                    heights.push_back(word.box.height());
                const double usual = median(heights);
                for (Word& word : line.words)
                    if (word.box.height() > 1.5 * usual)
                        fitToInk(word.box);
            }
            const QRectF ink = line.words.empty() ? QRectF() : lineBox(line.words);
            return ink.height() > 2 * std::max(8.0, letters) && ink.height() > ink.width();
        });
        if (downwards)
            *downwards = erased > 0;
        return splitAtWideGaps(std::move(lines), *uprights);
    }

    // The layout can take text for a picture (a dense run of a meter's bars with the labels beside
    // it) and leave it out of the reading altogether. Ink of a few lines' size that nothing read
    // covers is read again as one block, with what was read blanked out; what holds no letter or
    // figure there is not kept.
    void readLeftOut(const QImage& framed, const QRect& band, double scale, double letters,
                     std::vector<PixelLine>& lines) {
        const double line = std::max(8.0, letters) * scale;
        QImage rest = framed.copy();
        const double pad = std::max(2.0, line / 4);
        for (const PixelLine& read : lines)
            for (const Word& word : read.words) {
                const QRect cover = QRectF((word.box.x() - band.x()) * scale + margin - pad,
                                           (word.box.y() - band.y()) * scale + margin - pad,
                                           word.box.width() * scale + 2 * pad, word.box.height() * scale + 2 * pad)
                                        .toAlignedRect()
                                        .intersected(rest.rect());
                for (int y = cover.top(); y <= cover.bottom(); ++y)
                    std::memset(rest.scanLine(y) + cover.left(), 255, size_t(cover.width()));
            }
        // Runs of rows holding ink nobody read, two lines of empty rows apart at most: the lines of a
        // table's column stand further apart than a paragraph's, by the cells' padding and borders (a
        // cell padded 6 or 7 pixels at 1x is a line and a half and more from the next).
        std::vector<QRect> parts;
        QRect part;
        int emptyRows = 0;
        for (int y = 0; y <= rest.height(); ++y) {
            const auto [left, right] =
                y < rest.height() ? inkSpan(rest.constScanLine(y), 0, rest.width() - 1, 128) : std::pair{-1, -1};
            if (right >= 0) {
                part = part.isNull() ? QRect(left, y, right - left + 1, 1)
                                     : part.united(QRect(left, y, right - left + 1, 1));
                emptyRows = 0;
            } else if (!part.isNull() && (++emptyRows > 2 * line || y == rest.height())) {
                // A line's worth of it, or a column of a few lines' starts.
                if (part.height() >= 0.6 * line &&
                    (part.width() >= 4 * line || (part.height() >= 2 * line && part.width() >= line)))
                    parts.push_back(part);
                part = QRect();
            }
        }
        if (parts.empty())
            return;
        api.SetPageSegMode(tesseract::PSM_SINGLE_BLOCK);
        for (const QRect& found : parts) {
            api.SetImage(rest.constBits(), rest.width(), rest.height(), 1, int(rest.bytesPerLine()));
            api.SetSourceResolution(screenDpi);
            const QRect padded = found.adjusted(-margin, -margin, margin, margin).intersected(rest.rect());
            api.SetRectangle(padded.x(), padded.y(), padded.width(), padded.height());
            for (PixelLine& more : recognised(band, scale, letters)) {
                if (hasLetterOrDigit(more))
                    lines.push_back(std::move(more));
            }
        }
    }

    static QRectF toPicture(const tesseract::PageIterator& it, tesseract::PageIteratorLevel level, const QRect& band,
                            double scale) {
        int left = 0, top = 0, right = 0, bottom = 0;
        it.BoundingBox(level, &left, &top, &right, &bottom);
        return QRectF(band.x() + (left - margin) / scale, band.y() + (top - margin) / scale, (right - left) / scale,
                      (bottom - top) / scale);
    }

    tesseract::TessBaseAPI api;
};

// A worker that has read nothing for this long retires: warm engines make a second reading soon
// after the first quick, but each holds tens of megabytes that an idle program should not keep.
constexpr int idleEngineMs = 15000;

// The engines, by languages, shared by the workers: a band takes any engine of its languages that
// is free, or makes one, and hands it back once read. An engine made for one worker serves them
// all, so a picture of few bands followed by one of many does not load the same language data
// over again on every other worker. When the last worker has retired, nothing has been read for a
// while: the engines go, and their memory back to the system.
class EngineShelf {
public:
    std::unique_ptr<Engine> take(const QString& languages) {
        {
            std::lock_guard lock(mutex);
            auto& free = shelves[languages];
            if (!free.empty()) {
                std::unique_ptr<Engine> engine = std::move(free.back());
                free.pop_back();
                return engine;
            }
        }
        return std::make_unique<Engine>(languages);
    }

    void putBack(const QString& languages, std::unique_ptr<Engine> engine) {
        std::lock_guard lock(mutex);
        shelves[languages].push_back(std::move(engine));
    }

    void workerStarted() {
        std::lock_guard lock(mutex);
        ++workers;
    }

    void workerRetired() {
        std::map<QString, std::vector<std::unique_ptr<Engine>>> going;
        {
            std::lock_guard lock(mutex);
            if (--workers > 0)
                return;
            going.swap(shelves);
        }
        if (going.empty())
            return;
        going.clear();
        Memory::giveBack();
    }

private:
    std::mutex mutex;
    std::map<QString, std::vector<std::unique_ptr<Engine>>> shelves;
    int workers = 0;
};

// Outlives the workers, which may still be winding down when the program ends.
EngineShelf& shelf() {
    static auto* engines = new EngineShelf;
    return *engines;
}

// Marks the calling worker as one of the shelf's for as long as the thread lives.
void joinShelf() {
    struct Worker {
        Worker() {
            keepThisThreadSingle();
            shelf().workerStarted();
        }
        ~Worker() { shelf().workerRetired(); }
    };
    thread_local Worker worker;
}

// An engine taken from the shelf for one band, and put back however the reading ends.
class BorrowedEngine {
public:
    explicit BorrowedEngine(const QString& languages) : languages(languages), engine(shelf().take(languages)) {}
    ~BorrowedEngine() { shelf().putBack(languages, std::move(engine)); }
    BorrowedEngine(const BorrowedEngine&) = delete;
    BorrowedEngine& operator=(const BorrowedEngine&) = delete;
    Engine* operator->() const { return engine.get(); }

private:
    QString languages;
    std::unique_ptr<Engine> engine;
};

QThreadPool& workers() {
    // A worker retires after a while without work; the last to go takes the engines with it.
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(recognitionThreads());
        p->setExpiryTimeout(idleEngineMs);
        return p;
    }();
    return *pool;
}

} // namespace

QString tesseractLanguages(const QStringList& uiLanguages, const QStringList& installed) {
    QStringList chosen;
    for (const QString& name : uiLanguages) {
        const QString code = tesseractCode(QLocale(name));
        if (!code.isEmpty() && !chosen.contains(code) && installed.contains(code))
            chosen << code;
    }
    // English last: the engine tries the languages in turn and keeps the first that reads a word
    // well, so the user's own language first costs English pages little and saves its own pages
    // a second reading of most words.
    chosen.removeAll(QStringLiteral("eng"));
    chosen << QStringLiteral("eng");
    return chosen.join(u'+');
}

// Bands per picture, whatever the number of cores: where the cuts fall changes what the engine
// makes of a table or a code block next to them, and one picture should read the same on every
// machine. Two bands per engine on eight cores keeps the engines evenly busy.
constexpr int bandCount = 16;

QString recognitionLanguages() {
    static const QString languages = chooseLanguages();
    return languages;
}

int recognitionThreads() {
    return std::clamp(QThread::idealThreadCount(), 1, 8);
}

std::vector<Line> recognise(const QImage& image, const RecognitionOptions& options) {
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        throw RecognitionError(QStringLiteral("The picture could not be read for text recognition."));
    prepareOnce();
    const PageScan scan(image);
    const double scale = options.scale > 0 ? options.scale : scan.scale(options.lineHeight);
    const std::vector<Band> bands =
        options.cuts.empty() ? scan.bands(options.bands > 0 ? options.bands : bandCount) : scan.bandsAt(options.cuts);

    const QString languages = options.languages.isEmpty() ? recognitionLanguages() : options.languages;
    std::vector<std::vector<PixelLine>> results(bands.size());
    std::vector<std::exception_ptr> errors(bands.size());
    std::latch done(qsizetype(bands.size()));
    for (size_t i = 0; i < bands.size(); ++i)
        workers().start([&, i] {
            try {
                joinShelf();
                const BorrowedEngine engine(languages);
                results[i] =
                    engine->read(scan.grey(), bands[i].extent, scale, scan.textHeight(), scan.barRuns(), scan.rules());
            } catch (...) {
                errors[i] = std::current_exception();
            }
            done.count_down();
        });
    done.wait();
    for (const auto& error : errors)
        if (error)
            std::rethrow_exception(error);

    // Bands overlap where a cut could not avoid text; a line belongs to the band whose own rows
    // hold its middle, so a line read twice is kept once and a line cut in half is dropped.
    std::vector<const PixelLine*> kept;
    for (size_t i = 0; i < bands.size(); ++i)
        for (const PixelLine& line : results[i])
            if (bands[i].ownsRow(line.box.center().y()))
                kept.push_back(&line);
    dropDoubleReadings(kept);
    dropSpecks(kept);
    std::vector<PixelLine> apart;
    keepLettersApart(kept, apart);
    std::vector<Line> lines;
    const QSizeF size = image.size();
    for (const PixelLine* line : kept)
        lines.push_back(toLine(*line, size));
    if (options.rules)
        for (const QRect& r : scan.rules())
            options.rules->emplace_back(r.x() / size.width(), 1 - (r.y() + r.height()) / size.height(),
                                        r.width() / size.width(), r.height() / size.height());
    return lines;
}

} // namespace TextVision
