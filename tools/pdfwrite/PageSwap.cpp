#include "PageSwap.h"

#include <qpdf/QPDFNumberTreeObjectHelper.hh>

#include <algorithm>
#include <cmath>
#include <string>

namespace PageSwap {

namespace {

using Rect = QPDFObjectHandle::Rectangle;

Rect normalised(QPDFObjectHandle box, const Rect& fallback) {
    if (!box.isRectangle())
        return fallback;
    const Rect r = box.getArrayAsRectangle();
    return Rect(std::min(r.llx, r.urx), std::min(r.lly, r.ury), std::max(r.llx, r.urx), std::max(r.lly, r.ury));
}

// The part of the page a reader draws, as the decoder drew it: the crop box within the media box, turned by
// the page's rotation in quarter turns (a rotation that is no multiple of 90 counts by its whole quarters).
struct Shown {
    Rect box;
    int quarters = 0;
    double width() const { return quarters % 2 ? box.ury - box.lly : box.urx - box.llx; }
    double height() const { return quarters % 2 ? box.urx - box.llx : box.ury - box.lly; }

    // A point of the page's own space as it lies on the page as shown, origin bottom left.
    void toShown(double x, double y, double* sx, double* sy) const {
        const double u = x - box.llx, v = y - box.lly, w = box.urx - box.llx, h = box.ury - box.lly;
        switch (quarters) {
        case 1:
            *sx = v, *sy = w - u;
            break;
        case 2:
            *sx = w - u, *sy = h - v;
            break;
        case 3:
            *sx = h - v, *sy = u;
            break;
        default:
            *sx = u, *sy = v;
        }
    }

    // The matrix that puts the unit square, upright as shown, onto the page's own space.
    std::string placing() const {
        const double w = box.urx - box.llx, h = box.ury - box.lly, x = box.llx, y = box.lly;
        const double m[4][6] = {
            {w, 0, 0, h, x, y}, {0, h, -w, 0, x + w, y}, {-w, 0, 0, -h, x + w, y + h}, {0, -h, w, 0, x, y + h}};
        std::string out;
        for (double v : m[quarters])
            out += std::to_string(v) + ' ';
        return out + "cm";
    }
};

Shown shown(QPDFPageObjectHelper& page) {
    const Rect letter(0, 0, 612, 792);
    const Rect media = normalised(page.getAttribute("/MediaBox", false), letter);
    Rect box = media;
    QPDFObjectHandle crop = page.getAttribute("/CropBox", false);
    if (crop.isRectangle()) {
        const Rect c = normalised(crop, media);
        const Rect cut(std::max(c.llx, media.llx), std::max(c.lly, media.lly), std::min(c.urx, media.urx),
                       std::min(c.ury, media.ury));
        if (cut.urx > cut.llx && cut.ury > cut.lly)
            box = cut;
    }
    QPDFObjectHandle rotate = page.getAttribute("/Rotate", false);
    int quarters = rotate.isInteger() ? int(rotate.getIntValue() / 90 % 4) : 0;
    if (quarters < 0)
        quarters += 4;
    return {box, quarters};
}

bool near(double a, double b) {
    return std::abs(a - b) <= std::max(1.0, 0.01 * std::abs(b));
}

// Where the annotations of a page whose geometry changed go: from its space as shown to the new page, scaled
// when the picture is not the page's size (a cropped or resized page: the best we know).
struct Move {
    Shown from;
    double scaleX = 1, scaleY = 1;

    void point(double x, double y, double* nx, double* ny) const {
        from.toShown(x, y, nx, ny);
        *nx *= scaleX;
        *ny *= scaleY;
    }
    void annotation(QPDFObjectHandle annot) const {
        QPDFObjectHandle rect = annot.getKey("/Rect");
        if (rect.isRectangle()) {
            const Rect r = rect.getArrayAsRectangle();
            double x0, y0, x1, y1;
            point(r.llx, r.lly, &x0, &y0);
            point(r.urx, r.ury, &x1, &y1);
            annot.replaceKey("/Rect", QPDFObjectHandle::newArray(Rect(std::min(x0, x1), std::min(y0, y1),
                                                                      std::max(x0, x1), std::max(y0, y1))));
        }
        QPDFObjectHandle quads = annot.getKey("/QuadPoints");
        if (quads.isArray() && quads.getArrayNItems() % 2 == 0) {
            std::vector<QPDFObjectHandle> moved;
            for (int i = 0; i + 1 < quads.getArrayNItems(); i += 2) {
                double x = 0, y = 0;
                if (!quads.getArrayItem(i).getValueAsNumber(x) || !quads.getArrayItem(i + 1).getValueAsNumber(y))
                    return;
                double nx, ny;
                point(x, y, &nx, &ny);
                moved.push_back(QPDFObjectHandle::newReal(nx, 3));
                moved.push_back(QPDFObjectHandle::newReal(ny, 3));
            }
            annot.replaceKey("/QuadPoints", QPDFObjectHandle::newArray(moved));
        }
    }
};

// A link to a place in this document: it shows nothing and says nothing of the page it sits on.
bool internalLink(QPDFObjectHandle annot) {
    if (!annot.getKey("/Subtype").isNameAndEquals("/Link"))
        return false;
    QPDFObjectHandle action = annot.getKey("/A");
    if (action.isNull())
        return !annot.getKey("/Dest").isNull();
    return action.isDictionary() && action.getKey("/S").isNameAndEquals("/GoTo") && action.getKey("/Next").isNull();
}

void keepStructKey(QPDFObjectHandle dict, const char* key, Leftovers* left) {
    QPDFObjectHandle value = dict.getKey(key);
    if (value.isInteger())
        left->structKeys.insert(value.getIntValue());
}

// Whether the form's top level lists the field.
bool topField(QPDFObjectHandle fields, QPDFObjectHandle field) {
    if (!fields.isArray())
        return false;
    for (int i = 0; i < fields.getArrayNItems(); ++i)
        if (fields.getArrayItem(i).isIndirect() && fields.getArrayItem(i).getObjGen() == field.getObjGen())
            return true;
    return false;
}

// The replaced page's own copies of the annotations other pages list too, made before anything in them
// changes, so that those pages keep theirs as they were.
class Copies {
public:
    Copies(QPDF& pdf, QPDFObjectHandle page, Listings* listed) : pdf(pdf), page(page), listed(listed) {}

    // The annotation itself when the page alone lists it, else a copy of it for the page.
    QPDFObjectHandle own(QPDFObjectHandle annot) {
        // A direct one may sit in an array of annotations that other pages list as well.
        if (!annot.isIndirect())
            return annot.shallowCopy();
        if (listed->pages(annot) < 2)
            return annot;
        QPDFObjectHandle copy = pdf.makeIndirectObject(annot.shallowCopy());
        listed->swap(annot, copy);
        // Its place in the structure tree is the original's.
        copy.removeKey("/StructParent");
        if (copy.hasKey("/P"))
            copy.replaceKey("/P", page);
        made.emplace_back(annot, copy);
        return copy;
    }

    // The copies point at each other where the originals did (a note and its pop-up), and a copied widget
    // joins its field, so that it shows and edits the same value.
    void finish() {
        std::map<QPDFObjGen, QPDFObjectHandle> copyOf;
        for (const auto& [annot, copy] : made)
            copyOf[annot.getObjGen()] = copy;
        QPDFObjectHandle form = pdf.getRoot().getKey("/AcroForm");
        QPDFObjectHandle fields = form.isDictionary() ? form.getKey("/Fields") : QPDFObjectHandle::newNull();
        for (auto& [annot, copy] : made) {
            for (const char* key : {"/Popup", "/Parent", "/IRT"}) {
                QPDFObjectHandle to = copy.getKey(key);
                if (to.isIndirect())
                    if (auto it = copyOf.find(to.getObjGen()); it != copyOf.end())
                        copy.replaceKey(key, it->second);
            }
            if (!copy.getKey("/Subtype").isNameAndEquals("/Widget"))
                continue;
            QPDFObjectHandle parent = copy.getKey("/Parent");
            if (parent.isDictionary() && parent.getKey("/Kids").isArray())
                parent.getKey("/Kids").appendItem(copy);
            else if (parent.isNull() && topField(fields, annot))
                fields.appendItem(copy);
        }
    }

private:
    QPDF& pdf;
    QPDFObjectHandle page;
    Listings* listed;
    std::vector<std::pair<QPDFObjectHandle, QPDFObjectHandle>> made;
};

// ---- forget()

constexpr int deepest = 200;

// Each indirect object is taken apart once: a tree that holds itself, or holds a node twice, costs no more
// than its size.
bool firstVisit(QPDFObjectHandle node, std::set<QPDFObjGen>* seen) {
    return !node.isIndirect() || seen->insert(node.getObjGen()).second;
}

// What a field's widgets are to the document after the edit.
struct FieldFate {
    // One of them was dropped with a replaced page.
    bool lost = false;
    // A page still lists one of them, or the field is one we cannot judge.
    bool shown = false;
};

// Takes out of a field array the fields that lost a widget and have none left that a page lists: nothing
// would show their value any more, and nothing should keep it in the file. The removed go into `removed`.
FieldFate pruneFields(QPDFObjectHandle fields, const Listings& listed, const Leftovers& left,
                      std::set<QPDFObjGen>* removed, std::set<QPDFObjGen>* seen, int depth) {
    FieldFate all;
    if (!fields.isArray() || depth > deepest)
        return {false, true};
    for (int i = fields.getArrayNItems() - 1; i >= 0; --i) {
        QPDFObjectHandle field = fields.getArrayItem(i);
        if (!field.isDictionary())
            continue;
        QPDFObjectHandle kids = field.getKey("/Kids");
        FieldFate fate;
        if (field.isIndirect() && left.annotations.count(field.getObjGen()))
            fate = {true, false};
        else if (kids.isArray() && kids.getArrayNItems() > 0 && firstVisit(field, seen))
            fate = pruneFields(kids, listed, left, removed, seen, depth + 1);
        else
            fate = {false, !field.isIndirect() || kids.isArray() || listed.pages(field) > 0};
        if (fate.lost && !fate.shown) {
            if (field.isIndirect())
                removed->insert(field.getObjGen());
            fields.eraseItem(i);
        }
        all.lost |= fate.lost;
        all.shown |= fate.shown;
    }
    return all;
}

bool replacedPage(QPDFObjectHandle page, const Leftovers& left) {
    return page.isIndirect() && left.pages.count(page.getObjGen());
}

// Takes the replaced pages' marked content and dropped annotations out of a structure element; true when the
// element had content and none is left, so that its parent drops it too.
bool pruneElement(QPDFObjectHandle element, QPDFObjectHandle page, const Leftovers& left, std::set<QPDFObjGen>* seen,
                  int depth);

bool kidGone(QPDFObjectHandle kid, QPDFObjectHandle page, const Leftovers& left, std::set<QPDFObjGen>* seen,
             int depth) {
    if (kid.isInteger())
        return replacedPage(page, left);
    if (!kid.isDictionary())
        return false;
    QPDFObjectHandle type = kid.getKey("/Type");
    if (type.isNameAndEquals("/MCR")) {
        QPDFObjectHandle own = kid.getKey("/Pg");
        return replacedPage(own.isNull() ? page : own, left);
    }
    if (type.isNameAndEquals("/OBJR")) {
        QPDFObjectHandle object = kid.getKey("/Obj");
        return object.isIndirect() && left.annotations.count(object.getObjGen());
    }
    return pruneElement(kid, page, left, seen, depth + 1);
}

bool pruneElement(QPDFObjectHandle element, QPDFObjectHandle page, const Leftovers& left, std::set<QPDFObjGen>* seen,
                  int depth) {
    if (!element.isDictionary() || depth > deepest || !firstVisit(element, seen))
        return false;
    // Marked content is on the element's own page, else on the nearest one above it that names a page.
    if (QPDFObjectHandle own = element.getKey("/Pg"); !own.isNull())
        page = own;
    QPDFObjectHandle kids = element.getKey("/K");
    bool gone = false;
    if (kids.isArray()) {
        const int had = kids.getArrayNItems();
        for (int i = had - 1; i >= 0; --i)
            if (kidGone(kids.getArrayItem(i), page, left, seen, depth))
                kids.eraseItem(i);
        gone = had > 0 && kids.getArrayNItems() == 0;
    } else if (!kids.isNull()) {
        gone = kidGone(kids, page, left, seen, depth);
    }
    if (gone) {
        // It may still be reachable by its identifier: it keeps no word of what it described.
        element.replaceKey("/K", QPDFObjectHandle::newArray());
        for (const char* key : {"/Alt", "/ActualText", "/E", "/T"})
            element.removeKey(key);
    }
    return gone;
}

} // namespace

Listings::Listings(const std::vector<QPDFPageObjectHelper>& pages) {
    for (QPDFPageObjectHelper page : pages) {
        QPDFObjectHandle annots = page.getObjectHandle().getKey("/Annots");
        if (!annots.isArray())
            continue;
        std::set<QPDFObjGen> here;
        for (QPDFObjectHandle annot : annots.getArrayAsVector())
            if (annot.isIndirect() && here.insert(annot.getObjGen()).second)
                ++count[annot.getObjGen()];
    }
}

int Listings::pages(QPDFObjectHandle annot) const {
    const auto it = annot.isIndirect() ? count.find(annot.getObjGen()) : count.end();
    return it == count.end() ? 0 : it->second;
}

bool Listings::leave(QPDFObjectHandle annot) {
    const auto it = count.find(annot.getObjGen());
    return it == count.end() || --it->second <= 0;
}

void Listings::swap(QPDFObjectHandle annot, QPDFObjectHandle copy) {
    leave(annot);
    count[copy.getObjGen()] = 1;
}

void replace(QPDF& pdf, QPDFPageObjectHelper page, const Picture& picture, Listings* listed, Leftovers* left) {
    QPDFObjectHandle dict = page.getObjectHandle();
    const Shown before = shown(page);
    // A picture of the page as shown keeps the page's boxes and rotation: the picture is laid on it turned
    // back, and every annotation stays where it was. Another size gets a page of its own size.
    const bool sameSize = near(picture.width, before.width()) && near(picture.height, before.height());
    std::string placing;
    if (sameSize) {
        placing = before.placing();
    } else {
        for (const char* box : {"/CropBox", "/BleedBox", "/TrimBox", "/ArtBox", "/Rotate", "/UserUnit"})
            dict.removeKey(box);
        const Rect size(0, 0, picture.width, picture.height);
        dict.replaceKey("/MediaBox", QPDFObjectHandle::newArray(size));
        // What the pages above it would hand down no longer fits.
        if (!page.getAttribute("/CropBox", false).isNull())
            dict.replaceKey("/CropBox", QPDFObjectHandle::newArray(size));
        if (!page.getAttribute("/Rotate", false).isNull())
            dict.replaceKey("/Rotate", QPDFObjectHandle::newInteger(0));
        placing = Shown{size, 0}.placing();
    }
    const Move move{before, picture.width / std::max(before.width(), 1.0),
                    picture.height / std::max(before.height(), 1.0)};

    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    xobjects.replaceKey("/Im0", picture.image);
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    // Replaced, never changed: the old ones may be shared with pages that stay as they are.
    dict.replaceKey("/Resources", resources);
    dict.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, "q " + placing + " /Im0 Do Q"));
    // Pictures, private data and notes of the old drawing, and its place in the structure tree.
    keepStructKey(dict, "/StructParents", left);
    for (const char* key : {"/Thumb", "/PieceInfo", "/LastModified", "/Metadata", "/SeparationInfo", "/Group",
                            "/StructParents", "/ID", "/PZ"})
        dict.removeKey(key);

    QPDFObjectHandle annots = dict.getKey("/Annots");
    if (annots.isArray()) {
        const bool changing = picture.redacted || !sameSize;
        Copies copies(pdf, dict, listed);
        std::vector<QPDFObjectHandle> kept;
        std::set<QPDFObjGen> here;
        for (QPDFObjectHandle annot : annots.getArrayAsVector()) {
            // Listed twice, it would be moved twice.
            if (!annot.isDictionary() || (annot.isIndirect() && !here.insert(annot.getObjGen()).second))
                continue;
            if (picture.redacted && !internalLink(annot)) {
                // One that another page lists too shows there: it stays, with its field and its tag.
                if (!annot.isIndirect() || listed->leave(annot)) {
                    if (annot.isIndirect())
                        left->annotations.insert(annot.getObjGen());
                    keepStructKey(annot, "/StructParent", left);
                }
                continue;
            }
            if (changing)
                annot = copies.own(annot);
            if (picture.redacted)
                annot.removeKey("/Contents");
            if (!sameSize)
                move.annotation(annot);
            kept.push_back(annot);
        }
        copies.finish();
        if (kept.empty())
            dict.removeKey("/Annots");
        else
            dict.replaceKey("/Annots", QPDFObjectHandle::newArray(kept));
    }
    left->pages.insert(dict.getObjGen());
}

void forget(QPDF& pdf, const Listings& listed, const Leftovers& left) {
    QPDFObjectHandle root = pdf.getRoot();
    QPDFObjectHandle form = root.getKey("/AcroForm");
    if (form.isDictionary() && !left.annotations.empty()) {
        std::set<QPDFObjGen> removed, seen;
        pruneFields(form.getKey("/Fields"), listed, left, &removed, &seen, 0);
        // The calculation order names fields too, and would keep them.
        QPDFObjectHandle order = form.getKey("/CO");
        if (order.isArray())
            for (int i = order.getArrayNItems() - 1; i >= 0; --i) {
                QPDFObjectHandle field = order.getArrayItem(i);
                if (field.isIndirect() && removed.count(field.getObjGen()))
                    order.eraseItem(i);
            }
    }
    QPDFObjectHandle tree = root.getKey("/StructTreeRoot");
    if (!tree.isDictionary() || left.pages.empty())
        return;
    try {
        std::set<QPDFObjGen> seen;
        QPDFObjectHandle kids = tree.getKey("/K");
        if (kids.isArray()) {
            for (int i = kids.getArrayNItems() - 1; i >= 0; --i)
                if (pruneElement(kids.getArrayItem(i), QPDFObjectHandle::newNull(), left, &seen, 0))
                    kids.eraseItem(i);
        } else if (pruneElement(kids, QPDFObjectHandle::newNull(), left, &seen, 0)) {
            tree.replaceKey("/K", QPDFObjectHandle::newArray());
        }
        QPDFObjectHandle parents = tree.getKey("/ParentTree");
        if (parents.isDictionary()) {
            QPDFNumberTreeObjectHelper numbers(parents, pdf);
            for (const long long key : left.structKeys)
                numbers.remove(key);
        }
    } catch (const std::exception&) {
        // A structure tree too damaged to take apart goes whole: the document loses its tags, not the edit,
        // and keeps nothing of the replaced pages through it.
        root.removeKey("/StructTreeRoot");
    }
}

} // namespace PageSwap
