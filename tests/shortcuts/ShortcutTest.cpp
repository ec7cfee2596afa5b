#include "platform/Defaults.h"
#include "shortcuts/KeyCodes.h"
#include "shortcuts/Shortcut.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const Shortcut superShiftD{2, Shortcut::command | Shortcut::shift, QStringLiteral("D")};

} // namespace

TEST(Shortcut, StoredFormKeepsTheFieldOrderAndRoundTrips) {
    EXPECT_EQ(superShiftD.json(), QByteArray(R"({"keyCode":2,"modifiers":768,"keyName":"D"})"));
    for (const Shortcut& s : {superShiftD, Shortcut{36, Shortcut::control, QStringLiteral("\u21a9")},
                              Shortcut{42, Shortcut::option, QStringLiteral("\\")},
                              Shortcut{39, Shortcut::command, QStringLiteral("\"")}}) {
        SCOPED_TRACE(s.json().toStdString());
        const auto back = Shortcut::fromJson(s.json());
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, s);
    }
}

TEST(Shortcut, DamagedStoredDataLoadsAsTheDefaultAndStaysInPlace) {
    QTemporaryDir dir;
    Defaults defaults(dir.path(), QStringLiteral("test"));
    const Shortcut def{1, Shortcut::command | Shortcut::shift, QStringLiteral("S")};
    const QVariant cases[] = {
        QByteArray(),
        QByteArray("not json"),
        QByteArray("[2,768,\"D\"]"),
        QByteArray(R"({"keyCode":2,"modifiers":768})"),
        QByteArray(R"({"keyCode":"2","modifiers":768,"keyName":"D"})"),
        QByteArray(R"({"keyCode":2.5,"modifiers":768,"keyName":"D"})"),
        QByteArray(R"({"keyCode":1e20,"modifiers":768,"keyName":"D"})"),
        QByteArray(R"({"keyCode":2,"modifiers":768,"keyName":null})"),
        QByteArray(R"({"keyCode":2,"modifiers":768,"keyName":"D")"),
        QStringLiteral(R"({"keyCode":2,"modifiers":768,"keyName":"D"})"), // a string, not data
        QVariant(qlonglong(2)),
    };
    for (const QVariant& stored : cases) {
        SCOPED_TRACE(stored.toString().toStdString());
        defaults.set(QStringLiteral("shortcut.library"), stored);
        EXPECT_EQ(Shortcut::load(QStringLiteral("library"), def, defaults), def);
        EXPECT_EQ(defaults.object(QStringLiteral("shortcut.library")), stored);
    }

    // Unknown extra fields do not spoil a good value.
    defaults.set(QStringLiteral("shortcut.library"),
                 QByteArray(R"({"keyName":"D","extra":true,"modifiers":768,"keyCode":2})"));
    EXPECT_EQ(Shortcut::load(QStringLiteral("library"), def, defaults), superShiftD);

    superShiftD.save(QStringLiteral("capture"), defaults);
    EXPECT_EQ(defaults.data(QStringLiteral("shortcut.capture")), superShiftD.json());
    EXPECT_EQ(Shortcut::load(QStringLiteral("capture"), def, defaults), superShiftD);
    EXPECT_EQ(Shortcut::load(QStringLiteral("nothing"), def, defaults), def);
}

TEST(Shortcut, DisplayStringsUseDesktopWords) {
    const struct {
        Shortcut shortcut;
        const char* shown;
    } cases[] = {
        {superShiftD, "Super+Shift+D"},
        {{40, 0x1000 | 0x800 | 0x200 | 0x100, QStringLiteral("K")}, "Super+Ctrl+Alt+Shift+K"},
        {{96, 0, QStringLiteral("F5")}, "F5"},
        {{36, Shortcut::control | Shortcut::shift, QStringLiteral("\u21a9")}, "Ctrl+Shift+\u21a9"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.shortcut.display(), QString::fromUtf8(c.shown));
}

TEST(Shortcut, AcceptanceRule) {
    const struct {
        const char* name;
        int keyCode, modifiers;
        QString characters;
        std::optional<Shortcut> expected;
    } cases[] = {
        {"shift alone is not enough", 0, Shortcut::shift, QStringLiteral("a"), std::nullopt},
        {"no modifier", 0, 0, QStringLiteral("a"), std::nullopt},
        {"super+A", 0, Shortcut::command, QStringLiteral("a"), Shortcut{0, 0x100, QStringLiteral("A")}},
        {"name from the table, not the characters", 49, Shortcut::command, QStringLiteral(" "),
         Shortcut{49, 0x100, QStringLiteral("Space")}},
        {"F5 alone", 96, 0, QString(), Shortcut{96, 0, QStringLiteral("F5")}},
        {"shift+F5", 96, Shortcut::shift, QString(), Shortcut{96, 0x200, QStringLiteral("F5")}},
        {"white space only", 10, Shortcut::command, QStringLiteral(" \n\t"), std::nullopt},
        {"nothing typed", 114, Shortcut::control, QString(), std::nullopt},
        {"unknown bits are dropped", 2, Shortcut::control | 0x4000, QStringLiteral("d"),
         Shortcut{2, 0x1000, QStringLiteral("D")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Shortcut::fromKey(c.keyCode, c.modifiers, c.characters), c.expected);
    }
}

TEST(KeyCodes, EveryCodeMapsToOneKeysymAndBack) {
    int mapped = 0;
    for (int code = 0; code < 128; ++code) {
        const quint32 sym = KeyCodes::keysym(code);
        if (!sym)
            continue;
        ++mapped;
        EXPECT_EQ(KeyCodes::keyCode(sym), code) << "code " << code;
    }
    EXPECT_GT(mapped, 90);
    EXPECT_EQ(KeyCodes::keyCode('D'), 2);    // upper case finds the key too
    EXPECT_FALSE(KeyCodes::keyCode(0xfe03)); // ISO_Level3_Shift has no position code

    const struct {
        quint32 keysym;
        const char* characters;
    } typed[] = {{'d', "D"},      {'/', "/"},   {0xffb1, "1"},    {0xffaa, "*"},         {0xffca, "F13"},
                 {0xffd0, "F19"}, {0xff0d, ""}, {0xe9, "\u00c9"}, {0x010003b1, "\u0391"}};
    for (const auto& t : typed)
        EXPECT_EQ(KeyCodes::characters(t.keysym), QString::fromUtf8(t.characters)) << t.keysym;
}
