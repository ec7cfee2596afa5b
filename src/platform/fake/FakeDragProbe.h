#pragma once
// A drag the test stages by hand: the pointer, the drag's count and files, and a clock it winds.

#include "platform/DragProbe.h"

class FakeDragProbe final : public DragProbe {
public:
    Pointer pointer() override { return state; }
    qint64 changeCount() override { return count; }
    std::optional<QList<QUrl>> fileURLs() override {
        ++fileReads;
        return files;
    }
    qint64 now() override { return clock; }
    void nudgePointer() override { ++nudges; }

    // A new drag of these files starts: the selection changes hands.
    void beginDrag(const QList<QUrl>& urls) {
        ++count;
        files = urls;
    }

    Pointer state;
    qint64 count = 0;
    std::optional<QList<QUrl>> files;
    qint64 clock = 1000;
    int fileReads = 0; // how often the files were asked for
    int nudges = 0;
};
