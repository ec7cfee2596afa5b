#include "card/ToolbarPrefs.h"
#include "platform/Defaults.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>

namespace {

QStringList ids(std::initializer_list<const char*> names) {
    QStringList list;
    for (const char* name : names)
        list.append(QString::fromLatin1(name));
    return list;
}

QVariantList array(const QStringList& list) {
    QVariantList out;
    for (const QString& s : list)
        out.append(s);
    return out;
}

const QStringList catalogueOrder = ids({"annotate", "crop", "resize", "rotate", "text", "pin", "translate", "redact",
                                        "cutout", "scroll", "rename", "compress", "share", "library"});

QSet<QString> setOf(const QStringList& list) {
    return QSet<QString>(list.begin(), list.end());
}

struct Store {
    QTemporaryDir dir;
    Defaults defaults{dir.path(), QStringLiteral("prefs")};
    // Reads the file afresh, so what is checked is what reached the disk.
    Defaults reread() {
        defaults.flush();
        return Defaults(dir.path(), QStringLiteral("prefs"));
    }
};

} // namespace

TEST(ToolbarOrder, IsAlwaysAPermutationOfTheCatalogue) {
    struct Case {
        const char* name;
        std::optional<QVariant> stored;
        QStringList expected;
    };
    const QStringList shareCropFirst = ids({"share", "crop", "annotate", "resize", "rotate", "text", "pin", "translate",
                                            "redact", "cutout", "scroll", "rename", "compress", "library"});
    const Case cases[] = {
        {"nothing stored", std::nullopt, catalogueOrder},
        {"empty list", QVariantList{}, catalogueOrder},
        {"unknown ids and repeats dropped", array(ids({"share", "sparkle", "share", "crop"})), shareCropFirst},
        {"not a list", QStringLiteral("share,crop"), catalogueOrder},
        {"entries that are not strings skipped",
         QVariantList{qlonglong(3), QStringLiteral("share"), true, QStringLiteral("crop")}, shareCropFirst},
        {"case matters", array(ids({"Share", "CROP"})), catalogueOrder},
    };
    for (const Case& c : cases) {
        Store store;
        if (c.stored)
            store.defaults.set(ToolbarPrefs::orderKey, *c.stored);
        EXPECT_EQ(ToolbarPrefs::order(store.defaults), c.expected) << c.name;
    }
}

TEST(ToolbarHidden, ReadsAStoredSetAndKeepsUnknownIds) {
    struct Case {
        const char* name;
        std::optional<QVariant> stored;
        QSet<QString> expected;
    };
    const Case cases[] = {
        {"nothing stored", std::nullopt, {}},
        {"ids, unknown ones kept", array(ids({"pin", "sparkle", "pin"})), setOf(ids({"pin", "sparkle"}))},
        {"not a list", QStringLiteral("pin"), {}},
        {"entries that are not strings skipped", QVariantList{1.5, QStringLiteral("crop")}, setOf(ids({"crop"}))},
    };
    for (const Case& c : cases) {
        Store store;
        if (c.stored)
            store.defaults.set(ToolbarPrefs::hiddenKey, *c.stored);
        EXPECT_EQ(ToolbarPrefs::hidden(store.defaults), c.expected) << c.name;
    }
}

TEST(ToolbarMigration, EachStepRunsOnceAndKeepsTheUsersChoices) {
    struct Case {
        const char* name;
        bool shareDone, resizeRotateDone, resetDone;
        std::optional<QVariant> order, hidden;
        std::optional<QStringList> expectedOrder; // nothing: the key is absent afterwards
        std::optional<QStringList> expectedHidden;
    };
    const Case cases[] = {
        {"fresh install", false, false, false, std::nullopt, std::nullopt, std::nullopt, QStringList{}},
        {"first launch with a stored order loses the order but keeps resize and rotate shown", false, false, false,
         array(ids({"pin", "crop"})), array(ids({"rotate", "pin"})), std::nullopt, ids({"pin"})},
        {"share before library even at the front; resize and rotate after crop and shown", false, false, true,
         array(ids({"library", "share", "crop", "resize", "annotate"})), array(ids({"rotate", "pin"})),
         ids({"share", "library", "crop", "resize", "rotate", "annotate", "text", "pin", "translate", "redact",
              "cutout", "scroll", "rename", "compress"}),
         ids({"pin"})},
        {"share step alone fills in missing tools", false, true, true, array(ids({"library", "crop"})), std::nullopt,
         ids({"share", "library", "crop", "annotate", "resize", "rotate", "text", "pin", "translate", "redact",
              "cutout", "scroll", "rename", "compress"}),
         std::nullopt},
        {"resize/rotate step without a stored order writes only the hidden set", true, false, true, std::nullopt,
         array(ids({"resize", "sparkle"})), std::nullopt, ids({"sparkle"})},
        {"resize/rotate step replaces a damaged hidden set", true, false, true, std::nullopt, QStringLiteral("resize"),
         std::nullopt, QStringList{}},
        {"a damaged order is left for the reader to ignore", false, true, true, QStringLiteral("share"), std::nullopt,
         std::nullopt, std::nullopt},
        {"all steps done: nothing touched", true, true, true, array(ids({"pin", "crop"})),
         array(ids({"resize", "rotate"})), ids({"pin", "crop"}), ids({"resize", "rotate"})},
    };
    for (const Case& c : cases) {
        Store store;
        Defaults& d = store.defaults;
        if (c.shareDone)
            d.set(ToolbarPrefs::shareStepKey, true);
        if (c.resizeRotateDone)
            d.set(ToolbarPrefs::resizeRotateStepKey, true);
        if (c.resetDone)
            d.set(ToolbarPrefs::orderResetStepKey, true);
        if (c.order)
            d.set(ToolbarPrefs::orderKey, *c.order);
        if (c.hidden)
            d.set(ToolbarPrefs::hiddenKey, *c.hidden);
        const QVariant damagedOrder = d.object(ToolbarPrefs::orderKey);

        ToolbarPrefs::adoptNewDefaultOrderOnce(d);

        const Defaults after = store.reread();
        EXPECT_TRUE(after.boolValue(ToolbarPrefs::shareStepKey)) << c.name;
        EXPECT_TRUE(after.boolValue(ToolbarPrefs::resizeRotateStepKey)) << c.name;
        EXPECT_TRUE(after.boolValue(ToolbarPrefs::orderResetStepKey)) << c.name;
        if (c.expectedOrder)
            EXPECT_EQ(after.object(ToolbarPrefs::orderKey), QVariant(array(*c.expectedOrder))) << c.name;
        else if (c.order && c.order->metaType().id() == QMetaType::QString && c.resetDone)
            EXPECT_EQ(after.object(ToolbarPrefs::orderKey), damagedOrder) << c.name;
        else
            EXPECT_FALSE(after.contains(ToolbarPrefs::orderKey)) << c.name;
        if (c.expectedHidden)
            EXPECT_EQ(ToolbarPrefs::hidden(after), setOf(*c.expectedHidden)) << c.name;
        else
            EXPECT_FALSE(after.contains(ToolbarPrefs::hiddenKey)) << c.name;
        EXPECT_EQ(ToolbarPrefs::order(after).size(), 14) << c.name;

        // A later launch leaves whatever the user chose since alone.
        const QVariant chosenOrder = array(ids({"share", "library"}));
        const QVariant chosenHidden = array(ids({"resize", "rotate"}));
        d.set(ToolbarPrefs::orderKey, chosenOrder);
        d.set(ToolbarPrefs::hiddenKey, chosenHidden);
        ToolbarPrefs::adoptNewDefaultOrderOnce(d);
        EXPECT_EQ(d.object(ToolbarPrefs::orderKey), chosenOrder) << c.name;
        EXPECT_EQ(d.object(ToolbarPrefs::hiddenKey), chosenHidden) << c.name;
    }
}
