#include "TerminalScreens.h"

#include <QMap>
#include <QRegularExpression>
#include <algorithm>
#include <array>
#include <random>

namespace TerminalScreens {

namespace {

const QString esc(QChar(0x1b));

QString randomOf(std::mt19937& random, const char* alphabet, int n) {
    const QString letters = QString::fromLatin1(alphabet);
    QString out;
    for (int i = 0; i < n; ++i)
        out += letters[int(random() % unsigned(letters.size()))];
    return out;
}

const char* const digits = "0123456789";
const char* const alnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// Letters and digits drawn at random, at least one of each, as keys are.
QString keyBody(std::mt19937& random, int n, const char* alphabet = alnum) {
    for (;;) {
        const QString body = randomOf(random, alphabet, n);
        if (std::any_of(body.begin(), body.end(), [](QChar c) { return c.isDigit(); }) &&
            std::any_of(body.begin(), body.end(), [](QChar c) { return c.isLetter(); }))
            return body;
    }
}

QString grouped(const QString& compact, QChar joint) {
    QStringList groups;
    for (qsizetype i = 0; i < compact.size(); i += 4)
        groups << compact.mid(i, 4);
    return groups.join(joint);
}

// Sixteen digits that pass a card's check, starting as a card network's numbers do.
QString cardNumber(std::mt19937& random) {
    static const char* const starts[] = {"4", "51", "52", "53", "54", "55", "2221", "6011"};
    QString number = QString::fromLatin1(starts[random() % 8]);
    number += randomOf(random, digits, int(15 - number.size()));
    int sum = 0;
    for (qsizetype i = number.size() - 1, k = 0; i >= 0; --i, ++k) {
        int d = number[i].digitValue();
        if (k % 2 == 0)
            d = d * 2 > 9 ? d * 2 - 9 : d * 2;
        sum += d;
    }
    return number + QString::number((10 - sum % 10) % 10);
}

// A German account number with its right check digits.
QString iban(std::mt19937& random) {
    const QString account = randomOf(random, digits, 18);
    int remainder = 0;
    for (const QChar c : account + QStringLiteral("131400"))
        remainder = (remainder * 10 + c.digitValue()) % 97;
    const QString compact = QStringLiteral("DE%1").arg(98 - remainder, 2, 10, QChar(u'0')) + account;
    return grouped(compact, u' ');
}

QString phone(std::mt19937& random) {
    switch (random() % 4) {
    case 0:
        return "+49 30 " + randomOf(random, digits, 4) + " " + randomOf(random, digits, 4);
    case 1:
        return "+44 20 " + randomOf(random, digits, 4) + " " + randomOf(random, digits, 4);
    case 2:
        return "+46 70 " + randomOf(random, digits, 3) + " " + randomOf(random, digits, 2) + " " +
               randomOf(random, digits, 2);
    default:
        return "+33 6 " + randomOf(random, digits, 2) + " " + randomOf(random, digits, 2) + " " +
               randomOf(random, digits, 2) + " " + randomOf(random, digits, 2);
    }
}

QString address(std::mt19937& random) {
    static const char* const names[] = {"anna", "jonas", "billing", "ops", "mira", "li.wei", "support", "k.novak"};
    static const char* const hosts[] = {"example-corp", "kestrel-freight", "mail.example", "northwind", "acme-labs"};
    static const char* const tops[] = {"com", "org", "io", "de", "co.uk"};
    return QString::fromLatin1(names[random() % 8]) + QChar(u'.') + randomOf(random, "abcdefghijklmnopqrstuvwxyz", 4) +
           QChar(u'@') + QString::fromLatin1(hosts[random() % 5]) + QChar(u'.') +
           QString::fromLatin1(tops[random() % 5]);
}

QString stretch(QString before, int width) {
    while (before.size() < width)
        before += u' ';
    return before;
}

// The X fonts in character cells by family, weight and width, each with the names of its sizes.
QMap<QString, QMap<int, QString>> cellFonts(const Runner& run) {
    QMap<QString, QMap<int, QString>> out;
    for (const char* spacing : {"c", "m"}) {
        const QString listed =
            run(QStringLiteral("xlsfonts"),
                {QStringLiteral("-fn"), QStringLiteral("-*-*-*-r-*--*-*-*-*-%1-*-iso10646-1").arg(spacing)});
        for (const QString& name : listed.split(u'\n', Qt::SkipEmptyParts)) {
            const QStringList f = name.trimmed().split(u'-');
            if (f.size() != 15 || f[7].toInt() == 0 || (f[3] != u"medium" && f[3] != u"bold"))
                continue;
            const QString key = f[1] + u'-' + f[2] + u'-' + f[5] + u'-' + f[3];
            if (!out[key].contains(f[7].toInt()))
                out[key][f[7].toInt()] = name.trimmed();
        }
    }
    return out;
}

// The sizes nearest the ones wanted, each another.
std::vector<int> nearestSizes(const std::vector<int>& have, std::array<int, 3> wanted) {
    std::vector<int> out;
    for (const int size : wanted) {
        int best = -1;
        for (const int h : have)
            if (std::find(out.begin(), out.end(), h) == out.end() &&
                (best < 0 || std::abs(h - size) < std::abs(best - size)))
                best = h;
        if (best > 0)
            out.push_back(best);
    }
    std::sort(out.begin(), out.end());
    return out;
}

constexpr std::array<std::pair<Shade, bool>, 6> shadings{{{Shade::Plain, false},
                                                          {Shade::Reverse, true},
                                                          {Shade::Coloured, false},
                                                          {Shade::Plain, true},
                                                          {Shade::Reverse, false},
                                                          {Shade::Coloured, true}}};

} // namespace

QString Face::name() const {
    static const char* const terminals[] = {"xterm", "urxvt", "vte"};
    static const char* const shades[] = {"plain", "reverse", "coloured"};
    QString face = family;
    if (bitmap) {
        const QStringList f = family.split(u'-');
        face = f.size() > 5 ? f[2] + (f[5] == u"normal" ? QString() : u' ' + f[5]) : family;
    }
    return QStringLiteral("%1 %2%3 %4 %5px %6%7")
        .arg(QString::fromLatin1(terminals[int(terminal)]), bitmap ? QStringLiteral("bitmap ") : QString(), face,
             bold ? QStringLiteral("bold") : QStringLiteral("regular"), QString::number(pixels),
             QString::fromLatin1(shades[int(shade)]), wrapped ? QStringLiteral(" wrapped") : QString());
}

std::vector<Face> faceSpace(const Runner& run) {
    std::vector<Face> out;
    // Outline faces, by the first of their names, with the weights they have.
    QMap<QString, bool> families;
    for (const QString& line : run(QStringLiteral("fc-list"),
                                   {QStringLiteral(":spacing=mono"), QStringLiteral("family"), QStringLiteral("style")})
                                   .split(u'\n', Qt::SkipEmptyParts)) {
        const QString family = line.section(u':', 0, 0).section(u',', 0, 0).trimmed();
        const QString style = line.section(QStringLiteral("style="), 1);
        if (!family.isEmpty())
            families[family] = families.value(family) || style.split(u',').contains(QStringLiteral("Bold"));
    }
    int f = 0;
    for (auto it = families.begin(); it != families.end(); ++it, ++f) {
        int k = 0;
        for (const bool bold : {false, true}) {
            if (bold && !it.value())
                continue;
            for (const int pixels : {14, 18, 28}) {
                const auto [shade, wrapped] = shadings[size_t(k + f) % shadings.size()];
                // The terminal goes round the other way, so that each meets every shade across the families.
                out.push_back({Terminal((f + 2 * k) % 3), false, it.key(), bold, pixels, shade, wrapped});
                ++k;
            }
        }
    }
    // Character-cell X fonts, each weight at three of its sizes, in the two terminals that draw them.
    const QMap<QString, QMap<int, QString>> cells = cellFonts(run);
    for (auto it = cells.begin(); it != cells.end(); ++it, ++f) {
        const std::vector<int> have(it.value().keyBegin(), it.value().keyEnd());
        int k = 0;
        for (const int pixels : nearestSizes(have, {13, 16, 20})) {
            const auto [shade, wrapped] = shadings[size_t(k + f) % shadings.size()];
            out.push_back({Terminal((f + k / 2) % 2), true, it.value()[pixels], it.key().endsWith(u"bold"), pixels,
                           shade, wrapped});
            ++k;
        }
    }
    return out;
}

std::vector<size_t> fewFaces(const std::vector<Face>& all, const QStringList& names) {
    std::vector<size_t> out;
    for (const QString& name : names)
        for (size_t i = 0; i < all.size(); ++i)
            if (all[i].name() == name) {
                out.push_back(i);
                break;
            }
    return out;
}

std::vector<Row> rowsFor(unsigned seed, bool wrapped, int columns) {
    std::mt19937 random(seed);
    const QString card = cardNumber(random), spaced = cardNumber(random), hyphened = cardNumber(random);
    std::vector<Row> rows{
        {"e-mail", "Contact ", address(random), " for invoices"},
        {"IBAN", "IBAN ", iban(random), " (Berlin)"},
        {"card plain", "Card ", card, " on file"},
        {"card spaced", "Backup card ", grouped(spaced, u' '), " expires 09/29"},
        {"card hyphened", "Company card ", grouped(hyphened, u'-'), " limit 500"},
        {"phone international", "Ring ", phone(random), " after nine"},
        {"phone national", "or from home ",
         "0" + randomOf(random, "123456789", 2) + " " + randomOf(random, digits, 4) + " " + randomOf(random, digits, 4),
         " at weekends"},
        {"identity number", "Personnummer ",
         QStringLiteral("19%1%2%3-%4")
             .arg(50 + random() % 50)
             .arg(1 + random() % 12, 2, 10, QChar(u'0'))
             .arg(1 + random() % 28, 2, 10, QChar(u'0'))
             .arg(randomOf(random, digits, 4)),
         " on the form"},
        {"key sk", "STRIPE_SECRET=", "sk_live_" + keyBody(random, 24), ""},
        {"key pk", "STRIPE_PUBLIC=", "pk_test_" + keyBody(random, 24), ""},
        {"key rk", "STRIPE_RESTRICTED=", "rk_live_" + keyBody(random, 20), ""},
        {"key ghp", "GITHUB_TOKEN=", "ghp_" + keyBody(random, 36), ""},
        {"key gho", "OAUTH_TOKEN=", "gho_" + keyBody(random, 32), ""},
        {"key xoxb", "SLACK_BOT=",
         "xoxb-" + randomOf(random, digits, 4) + "-" + randomOf(random, digits, 4) + "-" +
             randomOf(random, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 16),
         ""},
        {"key xoxa", "SLACK_APP=",
         "xoxa-" + randomOf(random, digits, 4) + "-" + randomOf(random, digits, 4) + "-" + keyBody(random, 14), ""},
        {"key xoxp", "SLACK_USER=",
         "xoxp-" + randomOf(random, digits, 4) + "-" + randomOf(random, digits, 4) + "-" + keyBody(random, 14), ""},
        {"key AKIA", "AWS_ACCESS_KEY_ID=", "AKIA" + keyBody(random, 16, "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567"), ""},
        {"key AIza", "MAPS_KEY=",
         "AIza" + keyBody(random, 35, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"), ""},
        {"long token", "session ", keyBody(random, 40, "0123456789abcdef"), " expires"},
        {"JWT", "Bearer ",
         "eyJhbGciOiJIUzI1NiJ9.eyJ" + keyBody(random, 17) + "." +
             keyBody(random, 27, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
         ""},
        {"token in link", "https://accounts.example.com/reset?token=", keyBody(random, 32), ""},
    };
    // Every other long secret cut by the right edge, each at another of its columns.
    static const int cuts[] = {2, 4, 5, 7, 9, 11, 3, 6, 8, 10};
    int cut = int(seed % 10), every = 0;
    for (Row& row : rows) {
        const int length = int(row.secret.size());
        if (wrapped && length >= 12 && every++ % 2 == 0) {
            const int split = std::min(cuts[cut++ % 10], length - 3);
            if (int(row.before.size()) < columns - split) {
                row.before = stretch(row.before, columns - split);
                row.split = split;
            }
        }
        // A row too long for the window wraps where it wraps.
        const int start = int(row.before.size());
        if (row.split == 0 && start < columns && start + length > columns)
            row.split = columns - start;
    }
    return rows;
}

QString script(const std::vector<Row>& rows, Shade shade) {
    const char* colours[] = {"1;31", "1;35", "32", "33", "1;36", "1;34"};
    const bool dark = shade == Shade::Coloured;
    // The title, the colours of the ground and the type, the screen cleared in them, and reverse video.
    QString out = QStringLiteral("printf '%1]0;secrets\\007%1]10;%2\\007%1]11;%3\\007%1[H%1[2J%4'\n")
                      .arg(esc, dark ? "#d0d0d0" : "#000000", dark ? "#1c1c1c" : "#ffffff",
                           shade == Shade::Reverse ? esc + "[?5h" : QString());
    if (dark)
        out += QStringLiteral("printf '%s\\n' '%1[1;32muser@host%1[0m:~$ grep -r secret notes'\n").arg(esc);
    int n = 0;
    for (const Row& row : rows) {
        const QString secret = dark ? esc + "[" + colours[n++ % 6] + "m" + row.secret + esc + "[0m" : row.secret;
        out += "printf '%s\\n' '" + row.before + secret + row.after + "'\n";
    }
    return out + "exec sleep 100000\n";
}

QString program(const Face& face) {
    switch (face.terminal) {
    case Terminal::Xterm:
        return QStringLiteral("xterm");
    case Terminal::Urxvt:
        return QStringLiteral("urxvt");
    case Terminal::Vte:
        break;
    }
    return QStringLiteral("sakura");
}

QStringList arguments(const Face& face, int columns, int lines, const QString& script) {
    const QString size = QStringLiteral("%1x%2+2+40").arg(columns).arg(lines);
    const QString pattern =
        QStringLiteral("%1:pixelsize=%2%3").arg(face.family).arg(face.pixels).arg(face.bold ? ":style=Bold" : "");
    switch (face.terminal) {
    case Terminal::Xterm:
        return QStringList{face.bitmap ? "-fn" : "-fa", face.bitmap ? face.family : pattern} +
               QStringList{"-geometry", size, "-title", "secrets", "-e", "sh", script};
    case Terminal::Urxvt:
        return QStringList{"-fn", face.bitmap ? face.family : "xft:" + pattern} +
               QStringList{"+sb", "-geometry", size, "-title", "secrets", "-e", "sh", script};
    case Terminal::Vte:
        break;
    }
    return {"-c",  QString::number(columns),
            "-r",  QString::number(lines),
            "-f",  QStringLiteral("%1%2 %3px").arg(face.family, face.bold ? " Bold" : "").arg(face.pixels),
            "-e",  "sh",
            script};
}

QStringList pieces(const QString& secret) {
    const QString compact = QString(secret).remove(u' ');
    if (compact.size() <= 6)
        return {compact};
    QStringList out;
    for (qsizetype i = 0; i + 6 <= compact.size(); ++i)
        out << compact.mid(i, 6);
    return out;
}

} // namespace TerminalScreens
