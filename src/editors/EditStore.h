#pragma once
// Keeps what an annotated picture needs to be reopened with its shapes still editable: the unannotated base
// picture and the shape records, under an id that the written file carries in a user attribute. Where the
// file system refuses user attributes, an index beside the edits folder ties the file to the id instead.

#include "editors/ShapeRecord.h"

#include <QDateTime>
#include <QImage>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>
#include <vector>

class EditStore {
public:
    EditStore() = delete;

    struct Edit {
        QString id;
        QImage base;
        std::vector<ShapeRecord> shapes;
    };

    // How the id reaches a file's user attribute. Tests swap in a file system that refuses them.
    struct Attributes {
        // The attribute's bytes, or nothing when it is absent or can't be read.
        std::function<std::optional<QByteArray>(const QString& path)> read;
        // False when the file system refuses the attribute.
        std::function<bool(const QString& path, const QByteArray& value)> write;
    };
    static Attributes& attributes();
    static Attributes systemAttributes();

    // "user.com.quillmerette.picto.edit"
    static const char* attributeName();
    // <data>/Edits and the index <data>/EditLinks.json beside it.
    static QString dir();
    static QString indexPath();

    // The stored edit of the picture file, or nothing (no id, record missing or damaged, or the file was
    // changed by someone else since the record was written).
    static std::optional<Edit> load(const QUrl& file);
    // Stores the edit of a just-written file and links the file to it; the id, or nothing on failure.
    static std::optional<QString> save(const std::optional<QString>& id, const QImage& base,
                                       const std::vector<ShapeRecord>& shapes, const QUrl& file);
    // Stores the edit of a picture written whole but not yet named, open as `fd`, and gives the picture its
    // attribute, so that it is editable from the moment it has a name. Where the file system refuses the
    // attribute, setID() once it is named puts it in the index. The id, or nothing on failure.
    static std::optional<QString> saveBeforeNaming(const std::optional<QString>& id, const QImage& base,
                                                   const std::vector<ShapeRecord>& shapes, int fd);

    // Gives a byte-for-byte copy of a linked picture an edit of its own, a new record holding the same base
    // and shapes, so that the copy reopens editable and editing either leaves the other's record alone.
    // False when the original has no intact edit or the copy is not the picture that edit describes.
    static bool linkCopy(const QUrl& original, const QUrl& copy);

    // The id the file is linked to; only an upper-case UUID counts.
    static std::optional<QString> id(const QUrl& file);
    // Links the file to the id: the attribute, else the index.
    static void setID(const QString& id, const QUrl& file);
    static bool isID(const QString& text);
    // Deletes the stored edit of a file about to go, with its base picture: a base can show what the file's
    // newer versions no longer do (a page since redacted). Other records keep their own links to a shared base.
    static void forget(const QUrl& file);
    // Deletes entries of the edits folder last modified more than 30 days before `now`.
    static void prune(const QDateTime& now = QDateTime::currentDateTimeUtc());
};
