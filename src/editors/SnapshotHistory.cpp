#include "editors/SnapshotHistory.h"

void SnapshotHistory::registerUndo(std::function<void()> action) {
    switch (running) {
    case Running::Undo:
        redoStack.push_back(std::move(action));
        break;
    case Running::Redo:
        undoStack.push_back(std::move(action));
        break;
    case Running::Nothing:
        undoStack.push_back(std::move(action));
        redoStack.clear();
        break;
    }
}

void SnapshotHistory::undo() {
    if (undoStack.empty() || running != Running::Nothing)
        return;
    auto action = std::move(undoStack.back());
    undoStack.pop_back();
    running = Running::Undo;
    action();
    running = Running::Nothing;
}

void SnapshotHistory::redo() {
    if (redoStack.empty() || running != Running::Nothing)
        return;
    auto action = std::move(redoStack.back());
    redoStack.pop_back();
    running = Running::Redo;
    action();
    running = Running::Nothing;
}

void SnapshotHistory::clear() {
    undoStack.clear();
    redoStack.clear();
}
